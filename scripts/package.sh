#!/usr/bin/env bash
# Makes the two packages in dist-pkg/: vexdram-VERSION-Linux-x86_64.tar.gz (the host directory as
# `cmake --install` lays it out) and vexdram_VERSION_amd64.deb (that directory under /opt/vexdram,
# links in /usr/bin, manual pages, copyright). Builds BUILD first (configuring it when needed).
#   scripts/package.sh [BUILD_DIR]        (default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CPackConfig.cmake" ] || cmake -S . -B "$build" -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
out=$PWD/dist-pkg
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; echo "package: cpack failed" >&2; exit 1; }
rm -rf "$out/_CPack_Packages" "$out/cpack.log"
ls dist-pkg
