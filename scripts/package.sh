#!/usr/bin/env bash
# Makes the packages in dist-pkg/: vexdram-VERSION-Linux-x86_64.tar.gz (the host directory as
# `cmake --install` lays it out), vexdram_VERSION_amd64.deb (that directory under /opt/vexdram,
# links in /usr/bin, manual pages, copyright), and vexdram-VERSION-windows-x86_64.zip (the Windows
# host directory of scripts/build_windows.sh, manual pages as text). Builds BUILD first
# (configuring it when needed), and the Windows programs in build-win/.
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
version=$(sed -n 's/^project(vexdram VERSION \([^ ]*\).*/\1/p' CMakeLists.txt)
scripts/build_windows.sh build-win dist-win >/dev/null
man_text=$(mktemp -d)
trap 'rm -rf "$man_text"' EXIT
for page in docs/man/*.1; do
  MANWIDTH=80 MAN_DISABLE_SECCOMP=1 man -E UTF-8 -l -Tutf8 "$page" 2>/dev/null | col -bx >"$man_text/$(basename "$page" .1).txt"
done
/usr/bin/python3 packaging/windows_zip.py dist-win "$man_text" "$out/vexdram-$version-windows-x86_64.zip"
ls dist-pkg
