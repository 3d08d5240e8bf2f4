#!/bin/bash
# Regenerates Norva's icons and notice chime from nothing.
# Needs these Debian packages: imagemagick, sox, lame.
# Not run at build time; the generated files are committed next to it.
#
# Usage: resources/make-resources.sh   (from anywhere)
set -euo pipefail

# The `convert` on PATH may not be ImageMagick, so name it explicitly.
IM=/usr/bin/convert-im6.q16
[ -x "$IM" ] || IM=/usr/bin/convert

OUT="$(cd "$(dirname "$0")" && pwd)"
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

# Keep output byte-identical between runs: no timestamps or extra metadata.
PNGOPTS=(-strip -define png:exclude-chunks=date,time +set date:create +set date:modify)

SS=8   # supersampling factor; shapes are drawn large and box-filtered down

# render NAME SIZE MVG
# MVG coordinates are in a 32x32 design grid; they get scaled to SIZE*SS.
render() {
    local name=$1 size=$2 mvg=$3
    local big=$((size * SS))
    local k
    k=$(awk -v b="$big" 'BEGIN { printf "%.4f", b / 32 }')
    "$IM" -size "${big}x${big}" xc:none \
        -draw "scale $k,$k $mvg" \
        -filter box -resize "${size}x${size}" \
        "${PNGOPTS[@]}" "PNG32:$OUT/$name"
}

# Toolbar: one calm slate-blue ink, thick round strokes so they survive 14 px.
INK='#2E4A62'
STROKE="fill none stroke '$INK' stroke-width 3.6 stroke-linecap round stroke-linejoin round"

render back.png 32 "$STROKE
    path 'M 25,16 L 8,16'
    path 'M 15,8.5 L 7.5,16 L 15,23.5'"

render forward.png 32 "$STROKE
    path 'M 7,16 L 24,16'
    path 'M 17,8.5 L 24.5,16 L 17,23.5'"

# Clockwise arc of radius 9 around (16,16) from 0 to 300 degrees; arrowhead at
# the end points along the tangent, leaving a clear gap at the top right.
render refresh.png 32 "$STROKE
    path 'M 25,16 A 9,9 0 1,1 20.5,8.21'
    stroke none fill '$INK'
    path 'M 25.3,10.96 L 18.0,12.54 L 23.0,3.88 Z'"

render stop.png 32 "fill none stroke '#C0392B' stroke-width 3.8 stroke-linecap round
    path 'M 9,9 L 23,23'
    path 'M 23,9 L 9,23'"

render error.png 32 "fill '#D93025' stroke none
    circle 16,16 16,1.5
    fill white
    roundrectangle 14.3,7 17.7,19.2 1.7,1.7
    circle 16,23.6 16,25.6"

# Task: white tick on a blue rounded tile.
render task.png 32 "fill '#2F7DE1' stroke none
    roundrectangle 2.5,2.5 29.5,29.5 6,6
    fill none stroke white stroke-width 3.6 stroke-linecap round stroke-linejoin round
    path 'M 9,16.5 L 14,21.5 L 23.5,11'"

# Schedule: orange clock face with white hands and quarter marks.
render schedule.png 32 "fill '#F08C00' stroke none
    circle 16,16 16,2
    fill none stroke white stroke-width 3.2 stroke-linecap round stroke-linejoin round
    path 'M 16,8.5 L 16,16 L 21.5,19.5'
    stroke-width 1.8
    path 'M 16,4.6 L 16,5.6'
    path 'M 27.4,16 L 26.4,16'
    path 'M 16,27.4 L 16,26.4'
    path 'M 4.6,16 L 5.6,16'"

# App icon: white kestrel soaring, seen from below, on a teal-to-blue tile.
# Master is drawn at 1024 px in a 100-unit grid, then box-filtered to each size.
M=1024
"$IM" -size ${M}x${M} -define gradient:direction=SouthEast gradient:'#1FB8A8-#1E5AA8' \
    \( -size ${M}x${M} xc:black -fill white -draw "scale 10.24,10.24 roundrectangle 3,3 97,97 21,21" \) \
    -alpha off -compose CopyOpacity -composite \
    -fill white -stroke none -draw "scale 10.24,10.24 translate 0,-4
        path 'M 50,41 C 41,33 26,28 4,38 C 19,40 33,46 44,58 L 56,58 C 67,46 81,40 96,38 C 74,28 59,33 50,41 Z'
        ellipse 50,50 5.5,14 0,360
        circle 50,33.5 50,39.5
        path 'M 46,60 L 42.5,84 Q 50,88 57.5,84 L 54,60 Z'" \
    "${PNGOPTS[@]}" "PNG32:$TMP/master.png"

frames=()
for s in 16 24 32 48 64 128 256; do
    "$IM" "$TMP/master.png" -filter box -resize "${s}x${s}" "${PNGOPTS[@]}" "PNG32:$TMP/icon-$s.png"
    frames+=("$TMP/icon-$s.png")
done
"$IM" "${frames[@]}" "${PNGOPTS[@]}" "$OUT/AppIcon.ico"

# Notice chime: G5 then C6 (a rising fourth), each a sine plus a soft octave
# overtone with a long fade, so it sounds like a small bell rather than a beep.
note() { # FILE FREQ DELAY
    sox -R -n -r 44100 -c 1 -b 16 "$TMP/$1-a.wav" synth 0.45 sine "$2" fade q 0.004 0.45 0.42
    sox -R -n -r 44100 -c 1 -b 16 "$TMP/$1-b.wav" synth 0.45 sine "$(awk -v f="$2" 'BEGIN{print f*2}')" fade q 0.004 0.45 0.44 vol 0.18
    sox -R -m "$TMP/$1-a.wav" "$TMP/$1-b.wav" "$TMP/$1.wav" pad "$3" 0
}
note n1 783.99 0
note n2 1046.50 0.16
sox -R -m "$TMP/n1.wav" "$TMP/n2.wav" "$TMP/chime.wav" gain -n -4 pad 0 0.03
lame --quiet -m m -b 96 --resample 44.1 --noreplaygain "$TMP/chime.wav" "$OUT/notice.mp3"

echo "Wrote to $OUT:"
ls -l "$OUT"
