#!/usr/bin/env bash
# Draws the vxsetup icon (a blue tile with a white arrow going down into a
# tray: "put this onto your machine") and writes setup/icon/vxsetup.ico with
# 16, 32 and 48 pixel images (32-bit bitmaps with alpha) and a 256 pixel PNG
# image: the layout every Windows reads. (PNG at the small sizes would save
# about 13 KB of the stub, but Wine cannot load such icons, and a dialog whose
# icon control finds no icon fails to open there.)
# Every size is drawn from the same shapes on a 256-unit grid, scaled, so the
# small sizes stay sharp instead of being shrunk from the large one.
# Needs ImageMagick (scripts/bootstrap.sh installs it).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

draw() {  # draw SIZE OUTPUT
  local size=$1 s
  s=$(awk "BEGIN { print $1 / 256 }")
  # Thicker strokes at the smallest size so the tray survives at 16 pixels.
  local stroke=22
  ((size <= 16)) && stroke=30
  convert -size "${size}x${size}" xc:none \
    -draw "scale $s,$s fill '#1d5fc4' roundrectangle 12,12 244,244 44,44" \
    -draw "scale $s,$s fill '#3f83e6' roundrectangle 12,12 244,132 44,44" \
    -draw "scale $s,$s fill '#3f83e6' rectangle 12,90 244,132" \
    -draw "scale $s,$s fill white polygon 104,36 152,36 152,110 190,110 128,172 66,110 104,110" \
    -draw "scale $s,$s fill none stroke white stroke-width $stroke stroke-linejoin round path 'M 52,150 L 52,212 L 204,212 L 204,150'" \
    "PNG32:$2"
}

for size in 16 32 48 256; do
  draw "$size" "$work/$size.png"
done
convert "$work/16.png" "$work/32.png" "$work/48.png" "$work/256.png" "$here/vxsetup.ico"
echo "wrote $here/vxsetup.ico ($(stat -c %s "$here/vxsetup.ico") bytes)"
