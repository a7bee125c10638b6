#!/usr/bin/env bash
# Cross-builds the Windows x64 programs with MinGW-w64 and lays out their host directory:
#   scripts/build_windows.sh [BUILD_DIR [DIST_DIR]]     (default build-win/ and dist-win/)
# DIST_DIR\resource\tools\vexdram_tool.exe, vexdram.exe and imgwelder.exe, each statically linked (only system
# DLLs imported), with the examples and the docs, as `cmake --install` lays out the Linux tree;
# the library for C++ programs as DIST_DIR\lib\libvexdram.a, its headers in DIST_DIR\include.
# The unit tests for Wine are built too (vexdram_windows_tests.exe; scripts/test_windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}
dist=${2:-dist-win}
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVEXDRAM_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target vexdram_tool vexdram imgwelder vexdram_static vexdram_windows_tests hold_file probe
rm -rf "$dist"
cmake --install "$build" --prefix "$dist" >/dev/null
x86_64-w64-mingw32-strip "$dist"/resource/tools/*.exe
ls "$dist"/resource/tools
