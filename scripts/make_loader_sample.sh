#!/usr/bin/env bash
# Packs the bundled loader container sample with our imgwelder: the bundled tq6951 DDR binary as
# the DDR initialisation image (471) and as FlashData, filler images for the 472 and FlashBoot
# slots, a fixed release time. The result is the same byte for byte on every run.
#   scripts/make_loader_sample.sh IMGWELDER OUT
set -euo pipefail
imgwelder=$1
out=$2
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/examples/tq6951_ddr_v5.bin" "$work/ddr.bin"
cp "$here/examples/tq6951_ddr_v5.bin" "$work/FlashData.bin"
head -c 1024 /dev/zero | tr '\0' 'U' > "$work/usbplug.bin"
head -c 2048 /dev/zero | tr '\0' 'B' > "$work/FlashBoot.bin"
SOURCE_DATE_EPOCH=1700000000 "$imgwelder" pack -c -TQ6951 -v 2.1 -r 0 \
  -1 "$work/ddr.bin" -2 "$work/usbplug.bin" -3 "$work/FlashData.bin" -3 "$work/FlashBoot.bin" \
  -o "$out" > /dev/null
