#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the C++ unit tests (CTest) of a normal build, installed into dist/ (with them: the
#      generated documents are up to date, the manual pages format without warnings);
#   2. the same C++ tests built with AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the module's pytest tests against the install tree (Debian's /usr/bin/python3), vexdram's
#      (equivalence with vexdram_tool, statuses, writes under fault injection, containers), the
#      examples of the host developers' reference (docs/dramforge.md, doctest in a copy of dist/),
#      the Python package vexdram's (the shared rule tables, a differential test against vexdram,
#      threads, leaks, docs/python.md as doctest, docs/library.md's C++ example built against the
#      install tree), then the studio's tests (HTTP, and its page in a headless Chromium);
#   4. the type stubs of dramforge and vexdram against the built modules (mypy's stubtest), and
#      mypy on the demo host and on the studio;
#   5. the Windows programs cross-built with MinGW-w64, their unit tests, and a comparison with
#      the Linux programs under Wine (scripts/test_windows.sh); at the same time
#   6. the module's and the package's pytest tests under CPython 3.8 where one exists; then the
#      packages (scripts/package.sh into dist-pkg/, the Windows zip too) and their checks
#      (tests/package);
#   7. the tool under valgrind's memcheck on every bundled sample, both modes;
#   8. each fuzz target for a bounded time (FUZZ_SECONDS, default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

step() { printf '\n=== %s  (at %dm%02ds)\n' "$*" $((SECONDS / 60)) $((SECONDS % 60)); }

step "setup"
scripts/setup.sh

step "build and install (build/, dist/)"
scripts/build.sh build dist
ctest --test-dir build --output-on-failure -j"$jobs"

step "sanitizer build (build-asan/)"
cmake -S . -B build-asan -DPython3_EXECUTABLE=/usr/bin/python3 -DCMAKE_BUILD_TYPE=Debug \
  -DVEXDRAM_SANITIZE=ON -DVEXDRAM_MODULE=OFF -DVEXDRAM_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

step "module tests and vexdram tests, together (pytest: the module; vexdram's equivalence with vexdram_tool, statuses, fault injection, containers)"
scripts/together.sh \
  'VEXDRAM_DIST="$PWD/dist" /usr/bin/python3 -m pytest -q -p no:cacheprovider --basetemp="${TMPDIR:-/tmp}/vexdram-pytest-module" tests/module' \
  'VEXDRAM_DIST="$PWD/dist" /usr/bin/python3 -m pytest -q -p no:cacheprovider --basetemp="${TMPDIR:-/tmp}/vexdram-pytest-cli" tests/cli'

step "the Python package vexdram and the C++ library (tests/python)"
VEXDRAM_DIST="$PWD/dist" /usr/bin/python3 -m pytest -q tests/python

step "host reference examples (docs/dramforge.md, doctest in a copy of dist/)"
scripts/check_reference.sh dist

step "studio tests (HTTP, headless Chromium)"
VEXDRAM_DIST="$PWD/dist" /usr/bin/python3 -m pytest -q tests/studio

step "types: stubs against the built module, mypy on the hosts"
PYTHONPATH="$PWD/dist" MYPYPATH="$PWD/dist" /usr/bin/python3 -m mypy.stubtest dramforge
PYTHONPATH="$PWD/dist" MYPYPATH="$PWD/dist" /usr/bin/python3 -m mypy.stubtest vexdram \
  --allowlist python/stubtest_allowlist.txt
MYPYPATH="$PWD/dist" /usr/bin/python3 -m mypy --strict --python-version 3.8 --no-incremental examples/demo_host.py
MYPYPATH="$PWD/dist" /usr/bin/python3 -m mypy --strict --no-incremental studio/vexdram_studio

step "Windows programs under Wine (build-win/, dist-win/), and beside them the module and package tests under CPython 3.8"
scripts/together.sh 'scripts/test_windows.sh dist' 'VEXDRAM_DIST="$PWD/dist" scripts/check_py38.sh build-py38'

step "packages (dist-pkg/) and their checks"
scripts/package.sh build
/usr/bin/python3 -m pytest -q -rs tests/package

step "valgrind memcheck on the bundled samples"
scripts/valgrind.sh dist/resource/tools/vexdram_tool

step "bounded fuzz runs"
scripts/fuzz.sh

step "all tests passed"
