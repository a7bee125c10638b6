# Cross-building the Windows x64 programs with MinGW-w64 (Debian's posix-threads flavour).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Every .exe stands alone: libstdc++, libgcc and winpthread linked in, only system DLLs imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Tests run the programs under Wine (Debian keeps wine64 out of PATH), through the rule that runs
# once more a start that Wine itself failed (tests/wine_runs.py).
find_program(VEXDRAM_WINE NAMES wine64 wine PATHS /usr/lib/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/../tests/wine_runs.py ${VEXDRAM_WINE})
