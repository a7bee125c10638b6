#!/usr/bin/env bash
# Configures, builds and installs the project: build/ and dist/ below the checkout.
#   scripts/build.sh [BUILD_DIR [INSTALL_DIR [extra cmake arguments...]]]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
dist=${2:-dist}
shift $(( $# > 2 ? 2 : $# ))
cmake -S . -B "$build" -DPython3_EXECUTABLE=/usr/bin/python3 "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
cmake --install "$build" --prefix "$dist" >/dev/null
