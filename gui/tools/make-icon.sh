#!/bin/sh
# Draws the window icon (64 x 64): a module front in dark blue with a yellow
# high-voltage flash and a CAN bus line. Run once with ImageMagick; the
# results are committed, so the build does not need ImageMagick.
# CONVERT names the ImageMagick convert program when "convert" is another one.
set -eu
CONVERT=${CONVERT:-convert}
cd "$(dirname "$0")/../images"
"$CONVERT" -size 64x64 xc:none \
  -fill '#1d3557' -stroke '#0b1a2e' -strokewidth 2 -draw 'roundrectangle 2,2 61,61 10,10' \
  -stroke none -fill '#ffd166' -draw 'polygon 36,6 16,36 30,36 24,58 48,26 34,26 42,6' \
  -stroke '#8ecae6' -strokewidth 3 -draw 'line 6,50 58,50' \
  -fill '#8ecae6' -stroke none -draw 'circle 12,50 12,53' -draw 'circle 52,50 52,53' \
  tarvFlash64x64.png
"$CONVERT" tarvFlash64x64.png -define icon:auto-resize=64,32,16 tarvFlash64x64.ico
