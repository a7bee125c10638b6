#!/usr/bin/env bash
# Long fuzz runs on demand: each target for FUZZ_SECONDS (default 600), one after another, with
# executions, coverage (cov/ft at the end) and crashes printed per target.
#   scripts/fuzz_long.sh [TARGET...]
# Two runs in parallel (2 cores): scripts/fuzz_long.sh fuzz_tool_run & scripts/fuzz_long.sh fuzz_param_text
# (build first with one of them, or with scripts/fuzz.sh, so the two do not build at once).
set -uo pipefail
export FUZZ_SECONDS=${FUZZ_SECONDS:-600}
exec "$(dirname "$0")/fuzz.sh" "$@"
