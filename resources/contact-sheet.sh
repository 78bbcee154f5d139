#!/bin/sh
# Lays out every rendered skin picture on one PNG, and mock-ups of the windows built from
# them (key colours made transparent the way the window code does), to look at the skin
# as a whole. Usage: contact-sheet.sh DATA_DIR ICON_DIR OUT.png
set -eu
data=$1 icons=$2 out=$3
: "${CONVERT:=convert}"
: "${MONTAGE:=montage}"
font=DejaVu-Sans
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Button picture with its key colour cut out, as a PNG with alpha.
cut() { "$CONVERT" "$data/$1" -alpha set -transparent "$2" "$tmp/$1.png"; }

for b in THelp TAboutUs TExit TSave Next Back Start Stop Save; do
    cut "$b.bmp" "rgb(2,2,2)"
    cut "${b}A.bmp" "rgb(189,230,231)"
done
cut DigitalMedia.bmp "rgb(255,255,255)"
cut ImageCreation.bmp "rgb(255,255,255)"
cut DigitalMediaA.bmp "rgb(189,230,231)"
cut ImageCreationA.bmp "rgb(189,230,231)"
cut FrontV.bmp "rgb(255,0,240)"

at() { echo "$tmp/$1.png" -geometry "+$2+$3" -composite; }

# Main window: About Us and Image Creation shown hovered.
# shellcheck disable=SC2046
"$CONVERT" "$data/guim.bmp" \
    "$data/TSaveD.bmp" -geometry +6+11 -composite \
    $(at THelp.bmp 62 11) $(at TAboutUsA.bmp 122 11) $(at TExit.bmp 179 11) \
    $(at DigitalMedia.bmp 111 193) $(at ImageCreationA.bmp 383 193) "$tmp/main.png"

# Results page: toolbar Save, preview placeholder in its cream control, Back and Save.
# shellcheck disable=SC2046
"$CONVERT" "$data/gui2.bmp" \
    $(at TSave.bmp 3 11) $(at THelpA.bmp 62 11) $(at TAboutUs.bmp 122 11) $(at TExit.bmp 179 11) \
    -fill "rgb(255,245,220)" -stroke "rgb(255,213,100)" -draw "rectangle 248,265 629,433" \
    "$data/SelectFile.bmp" -geometry +253+269 -composite \
    "$data/Scan.gif[0]" -geometry +30+300 -composite \
    -fill "rgb(255,255,255)" -stroke "rgb(160,170,185)" -draw "rectangle 20,100 230,260" \
    -draw "rectangle 248,100 629,250" \
    $(at BackA.bmp 545 462) $(at Save.bmp 599 453) "$tmp/results.png"

# Image creation page: greyed Next, Start and Stop.
# shellcheck disable=SC2046
"$CONVERT" "$data/gui2.bmp" \
    "$data/TSaveD.bmp" -geometry +6+11 -composite \
    $(at THelp.bmp 62 11) $(at TAboutUs.bmp 122 11) $(at TExitA.bmp 179 11) \
    $(at Start.bmp 450 360) $(at StopA.bmp 520 360) \
    $(at Back.bmp 545 462) "$data/NextD.bmp" -geometry +599+453 -composite "$tmp/imaging.png"

# Message box (339 x 179), bad-sector prompt (399 x 133) and wait box (207 x 60): the
# backgrounds are tiled from the top-left, so they see the top-left crop.
"$CONVERT" -size 339x179 "tile:$data/Msgbox.bmp" -font $font -pointsize 12 -fill "#15294A" \
    -annotate +54+58 "File Saved Successfully." -fill white -stroke "#8FA3BE" \
    -draw "roundrectangle 132,140 207,166 3,3" -stroke none -fill "#15294A" -annotate +160+158 "OK" \
    "$tmp/msg.png"
"$CONVERT" -size 399x133 "tile:$data/Msgbox.bmp" -font $font -pointsize 12 -fill "#15294A" \
    -annotate +40+40 "Encountered Bad Sector(s) while reading disk." "$tmp/bad.png"
"$CONVERT" -size 207x60 "tile:$data/Preview.bmp" -fill none -stroke "#A9B6C8" \
    -draw "rectangle 8,6 198,52" -stroke none -font $font -pointsize 12 -fill "#15294A" \
    -annotate +62+34 "Please Wait..." "$tmp/wait.png"
