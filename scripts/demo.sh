#!/usr/bin/env bash
# Installs what is missing, builds, installs into dist/ and runs the main job on a bundled
# sample: report mode, then a modify run on a copy and the report's difference, the same edit with
# vexdram, then the demo host application driving the dramforge module.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build dist

dist=$PWD/dist
tool=$dist/resource/tools/vexdram_tool
sample=$dist/examples/tq6951_ddr_v5.bin
run=$PWD/demo-run
rm -rf "$run" && mkdir -p "$run"

echo
echo "=== report mode: $tool tq6951 -g $run/report.txt $sample"
"$tool" tq6951 -g "$run/report.txt" "$sample"
echo "report written to $run/report.txt ($(wc -l < "$run/report.txt") lines); its first lines:"
head -n 12 "$run/report.txt"

echo
echo "=== modify mode on a copy: ddr3_freq 1056 -> 933"
cp "$sample" "$run/tq6951_ddr_v5_copy.bin"
sed 's/^ddr3_freq=.*/ddr3_freq=933/' "$run/report.txt" > "$run/param.txt"
"$tool" tq6951 "$run/param.txt" "$run/tq6951_ddr_v5_copy.bin" | grep -E '^(version|chip|warning|modify end)|ddr3_freq'
"$tool" tq6951 -g "$run/report_after.txt" "$run/tq6951_ddr_v5_copy.bin" > /dev/null
echo "difference of the reports before and after:"
diff "$run/report.txt" "$run/report_after.txt" || true
echo "bytes that changed in the binary (offset, old, new, octal):"
cmp -l "$sample" "$run/tq6951_ddr_v5_copy.bin" || true

echo
echo "=== vexdram, for scripts: the same edit, checked, then written all or nothing"
vexdram=$dist/resource/tools/vexdram
"$vexdram" get "$sample" ddr3_freq lp4_freq
"$vexdram" set "$sample" ddr3_freq=933 -o "$run/tq6951_ddr_v5.bin"
cmp "$run/tq6951_ddr_v5.bin" "$run/tq6951_ddr_v5_copy.bin" && echo "the same bytes as vexdram_tool's modify run"
"$vexdram" set "$sample" ddr3_freq=0800 lp4_freq=5000 --dry-run || echo "(status $?: refused, nothing written)"
"$vexdram" diff "$sample" "$run/tq6951_ddr_v5.bin" || echo "(status $?: they differ)"

echo
echo "=== the dramforge module in a host application (/usr/bin/python3, run in $dist)"
(cd "$dist" && /usr/bin/python3 examples/demo_host.py)
