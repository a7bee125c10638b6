#!/usr/bin/env bash
# Installs what building and testing need: Debian's packages, and axe-core (the studio's
# accessibility checks) from npm into .deps/node/ of the checkout, where the tests find it without
# the network. Skips apt-get and npm when everything is already there, so a second run is quick.
set -euo pipefail
cd "$(dirname "$0")/.."
AXE_VERSION=4.14.1
axe_dir=.deps/node

packages=(
  build-essential cmake g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev valgrind
  libcli11-dev nlohmann-json3-dev strace hyperfine
  python3 python3-dev python3-pandas python3-pytest pybind11-dev
  chromium chromium-driver python3-selenium
  man-db groff-base python3-mypy
  python3-pluggy python3-iniconfig python3-packaging python3-exceptiongroup python3-tomli python3-attr
  dpkg-dev file lintian
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 googletest
)
# Node and npm for axe-core: Debian's where the machine has none (Debian's npm conflicts with a
# Node installed otherwise).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

installed=$(node -p "require('./$axe_dir/node_modules/axe-core/package.json').version" 2>/dev/null || true)
if [ "$installed" != "$AXE_VERSION" ]; then
  echo "setup: installing axe-core $AXE_VERSION from npm into $axe_dir"
  mkdir -p "$axe_dir"
  npm install --prefix "$axe_dir" --no-save --no-audit --no-fund --loglevel=error \
    "axe-core@$AXE_VERSION" >/dev/null
fi
