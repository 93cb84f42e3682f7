#!/usr/bin/env bash
# Draws the window icon: a wand held diagonally, with two buttons on its
# handle and a joystick dial at its head (knob pushed up and right), on a
# rounded dark-blue tile. Writes kestrel.ico (16 x 16 and 32 x 32) and
# skywandtester.png (128 x 128) beside this script. Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Drawn at 256 x 256 and scaled down, so the small sizes stay smooth.
convert -size 256x256 xc:none \
  -fill '#1d3557' -draw 'roundrectangle 8,8 247,247 44,44' \
  -stroke '#f1faee' -strokewidth 34 -draw 'line 52,204 128,128' \
  -stroke none -fill '#e63946' -draw 'circle 78,178 78,188' -fill '#457b9d' -draw 'circle 102,154 102,164' \
  -fill '#f1faee' -draw 'circle 160,96 160,28' \
  -stroke '#8d99ae' -strokewidth 6 -draw 'line 160,40 160,152' -draw 'line 104,96 216,96' \
  -stroke '#1d3557' -strokewidth 10 -fill '#e63946' -draw 'circle 184,72 184,98' \
  "$tmp/big.png"

convert "$tmp/big.png" -resize 128x128 -strip skywandtester.png
convert "$tmp/big.png" -resize 32x32 -strip "$tmp/32.png"
convert "$tmp/big.png" -resize 16x16 -strip "$tmp/16.png"
convert "$tmp/16.png" "$tmp/32.png" kestrel.ico
