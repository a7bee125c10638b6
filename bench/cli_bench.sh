#!/usr/bin/env bash
# vexdram against vexdram_tool, timed with hyperfine (Debian's package):
#   apply in place  one `vexdram apply P FILE... --in-place` over N copies of a sample, against
#                   running vexdram_tool on each copy in turn;
#   apply to new files  `vexdram apply P FILE... --out-dir OUT` against copying each file to OUT
#                   and running vexdram_tool on the copy;
#   get             `vexdram get F ddr3_freq` against a report run `vexdram_tool CHIP -g R F`.
# Both sync every output before they end: vexdram syncs its outputs together, the tool each
# binary on its own. The work directory is TMPDIR (default /tmp): the file system decides what a
# sync and a new file cost.
#   bench/cli_bench.sh [DIST [N [RUNS]]]      defaults: dist, 1000 copies, 5 runs (100 for get)
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
cp -r src m1 && cp -r src m2 && mkdir m3
"$tools/vexdram" apply p.txt m1/*.bin --in-place > /dev/null
for f in m2/*.bin; do "$tools/vexdram_tool" tq6951 p.txt "$f" > /dev/null; done
"$tools/vexdram" apply p.txt src/*.bin --out-dir m3 > /dev/null
last=tq6951_$(seq -w 1 "$n" | tail -1).bin
[ "$("$tools/vexdram" get "m1/$last" ddr3_freq)" = 933 ] && cmp -s "m1/$last" "m2/$last" && cmp -s "m1/$last" "m3/$last" ||
  { echo "cli_bench: the two did not write the same" >&2; exit 1; }
# pair NAME RUNS HYPERFINE-OPTION... -- A B: hyperfine on the two commands; prints the medians of A
# and B in ms, into $a and $b.
pair() {
  local name=$1 count=$2
  shift 2
  hyperfine --style none --runs "$count" --export-json "$name.json" "$@" >/dev/null
  a=$(median "$name.json" 0)
  b=$(median "$name.json" 1)
}
ratio() {  # WHAT: the medians of the last pair and how many times faster A is
  awk -v a="$a" -v b="$b" -v what="$1" 'BEGIN { printf "%s: %.0f ms against %.0f ms (medians), %.1fx faster\n", what, a, b, b / a }'
}

# Each run works in fresh folders, and nothing is deleted until the end: on a file system that
# will not reuse an inode for a while after it was freed (ext4 without a journal), files removed
# just before would make every new file of the next run slow to create.
pair inplace "$runs" \
  --prepare 'i=$(cat run 2>/dev/null || echo 0); echo $((i + 1)) > run; cp -r src a$i && cp -r src b$i && ln -sfn a$i a && ln -sfn b$i b' \
  "'$tools/vexdram' apply p.txt a/*.bin --in-place > /dev/null" \
  "for f in b/*.bin; do '$tools/vexdram_tool' tq6951 p.txt \"\$f\" > /dev/null; done"
ratio "apply in place over $n binaries: vexdram, then vexdram_tool $n times"

pair new "$runs" \
  --prepare 'i=$(cat run); echo $((i + 1)) > run; mkdir a$i b$i && ln -sfn a$i a && ln -sfn b$i b' \
  "'$tools/vexdram' apply p.txt src/*.bin --out-dir a > /dev/null" \
  "for f in src/*.bin; do cp \"\$f\" b/ && '$tools/vexdram_tool' tq6951 p.txt \"b/\${f#src/}\" > /dev/null; done"
ratio "apply to new files, $n binaries: vexdram, then cp and vexdram_tool $n times"

pair get "$((runs * 20))" --warmup 10 -N \
  "'$tools/vexdram' get '$sample' ddr3_freq" \
  "'$tools/vexdram_tool' tq6951 -g '$work/r.txt' '$sample'"
awk -v a="$a" -v b="$b" 'BEGIN { printf "get on a sample: vexdram %.2f ms, vexdram_tool -g %.2f ms (medians), ratio %.2f\n", a, b, a / b }'
