#!/usr/bin/env bash
# Runs the examples of the host developers' reference (docs/dramforge.md) with doctest, in a copy
# of an install directory, the way a host runs the module: its current directory holds
# resource/tools/ and the bundled samples, and the examples may change everything there.
#   scripts/check_reference.sh [INSTALL_DIR]        (default dist/, as scripts/build.sh makes it)
set -euo pipefail
cd "$(dirname "$0")/.."
dist=${1:-dist}
reference=$PWD/docs/dramforge.md
if [ ! -d "$dist/resource/tools" ]; then
  echo "check_reference: no install directory at $dist (run scripts/build.sh first)" >&2
  exit 1
fi
copy=$(mktemp -d "${TMPDIR:-/tmp}/vexdram-reference.XXXXXX")
trap 'rm -rf "$copy"' EXIT
cp -a "$dist/." "$copy/"
cd "$copy"
PYTHONPATH=$copy PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -m doctest -o ELLIPSIS "$reference"
echo "check_reference: every example of docs/dramforge.md runs as shown"
