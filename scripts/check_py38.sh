#!/usr/bin/env bash
# Compiles the dramforge module against a CPython 3.8 (the hosts' interpreter) and imports it
# there: the source must stay within the 3.8 C API. Without pandas in that 3.8 the import must
# end in ModuleNotFoundError for pandas, which proves the module itself loaded and ran its
# initialisation up to the pandas import.
#   scripts/check_py38.sh [BUILD_DIR]        (PY38=/path/to/python3.8 to choose the interpreter)
# Exits 0 with a "skipped" message when no 3.8 is found; 3.8 is never required.
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

echo "check_py38: building dramforge against $("$py38" -VV | head -1)"
cmake -S . -B "$build" -DPython3_EXECUTABLE="$py38" -DVEXDRAM_TESTS=OFF -DVEXDRAM_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target dramforge

module=$(find "$build" -name 'dramforge.cpython-38*.so' -print -quit)
if [ -z "$module" ]; then
  echo "check_py38: FAILED: no 3.8 extension module built in $build" >&2
  exit 1
fi

result=$("$py38" - "$(dirname "$module")" <<'EOF'
import sys
sys.path.insert(0, sys.argv[1])
try:
    import pandas  # noqa: F401
    have_pandas = True
except ImportError:
    have_pandas = False
try:
    import dramforge
except ModuleNotFoundError as e:
    print("missing:" + str(e.name) if not have_pandas else "unexpected:" + repr(e))
except Exception as e:  # noqa: BLE001
    print("unexpected:" + repr(e))
else:
    ok = have_pandas and [n for n in vars(dramforge.dramforge) if not n.startswith("__")] == [
        "check_if_loadr_file", "get_loader_param", "get_cfg_file", "loader_unpack",
        "loader_pack", "get_ddr_params", "update_ddr_bin", "cpmpare_ddr_param"]
    print("imported" if ok else "unexpected: imported without pandas or with another class")
EOF
)
# With an empty stand-in for pandas the frame completes: check the class as 3.8 sees it.
frame=$("$py38" - "$(dirname "$module")" <<'EOF'
import inspect, sys, types
sys.modules.setdefault("pandas", types.ModuleType("pandas"))
sys.path.insert(0, sys.argv[1])
import dramforge
cls = dramforge.dramforge
fn = cls.get_ddr_params
sig = str(inspect.signature(fn))
try:
    cls.cpmpare_ddr_param(1)
    raised = False
except TypeError:
    raised = True
ok = (fn.__qualname__ == "dramforge.get_ddr_params" and fn.__module__ == "dramforge"
      and sig == "(ddr_bin_file_path, chip_name='NULL', chip_other='NULL')"
      and fn.__doc__.startswith("\n        ") and cls.loader_pack.__doc__ is None and raised)
print("frame-ok" if ok else "frame-bad: " + sig)
EOF
)
if [ "$frame" != frame-ok ]; then
  echo "check_py38: FAILED: $frame" >&2
  exit 1
fi

case "$result" in
  missing:pandas)
    echo "check_py38: ok: $module loads in 3.8 (import stops at the missing pandas, as it must;"
    echo "            with a stand-in pandas the class, signatures and argument checks hold)" ;;
  imported)
    echo "check_py38: ok: $module imports in 3.8 with pandas" ;;
  *)
    echo "check_py38: FAILED: $result" >&2
    exit 1 ;;
esac
