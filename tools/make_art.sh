#!/usr/bin/env bash
# Draws the wizard's artwork at build time: the banner (bitmap 104), the side
# picture (bitmap 105) and the program icon (106), in the product's colours.
# Usage: make_art.sh OUT_DIR
set -euo pipefail
out=$1
mkdir -p "$out"
font=$(fc-match -f '%{file}' 'IPAGothic:bold' 2>/dev/null || true)
[[ -n $font ]] || font=DejaVu-Sans

# Banner 460 x 61: deep blue to teal, product name and tagline, a light arc.
convert -size 460x61 gradient:'#0b2a5b'-'#0f7c8c' -rotate 0 \
  -fill 'rgba(255,255,255,0.10)' -draw 'circle 430,80 430,5' \
  -fill 'rgba(255,255,255,0.08)' -draw 'circle 395,70 395,25' \
  -font "$font" -fill white -pointsize 22 -annotate +16+30 'Velto' \
  -fill '#bfe9ef' -pointsize 11 -annotate +17+48 'OneClick Install Manager' \
  -fill '#ffd25a' -draw 'polygon 98,13 106,21 98,29 90,21' \
  -type Palette -colors 256 -compress None BMP3:"$out/banner.bmp"

# Side picture 85 x 115: a stylised box with a download arrow.
convert -size 85x115 gradient:'#e8f4f7'-'#c3dde6' \
  -fill '#0f7c8c' -draw 'roundrectangle 14,40 70,96 6,6' \
  -fill '#0b2a5b' -draw 'polygon 14,40 42,28 70,40 42,52' \
  -fill white -draw 'rectangle 38,52 46,74' -draw 'polygon 30,70 54,70 42,84' \
  -fill '#ffd25a' -draw 'circle 66,24 66,17' \
  -type Palette -colors 256 -compress None BMP3:"$out/side.bmp"

# Icon 32 x 32.
convert -size 32x32 xc:none \
  -fill '#0b2a5b' -draw 'roundrectangle 1,1 30,30 6,6' \
  -fill '#0f7c8c' -draw 'roundrectangle 4,4 27,27 4,4' \
  -fill white -draw 'rectangle 14,7 18,17' -draw 'polygon 9,16 23,16 16,24' \
  -fill '#ffd25a' -draw 'rectangle 8,25 24,27' \
  "$out/app.ico"
