#!/usr/bin/env bash
# Scan speed on a 64 MiB DDR binary whose parameter block lies at the very end: report mode of
# the tool against `cat FILE > /dev/null` on the same file, alternating, medians of RUNS runs.
#   scripts/bench_scan.sh TOOL [RUNS]
set -euo pipefail
tool=${1:?usage: bench_scan.sh TOOL [RUNS]}
runs=${2:-15}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
big=$work/big64.bin

/usr/bin/python3 - "$here/examples/tq6583_ddr_v2.bin" "$big" <<'PY'
import random, struct, sys
sample = open(sys.argv[1], "rb").read()
n = 64 * 1024 * 1024 - len(sample)
n -= n % 4
body = bytearray(random.Random(3).randbytes(n))
tag = struct.pack("<I", 0x12345678)
i = body.find(tag)
while i != -1:           # the only tag is the sample's, at the end
    body[i] ^= 0xFF
    i = body.find(tag, i)
open(sys.argv[2], "wb").write(bytes(body) + sample)
PY

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
: > "$work/tool.ns"; : > "$work/cat.ns"
cat "$big" > /dev/null  # warm the page cache
for _ in $(seq "$runs"); do
  t0=$(now); "$tool" tq6583 -g "$work/report.txt" "$big" > /dev/null; t1=$(now)
  cat "$big" > /dev/null; t2=$(now)
  echo $((t1 - t0)) >> "$work/tool.ns"; echo $((t2 - t1)) >> "$work/cat.ns"
done
grep -q '^ddr3_freq=1056$' "$work/report.txt" || { echo "bench_scan: the block at the end was not found" >&2; exit 1; }
tool_ms=$(median < "$work/tool.ns" | awk '{printf "%.2f", $1 / 1e6}')
cat_ms=$(median < "$work/cat.ns" | awk '{printf "%.2f", $1 / 1e6}')
awk -v t="$tool_ms" -v c="$cat_ms" 'BEGIN {
  printf "scan of 64 MiB, block at the end: tool %.2f ms, cat %.2f ms (medians), ratio %.2f, %.0f MiB/s\n", t, c, t / c, 64 / (t / 1000)
}'
