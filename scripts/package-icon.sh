#!/usr/bin/env bash
# Draws the updater's menu icon with ImageMagick into a hicolor icon theme folder
# (DIR/<size>x<size>/apps/krv7000-updater.png): a controller's top with two jog wheels
# and a fader.
# Usage: scripts/package-icon.sh DIR
set -euo pipefail
theme="$1"
source="$(mktemp --suffix=.png)"
trap 'rm -f "$source"' EXIT

convert -size 256x256 xc:none \
    -fill '#1d2733' -draw 'roundrectangle 8,40 248,216 28,28' \
    -fill '#3a4a5c' -draw 'circle 70,128 70,80' -draw 'circle 186,128 186,80' \
    -fill '#e08a1e' -draw 'circle 70,128 70,108' -draw 'circle 186,128 186,108' \
    -fill '#8fa3b8' -draw 'roundrectangle 122,66 134,190 5,5' \
    -fill '#e08a1e' -draw 'roundrectangle 114,112 142,128 4,4' \
    -strip "PNG32:$source"

for size in 256 128 64 48 32 16; do
    mkdir -p "$theme/${size}x$size/apps"
    convert "$source" -resize "${size}x$size" -strip "PNG32:$theme/${size}x$size/apps/krv7000-updater.png"
    chmod 0644 "$theme/${size}x$size/apps/krv7000-updater.png"
done
