#!/usr/bin/env bash
# Draws the application icon, shell/melno2quaz.ico (16, 32 and 48 pixels):
# a green page, an arrow and a blue page, for "Melno save -> Quaz save".
# The icon is kept in the repository; run this only to change it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/apt_install.sh imagemagick

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Drawn at 48 pixels; the smaller sizes are scaled from it.
convert -size 48x48 xc:none \
  -fill '#2e8b3a' -stroke '#14501c' -strokewidth 2 -draw 'roundrectangle 2,4 22,38 3,3' \
  -fill '#1f5fbf' -stroke '#0c2f66' -strokewidth 2 -draw 'roundrectangle 25,10 45,44 3,3' \
  -stroke none -fill white -draw 'rectangle 6,12 18,14' -draw 'rectangle 6,18 18,20' \
  -draw 'rectangle 29,18 41,20' -draw 'rectangle 29,24 41,26' \
  -fill '#f0a020' -stroke '#7a4a00' -strokewidth 1 \
  -draw 'polygon 10,26 24,26 24,21 34,30 24,39 24,34 10,34' \
  "$work/48.png"
convert "$work/48.png" -resize 32x32 "$work/32.png"
convert "$work/48.png" -resize 16x16 "$work/16.png"
convert "$work/16.png" "$work/32.png" "$work/48.png" shell/melno2quaz.ico
identify shell/melno2quaz.ico
