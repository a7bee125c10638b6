#!/usr/bin/env bash
# Starts vexdram studio from dist/, building and installing it there first when it is missing or
# older than the sources:
#   scripts/studio.sh [--port N] [--host H] [--no-browser] WORKSPACE
# A relative WORKSPACE is taken from the directory the script is started in. Ctrl-C stops it.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
stamp=$repo/dist/.studio-built
if [ ! -f "$stamp" ] || [ -n "$(find "$repo/CMakeLists.txt" "$repo/tool" "$repo/module" "$repo/imgwelder" \
    "$repo/studio" "$repo/resource" -newer "$stamp" -print -quit)" ]; then
  (cd "$repo" && scripts/setup.sh && scripts/build.sh build dist && touch "$stamp")
fi
PYTHONPATH="$repo/dist" exec /usr/bin/python3 -m vexdram_studio "$@"
