#!/bin/sh
# Redraws res/kvx.ico (16 to 256 pixels, 32-bit colour) with ImageMagick.
set -eu
cd "$(dirname "$0")"
convert -size 256x256 xc:none -fill '#1e3a8a' -draw 'roundrectangle 8,8 248,248 40,40' \
  -fill '#facc15' -draw 'rectangle 64,52 100,204' \
  -draw 'polygon 100,128 168,52 212,52 134,128 212,204 168,204' \
  -depth 8 -define icon:auto-resize=256,128,64,48,32,16 kvx.ico
