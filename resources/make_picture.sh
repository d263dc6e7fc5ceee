#!/bin/bash
# Writes Image1.jpg: the Excel 2003 File-menu item the success window points the user to.
# Usage: make_picture.sh [OUTPUT]   (default: Image1.jpg next to this script)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here/Image1.jpg}

# Face 0 of the collection is the regular "WenQuanYi Zen Hei" (1 and 2 are Mono and Sharp).
font=$(fc-list : file family | grep -i 'zen hei,' | head -n 1 | cut -d: -f1)
if [[ -z $font || ! -f $font ]]; then
    echo "make_picture.sh: WenQuanYi Zen Hei not found (install fonts-wqy-zenhei)" >&2
    exit 1
fi

caption='Quorvale 数据查询(Q)...'

# The caption is drawn the way an XP-era screen showed it, ClearType: glyph coverage is
# rendered at three times the width, softened across neighbouring subpixels (then darkened
# back with a gamma lift, as ClearType does), and each column of subpixels becomes one of
# R, G, B. Black text then multiplies that onto the menu.
# Full quality with 4:4:4 sampling lands the file at 6-7.5 KB and keeps the
# coloured text fringes and icon edges free of chroma smear at this tiny size.
convert -size 290x27 xc:'#FAF9F6' \
    \( -size 27x26 gradient:'#EEF2F7'-'#C5D0DD' -rotate -90 \) -geometry +0+0 -composite \
    -stroke '#5C4A3A' -strokewidth 2.6 -draw 'line 14.5,14.5 19.5,19.5' \
    -stroke '#2F4A66' -strokewidth 1.4 -fill '#CFE3F7' -draw 'circle 10.5,10.5 14.8,10.5' \
    -stroke none -fill '#FFFFFF' -draw 'rectangle 8,8 9,8' -draw 'point 8,9' \
    \( -size 870x27 xc:black -font "$font" -pointsize 12 -fill white -stroke none \
       -draw "affine 3,0,0,1,0,0 text 34,18 '$caption'" \
       -define convolve:scale='!' -morphology Convolve '5x1: 1,2,3,2,1' \
       -gamma 1.4 -write mpr:coverage +delete \
       -define sample:offset=0 \
       mpr:coverage -sample 290x27! \
       \( mpr:coverage -roll -1+0 -sample 290x27! \) \
       \( mpr:coverage -roll -2+0 -sample 290x27! \) \
       -combine -negate \) \
    -compose Multiply -composite \
    -strip -type TrueColor -units PixelsPerInch -density 120 \
    -interlace none -sampling-factor 1x1 -quality 100 \
    "jpg:$out"
