#!/usr/bin/env bash
# vexdram against vexdram_tool, timed with hyperfine (Debian's package):
#   apply  one `vexdram apply P FILE... --in-place` over N copies of a sample, against running
#          vexdram_tool on each copy in turn; both sync every output before they end (vexdram
#          syncs its outputs together, the tool each binary on its own);
#   get    `vexdram get F ddr3_freq` against a report run `vexdram_tool CHIP -g R F`.
#   bench/cli_bench.sh [DIST [N [RUNS]]]      defaults: dist, 1000 copies, 5 runs (20 for get)
# Prints each pair's medians and their ratio (vexdram_tool / vexdram for apply, the other way for get).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dist=$(cd "${1:-$here/dist}" && pwd)
n=${2:-1000}
runs=${3:-5}
command -v hyperfine >/dev/null || { echo "cli_bench: hyperfine is not installed (scripts/setup.sh)" >&2; exit 1; }
tools=$dist/resource/tools
sample=$here/examples/tq6951_ddr_v5.bin
work=$(mktemp -d "${TMPDIR:-/tmp}/vexdram-cli-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
for i in $(seq -w 1 "$n"); do cp "$sample" "$work/src/tq6951_$i.bin"; done
sed 's/^ddr3_freq=$/ddr3_freq=933/' "$here/examples/vexdram_param.txt" > "$work/p.txt"

median() {  # the median of one command of a hyperfine JSON export, in ms
  /usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]["median"] * 1000)' "$@"
}

cd "$work"
# once by hand: both change every copy
cp -r src a && cp -r src b
"$tools/vexdram" apply p.txt a/*.bin --in-place > /dev/null
for f in b/*.bin; do "$tools/vexdram_tool" tq6951 p.txt "$f" > /dev/null; done
last=tq6951_$(seq -w 1 "$n" | tail -1).bin
[ "$("$tools/vexdram" get "a/$last" ddr3_freq)" = 933 ] && cmp -s "a/$last" "b/$last" ||
  { echo "cli_bench: the two did not write the same" >&2; exit 1; }
hyperfine --style none --runs "$runs" --export-json apply.json \
  --prepare 'rm -rf a b && cp -r src a && cp -r src b' \
  "'$tools/vexdram' apply p.txt a/*.bin --in-place > /dev/null" \
  "for f in b/*.bin; do '$tools/vexdram_tool' tq6951 p.txt \"\$f\" > /dev/null; done" >/dev/null
a=$(median apply.json 0)
b=$(median apply.json 1)
awk -v a="$a" -v b="$b" -v n="$n" 'BEGIN { printf "apply over %d binaries: vexdram %.0f ms, vexdram_tool %d times %.0f ms (medians), %.1fx faster\n", n, a, n, b, b / a }'

hyperfine --style none --runs "$((runs * 4))" --warmup 3 --export-json get.json -N \
  "'$tools/vexdram' get '$sample' ddr3_freq" \
  "'$tools/vexdram_tool' tq6951 -g '$work/r.txt' '$sample'" >/dev/null
a=$(median get.json 0)
b=$(median get.json 1)
awk -v a="$a" -v b="$b" 'BEGIN { printf "get on a sample: vexdram %.2f ms, vexdram_tool -g %.2f ms (medians), ratio %.2f\n", a, b, a / b }'
