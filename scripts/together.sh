#!/usr/bin/env bash
# Runs its arguments, each a shell command, at the same time; prints each one's output whole, in
# the order given, and exits 1 if any of them failed (naming it).
#   scripts/together.sh 'COMMAND 1' 'COMMAND 2' ...
# A test suite that starts one program after another keeps one core busy: two of them together
# keep both.
set -uo pipefail
logs=$(mktemp -d "${TMPDIR:-/tmp}/vexdram-together.XXXXXX") || exit 1
# With job control on, a command started in the background keeps SIGINT and SIGQUIT as they
# were (a shell without it ignores them there, and so would every program the tests start).
set -m
pids=()
for i in $(seq 1 $#); do
  bash -c "${!i}" >"$logs/$i" 2>&1 </dev/null &
  pids+=($!)
done
# Ctrl+C or a kill of this script ends the commands too.
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$logs"' EXIT
failed=0
for i in $(seq 1 $#); do
  wait "${pids[$((i - 1))]}"
  status=$?
  printf -- '--- %s\n' "${!i}"
  cat "$logs/$i"
  if [ "$status" -ne 0 ]; then
    printf -- '--- FAILED (status %d): %s\n' "$status" "${!i}"
    failed=1
  fi
done
exit "$failed"
