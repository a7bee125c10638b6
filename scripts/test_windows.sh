#!/usr/bin/env bash
# The Windows programs under Wine: builds them (scripts/build_windows.sh), runs the core's unit
# tests cross-built for Windows, then compares the .exe files with the Linux programs of DIST
# (tests/windows: the differential test and the cases only Windows has) and runs vexdram's own
# tests against vexdram.exe (tests/cli with VEXDRAM_EXE; what only Linux has is skipped).
#   scripts/test_windows.sh [DIST_DIR]       (the Linux host directory, default dist/)
set -euo pipefail
cd "$(dirname "$0")/.."
dist=${1:-dist}
build=build-win
scripts/build_windows.sh "$build" dist-win >/dev/null
# Wine headless and quiet but for its own failure to start (a run that shows it is run once
# more, tests/wine_runs.py), its prefix inside the build folder (made on the first start)
export WINEPREFIX="$PWD/$build/wine" WINEDEBUG=-all,err+virtual LANG=C.UTF-8
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(dirname "$wine")/wineserver
trap '"$wineserver" -k 2>/dev/null || true' EXIT
# The first program makes the prefix and brings up Wine's background programs, which would keep
# its output pipes open (and ctest waiting): that one writes nowhere. Then the server stays for
# the whole run (a program starts in a fifth of a second), already running or not.
"$wine" dist-win/resource/tools/vexdram_tool.exe </dev/null >/dev/null 2>&1 || true
"$wineserver" -p 2>/dev/null || true
ctest --test-dir "$build" --output-on-failure -R '^vexdram_windows_tests$'
VEXDRAM_DIST="$PWD/$dist" VEXDRAM_DIST_WIN="$PWD/dist-win" VEXDRAM_BUILD_WIN="$PWD/$build" \
  /usr/bin/python3 -m pytest -q -rs tests/windows
VEXDRAM_DIST="$PWD/$dist" VEXDRAM_EXE="$PWD/dist-win/resource/tools/vexdram.exe" \
  /usr/bin/python3 -m pytest -q -rs tests/cli
