#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages. Skips apt-get when everything
# is already there, so a second run is quick.
set -euo pipefail

packages=(
  build-essential cmake g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev valgrind
  python3 python3-dev python3-pandas python3-pytest pybind11-dev
  chromium chromium-driver python3-selenium
  man-db groff-base python3-mypy
  python3-pluggy python3-iniconfig python3-packaging python3-exceptiongroup python3-tomli python3-attr
  dpkg-dev file lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
