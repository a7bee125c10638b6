#!/usr/bin/env bash
# Builds the libFuzzer targets in their own build directory and runs each for a bounded time,
# as many at a time as there are cores.
#   scripts/fuzz.sh [TARGET...]
#   FUZZ_SECONDS   seconds per target (default 20; with FUZZ_RUNS, no limit unless given)
#   FUZZ_RUNS      executions per target (default: as many as fit the time)
#   FUZZ_BUILD     build directory (default build-fuzz)
#   FUZZ_JOBS      targets run at a time (default: the number of cores)
# Skips (exit 0) when clang's fuzzer runtime is missing. Exits 1 on any crash, leak, timeout or
# broken invariant; the input is left in FUZZ_BUILD/artifacts/TARGET/ (copy it to
# tests/regressions/TARGET/ once fixed). The corpus grows in FUZZ_BUILD/corpus/TARGET/.
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${FUZZ_RUNS:--1}
seconds=${FUZZ_SECONDS:-$([ "$runs" -ge 0 ] && echo 0 || echo 20)}
build=${FUZZ_BUILD:-build-fuzz}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_tool_run fuzz_param_text fuzz_imgwelder_unpack fuzz_cli_equivalence)

# A full report is about 12 KB; the text reader sees 1023 characters at a time, 4 KB covers long lines.
declare -A max_len=([fuzz_tool_run]=12288 [fuzz_param_text]=4096 [fuzz_imgwelder_unpack]=8192 [fuzz_cli_equivalence]=4096)
# The text targets mutate with the catalogue's keys (written by make_seeds).
declare -A dict=([fuzz_tool_run]=keys.dict [fuzz_param_text]=keys.dict)

# Unpack syncs every file it writes: scratch space on tmpfs when there is one.
scratch_base=/dev/shm
[ -d "$scratch_base" ] && [ -w "$scratch_base" ] || scratch_base=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$scratch_base/vexdram-fuzz.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT

# The probe: can clang build and run a fuzzer with both sanitizers?
printf '#include <stddef.h>\n#include <stdint.h>\nint LLVMFuzzerTestOneInput(const uint8_t *d, size_t n) { return 0; }\n' >"$scratch/probe.c"
if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null ||
   ! clang -fsanitize=fuzzer,address,undefined "$scratch/probe.c" -o "$scratch/probe" >/dev/null 2>&1 ||
   ! "$scratch/probe" -runs=1 >/dev/null 2>&1; then
  echo "fuzz: SKIPPED: clang with its libFuzzer runtime (libclang-rt-dev) is not available"
  exit 0
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -DVEXDRAM_FUZZ=ON -DVEXDRAM_MODULE=OFF \
  -DVEXDRAM_TESTS=OFF -DVEXDRAM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" --target make_seeds "${targets[@]}" >"$scratch/build.log" 2>&1 ||
  { cat "$scratch/build.log"; exit 1; }
"$build/fuzz/make_seeds" "$scratch/seeds" >/dev/null || exit 1

# One target: runs it, writes its figures' line (and what it found) to $scratch/$t.out; fails on
# a crash, a leak, a timeout or a broken invariant.
run_target() {
  local t=$1 corpus="$build/corpus/$1" artifacts="$build/artifacts/$1" log="$build/$1.log"
  mkdir -p "$corpus" "$artifacts" "$scratch/$t"
  local before start=$SECONDS opts=() rc execs rate cov found
  before=$(ls "$artifacts" | wc -l)
  [ -n "${dict[$t]:-}" ] && opts+=(-dict="$scratch/seeds/${dict[$t]}")
  VEXDRAM_FUZZ_SCRATCH="$scratch/$t" "$build/fuzz/$t" -max_total_time="$seconds" -runs="$runs" \
    -max_len="${max_len[$t]:-8192}" -timeout=25 -print_final_stats=1 "${opts[@]}" \
    -artifact_prefix="$artifacts/" "$corpus" "$scratch/seeds/$t" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  found=$(( $(ls "$artifacts" | wc -l) - before ))
  {
    printf '%-22s %4ss  execs %-9s %6s/s  %-22s corpus %-5s crashes %s\n' "$t" $((SECONDS - start)) \
      "${execs:-?}" "${rate:-?}" "${cov:-cov: ? ft: ?}" "$(ls "$corpus" | wc -l)" "$found"
    if [ $rc -ne 0 ] || [ "$found" -ne 0 ]; then
      grep -E '^(==[0-9]+==ERROR|SUMMARY|fuzz_[a-z_]+:)|runtime error|Test unit written' "$log" | head -20
      echo "  full log: $log"
    fi
  } >"$scratch/$t.out"
  [ $rc -eq 0 ] && [ "$found" -eq 0 ]
}

# A libFuzzer run keeps one core busy: FUZZ_JOBS targets at a time (default: one a core).
jobs=${FUZZ_JOBS:-$(nproc)}
declare -A pid_of=()
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_target "$t" &
  pid_of[$t]=$!
done
failed=0
for t in "${targets[@]}"; do
  wait "${pid_of[$t]}" || failed=1
  cat "$scratch/$t.out"
done
exit $failed
