#!/usr/bin/env bash
# Builds and installs the project for a CPython 3.8 (the hosts' interpreter: the module's source
# must stay within the 3.8 C API) and runs the module's pytest suite (tests/module) and the Python
# package's (tests/python) there.
#   scripts/check_py38.sh [BUILD_DIR]        (PY38=/path/to/python3.8 to choose the interpreter;
#                                            VEXDRAM_DIST=DIR to build only the two modules, beside DIR's programs)
# The run uses Debian's pytest, which is pure Python: its packages are put on PYTHONPATH through a
# directory of links, without the rest of Debian's dist-packages. There is no pandas for 3.8
# here, so a stand-in (tests/module/standin/pandas: enough for the import) takes its place and
# the get_cfg_file tests skip. Exits 0 with a "skipped" message when no 3.8 is found.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-py38}

py38=${PY38:-}
if [ -z "$py38" ]; then
  for candidate in "$HOME"/.pyenv/versions/3.8*/bin/python3 "$(command -v python3.8 || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      py38=$candidate
      break
    fi
  done
fi
if [ -z "$py38" ] || ! "$py38" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 8))' 2>/dev/null; then
  echo "check_py38: skipped (no CPython 3.8 found; set PY38 to point at one)"
  exit 0
fi

echo "check_py38: building and installing for $("$py38" -VV | head -1)"
cmake -S . -B "$build" -DPython3_EXECUTABLE="$py38" -DVEXDRAM_TESTS=OFF -DVEXDRAM_BENCH=OFF >/dev/null
rm -rf "$build/dist"
if [ -n "${VEXDRAM_DIST:-}" ]; then
  # The programs and the library do not depend on the interpreter: only the two modules are
  # built for 3.8, beside a copy of the given install tree.
  cmake --build "$build" -j"$(nproc)" --target dramforge vexdram_python >/dev/null
  cp -a "$VEXDRAM_DIST" "$build/dist"
  rm -f "$build"/dist/dramforge.cpython-*.so "$build"/dist/vexdram.cpython-*.so
  cp "$build"/module/dramforge.cpython-38*.so "$build"/python/vexdram.cpython-38*.so "$build/dist/"
else
  cmake --build "$build" -j"$(nproc)" >/dev/null
  cmake --install "$build" --prefix "$build/dist" >/dev/null
fi
for module in dramforge vexdram; do
  if ! ls "$build"/dist/$module.cpython-38*.so >/dev/null 2>&1; then
    echo "check_py38: FAILED: no 3.8 extension module $module installed in $build/dist" >&2
    exit 1
  fi
done

# In /tmp, so that a child run as an ordinary user reaches it wherever the checkout lies.
site=$(mktemp -d "${TMPDIR:-/tmp}/vexdram-py38.XXXXXX")
trap 'rm -rf "$site"' EXIT
chmod 755 "$site"
for package in python3-pytest python3-pluggy python3-iniconfig python3-packaging \
               python3-exceptiongroup python3-tomli python3-attr; do
  entries=$(dpkg -L "$package" 2>/dev/null | grep -E '^/usr/lib/python3/dist-packages/[^/]+$' || true)
  if [ -z "$entries" ]; then
    echo "check_py38: FAILED: $package is not installed (scripts/setup.sh installs it)" >&2
    exit 1
  fi
  for entry in $entries; do ln -s "$entry" "$site/"; done
done
cp -r tests/module/standin/pandas "$site/"

# 3.8 starts child processes at half the speed of 3.11: the memory test makes 500 calls per loop
# instead of 2000 there (a leak of one block per call still shows).
echo "check_py38: pytest tests/module tests/python under $("$py38" -V), pandas replaced by a stand-in"
# (one run each: both folders have a conftest of their own)
for tests in tests/module tests/python; do
  PYTHONPATH="$site" VEXDRAM_DIST="$(cd "$build" && pwd)/dist" VEXDRAM_MEMORY_CALLS=${VEXDRAM_MEMORY_CALLS:-500} \
    PYTHONDONTWRITEBYTECODE=1 "$py38" -m pytest -q -rs -p no:cacheprovider "$tests"
done
