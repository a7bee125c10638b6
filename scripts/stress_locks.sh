#!/usr/bin/env bash
# vexdram's locks under stress, for the figures of a change to them (not run by CI: minutes):
#   scripts/stress_locks.sh [DIST [RUNS [KILLS]]]     defaults: dist, 800 runs, 200 kills
# RUNS runs of `set F KEY=V --in-place --wait 10` from two PID namespaces sharing a folder (as
# root, or where unshare -p is allowed), then KILLS runs of `apply` over 300 files killed at a
# random time within 90 ms, each followed by a run that must succeed. The folders are made in
# TMPDIR (default /tmp). Prints one JSON object of counts for each (scripts/stress_locks.py says
# what each count is).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dist=$(cd "${1:-$here/dist}" && pwd)
vexdram=$dist/resource/tools/vexdram
echo "two PID namespaces: $(/usr/bin/python3 "$here/scripts/stress_locks.py" namespaces "$vexdram" "${2:-800}")"
echo "apply over 300 files, killed: $(/usr/bin/python3 "$here/scripts/stress_locks.py" kills "$vexdram" "${3:-200}")"
