#!/usr/bin/env bash
# Long fuzz runs on demand: each target for FUZZ_SECONDS (default 600) or FUZZ_RUNS executions,
# one after another, with executions, exec/s, coverage (cov/ft at the end) and crashes printed
# per target.
#   scripts/fuzz_long.sh [TARGET...]        FUZZ_RUNS=1000000 scripts/fuzz_long.sh fuzz_tool_run
# Two runs in parallel (2 cores): scripts/fuzz_long.sh fuzz_tool_run & scripts/fuzz_long.sh fuzz_param_text
# (build first with one of them, or with scripts/fuzz.sh, so the two do not build at once).
set -uo pipefail
[ -n "${FUZZ_RUNS:-}" ] || export FUZZ_SECONDS=${FUZZ_SECONDS:-600}
exec "$(dirname "$0")/fuzz.sh" "$@"
