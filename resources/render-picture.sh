#!/bin/sh
# Renders one skin picture from its SVG: a 24-bit BMP (no alpha) for the dialogs, or a PNG
# with alpha for icons. Called by resources/CMakeLists.txt, one picture per call.
#
# render-picture.sh OUT SVG WxH [--css FILE] [--key R,G,B] [--under PNG X Y | --matte COLOUR]
#                   [--frames N DELAY]
#
#   --css    stylesheet applied on top of the SVG (the hover and disabled looks)
#   --key    pixels the shape leaves uncovered become exactly this colour; the window code
#            makes that colour transparent, so no edge pixel may blend into it
#   --under  the page background the picture will sit on, cropped at X,Y: edge pixels are
#            smoothed against what is really behind them, not against the key colour
#   --matte  a flat colour in place of --under
#   --frames an animated GIF (OUT ends in .gif): the SVG holds N frames of WxH side by side,
#            each shown DELAY hundredths of a second, looping
set -eu

usage() { echo "usage: $0 OUT SVG WxH [--css F] [--key R,G,B] [--under PNG X Y | --matte C]" >&2; exit 2; }
[ $# -ge 3 ] || usage
out=$1 svg=$2 size=$3
shift 3
css="" key="" under="" ux=0 uy=0 matte="#808080" frames=1 delay=10
while [ $# -gt 0 ]; do
    case $1 in
        --css) css=$2; shift 2 ;;
        --key) key=$2; shift 2 ;;
        --under) under=$2 ux=$3 uy=$4; shift 4 ;;
        --matte) matte=$2; shift 2 ;;
        --frames) frames=$2 delay=$3; shift 3 ;;
        *) usage ;;
    esac
done

: "${RSVG_CONVERT:=rsvg-convert}"
: "${CONVERT:=convert}"
w=${size%x*} h=${size#*x}
sheet_w=$((w * frames))

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The SVGs are drawn at their pixel size, so -w/-h only guard against a wrong viewBox.
if [ -n "$css" ]; then
    "$RSVG_CONVERT" --stylesheet "$css" -w "$sheet_w" -h "$h" "$svg" -o "$tmp/shape.png"
else
    "$RSVG_CONVERT" -w "$sheet_w" -h "$h" "$svg" -o "$tmp/shape.png"
fi

case $out in
    *.png) mkdir -p "$(dirname "$out")"; cp "$tmp/shape.png" "$out.tmp"; mv "$out.tmp" "$out"; exit 0 ;;
    *.bmp) ;;
    *.gif)
        # Opaque frames on the page's colour: GIF transparency has no soft edges.
        mkdir -p "$(dirname "$out")"
        "$CONVERT" -size "${sheet_w}x${h}" "xc:$matte" "$tmp/shape.png" -compose over -composite \
            -alpha off -crop "${w}x${h}" +repage -set delay "$delay" -set dispose none -loop 0 \
            "$tmp/out.gif"
        mv "$tmp/out.gif" "$out"
        exit 0 ;;
    *) echo "$0: $out: only .bmp, .png and .gif are made" >&2; exit 2 ;;
esac

if [ -n "$under" ]; then
    "$CONVERT" "$under" -crop "${w}x${h}+${ux}+${uy}" +repage -alpha off "$tmp/under.png"
else
    "$CONVERT" -size "${w}x${h}" "xc:$matte" "$tmp/under.png"
fi
"$CONVERT" "$tmp/under.png" "$tmp/shape.png" -compose over -composite -alpha off "$tmp/flat.png"

if [ -n "$key" ]; then
    r=${key%%,*} rest=${key#*,}
    g=${rest%%,*} b=${rest#*,}
    # A drawn pixel that happens to equal the key would turn into a hole: move it one step.
    if [ "$b" -lt 255 ]; then nb=$((b + 1)); else nb=$((b - 1)); fi
    "$CONVERT" "$tmp/flat.png" -fill "rgb($r,$g,$nb)" -opaque "rgb($r,$g,$b)" "$tmp/flat.png"
    # Hard edge: a pixel is either the picture (at least half covered) or exactly the key.
    "$CONVERT" "$tmp/shape.png" -alpha extract -threshold 50% "$tmp/mask.png"
    "$CONVERT" -size "${w}x${h}" "xc:rgb($r,$g,$b)" "$tmp/flat.png" "$tmp/mask.png" \
        -compose over -composite -alpha off "$tmp/flat.png"
fi

mkdir -p "$(dirname "$out")"
"$CONVERT" "$tmp/flat.png" -alpha off -type TrueColor "BMP3:$tmp/out.bmp"
mv "$tmp/out.bmp" "$out"
