#!/usr/bin/env bash
# Runs vexdram_tool under valgrind memcheck on every bundled sample, in report mode and then in
# modify mode on a copy, with the report as the parameter file. Any memcheck error or leak
# (definite or possible) fails the run, and so does a copy that comes out changed.
#   scripts/valgrind.sh TOOL        e.g. scripts/valgrind.sh dist/resource/tools/vexdram_tool
# The chip is the sample's file name up to the first "_". Skips (exit 0) without valgrind.
set -uo pipefail
if [ $# -ne 1 ] || [ ! -x "$1" ]; then
  echo "usage: scripts/valgrind.sh PATH/TO/vexdram_tool" >&2
  exit 2
fi
tool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
cd "$(dirname "$0")/.."
if ! command -v valgrind >/dev/null; then
  echo "valgrind: SKIPPED: valgrind is not installed"
  exit 0
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/vexdram-valgrind.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

memcheck() {  # LOG ARGS...
  local log=$1
  shift
  valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
    --errors-for-leak-kinds=definite,possible --show-leak-kinds=definite,possible \
    --log-file="$log" "$tool" "$@" >"$log.out" 2>&1
}

failed=0
samples=(examples/*.bin)
[ -e "${samples[0]}" ] || { echo "valgrind: no samples in examples/"; exit 1; }
for bin in "${samples[@]}"; do
  # A loader container ("BOOT" or "LDR " and the byte 0x66) holds a DDR binary; it is not one.
  case "$(head -c 5 "$bin" | od -An -c | tr -d ' ')" in BOOTf | LDRf) continue ;; esac
  name=$(basename "$bin")
  chip=${name%%_*}
  dir="$work/${name%.bin}"
  mkdir -p "$dir"
  # The copy keeps its file name: the tool reads the chip family from the binary's path.
  cp "$bin" "$dir/$name"
  for mode in report modify; do
    if [ $mode = report ]; then
      memcheck "$dir/report.vg" "$chip" -g "$dir/report.txt" "$dir/$name"
    else
      memcheck "$dir/modify.vg" "$chip" "$dir/report.txt" "$dir/$name"
    fi
    rc=$?
    if [ $rc -eq 0 ] && [ $mode = report ] && ! grep -q '^end$' "$dir/report.txt" 2>/dev/null; then
      rc=1
      echo "  no complete report" >>"$dir/report.vg"
    fi
    if [ $rc -eq 0 ] && [ $mode = modify ] && ! grep -q '^modify end$' "$dir/modify.vg.out"; then
      rc=1
      echo "  no complete modify run" >>"$dir/modify.vg"
    fi
    # The binary's own report, merged back, changes nothing.
    if [ $rc -eq 0 ] && [ $mode = modify ] && ! cmp -s "$bin" "$dir/$name"; then
      rc=1
      echo "  no complete modify run: merging the report changed the binary" >>"$dir/modify.vg"
    fi
    if [ $rc -eq 0 ]; then
      echo "valgrind: ok    $chip $mode $name"
    else
      failed=1
      echo "valgrind: FAIL  $chip $mode $name (exit $rc)"
      grep -E '^==[0-9]+== (Invalid|Conditional|Use of|Syscall|.*definitely|.*possibly|ERROR SUMMARY)|no complete' \
        "$dir/$mode.vg" | head -20
      tail -5 "$dir/$mode.vg.out"
    fi
  done
done
exit $failed