# About box: its picture with the box's own texts drawn over it.
"$CONVERT" "$data/About.bmp" -fill none -stroke "#A9B6C8" -draw "rectangle 18,72 429,253" \
    -stroke none -font $font -pointsize 12 -fill "#15294A" \
    -annotate +98+109 "Kestrum for Digital Media Version 1.0" "$tmp/about.png"
# Splash over a desktop-grey backdrop, cut by its key colour.
"$CONVERT" -size 560x360 xc:"#7A8088" "$tmp/FrontV.bmp.png" -geometry +20+20 -composite "$tmp/splash.png"

# Mock-ups in rows, each with its caption underneath.
caption() {
    "$CONVERT" "$1" -background "#C9CED6" -gravity south -splice 0x26 -font $font -pointsize 13 \
        -fill "#0F1E33" -annotate +0+5 "$2" -bordercolor "#C9CED6" -border 10 "$1"
}
caption "$tmp/main.png" "Main window (About Us and Image Creation under the mouse)"
caption "$tmp/results.png" "Results page, browsing (mock-up: boxes stand for the tree and list)"
caption "$tmp/imaging.png" "Image creation page (Next greyed, Stop under the mouse)"
caption "$tmp/splash.png" "Splash, cut by its key colour, over a desktop"
caption "$tmp/about.png" "About box"
caption "$tmp/msg.png" "Message box"
caption "$tmp/bad.png" "Bad-sector prompt background"
caption "$tmp/wait.png" "Wait box"
"$CONVERT" -background "#C9CED6" -gravity north \
    \( "$tmp/main.png" "$tmp/results.png" "$tmp/imaging.png" +append \) \
    \( "$tmp/splash.png" "$tmp/about.png" "$tmp/msg.png" +append \) \
    \( "$tmp/bad.png" "$tmp/wait.png" +append \) -gravity west -append "$tmp/mockups.png"

# Every picture as it lies in the folder, key colours and all; the small ones twice their
# size so their pixels can be judged.
for f in "$data"/T*.bmp "$data"/Next*.bmp "$data"/Back*.bmp "$data"/Start*.bmp \
    "$data"/Stop*.bmp "$data"/Save*.bmp "$data"/Computer.png "$data"/Drive.png \
    "$data"/Folder.png "$data"/FolderOpen.png "$data/Scan.gif[0]" "$data/Scan.gif[6]" \
    "$icons"/16x16/apps/kestrum.png "$icons"/24x24/apps/kestrum.png \
    "$icons"/32x32/apps/kestrum.png "$icons"/64x64/apps/kestrum.png; do
    name=$(basename "$f")
    case $f in *"$icons"*) name="icon $(basename "$(dirname "$(dirname "$f")")")" ;; esac
    size=$("$CONVERT" "$f" -format '%wx%h' info:)
    scale=200; [ "$("$CONVERT" "$f" -format %w info:)" -le 32 ] && scale=400
    "$CONVERT" "$f" -background "#C9CED6" -alpha remove -scale "$scale%" \
        -set label "$name  $size" "$tmp/s-$(printf '%03d' "$(ls "$tmp" | wc -l)").png"
done
"$MONTAGE" -font $font -pointsize 12 -background "#C9CED6" -fill "#0F1E33" -geometry '200x140>+8+8' \
    -tile 10x "$tmp"/s-*.png "$tmp/small.png"
sheet() {
    out_=$1 cols=$2
    shift 2
    "$MONTAGE" -font $font -pointsize 12 -background "#C9CED6" -fill "#0F1E33" -geometry '+10+10' \
        -tile "${cols}x" -label '%f  %wx%h' "$@" "$out_"
}
sheet "$tmp/cards.png" 4 "$data"/DigitalMedia*.bmp "$data"/ImageCreation*.bmp
sheet "$tmp/holders.png" 4 "$data"/NoPreview.bmp "$data"/SelectFile.bmp "$data"/Preview.bmp \
    "$data"/Corrpted.bmp
sheet "$tmp/backs.png" 3 "$data"/gui2.bmp "$data"/guim.bmp "$data"/About.bmp \
    "$data"/FrontV.bmp "$data"/Msgbox.bmp
"$CONVERT" "$tmp/mockups.png" "$tmp/small.png" "$tmp/cards.png" "$tmp/holders.png" "$tmp/backs.png" -background "#C9CED6" \
    -gravity center -append +repage "$out"
echo "$out"
