#!/usr/bin/env bash
# Long fuzz runs on demand: each target for FUZZ_SECONDS (default 600) or FUZZ_RUNS executions,
# as many at a time as there are cores (FUZZ_JOBS), with executions, exec/s, coverage (cov/ft at
# the end) and crashes printed per target.
#   scripts/fuzz_long.sh [TARGET...]        FUZZ_RUNS=1000000 scripts/fuzz_long.sh fuzz_tool_run
set -uo pipefail
[ -n "${FUZZ_RUNS:-}" ] || export FUZZ_SECONDS=${FUZZ_SECONDS:-600}
exec "$(dirname "$0")/fuzz.sh" "$@"
