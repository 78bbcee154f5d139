#!/usr/bin/env bash
# Builds the evaluation card: a FAT32 image holding real photos, camera raws, audio and
# video made by real encoders (ImageMagick, ffmpeg, exiftool) plus the camera samples of
# ../shared/samples when present, a third of them deleted afterwards, as on a card that
# was partly wiped. Writes OUT/card.img and OUT/manifest.tsv (type, name, bytes, sha256,
# byte offset in the image or -1 when not stored in one piece, deleted yes/no), then the
# images of a reused card, each with its .tsv manifest: a FAT32 and an exFAT card filled, a
# third deleted and shot again (reshoot-*.img), and those of bench/reuse_images.py.
#
#   bash bench/make-corpus.sh [OUT]        (default /var/tmp/kestrum-recall)
#
# Not a test: it takes a few minutes. The files are regenerated with fixed seeds, so two
# runs give the same card.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="${1:-/var/tmp/kestrum-recall}"
SAMPLES="$ROOT/../shared/samples"
FILES="$OUT/files"
CARD_MIB=${KESTRUM_CARD_MIB:-320}
die() { echo "make-corpus.sh: $*" >&2; exit 1; }
for t in convert ffmpeg exiftool mkfs.fat mcopy mdel python3; do
    command -v "$t" >/dev/null || die "$t is missing (bash scripts/install-deps.sh)"
done

rm -rf "$FILES"
mkdir -p "$FILES"
cd "$FILES"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
# Called in command substitutions, so the running number lives in a file.
echo 0 >"$OUT/.count"
name() {
    local n=$(($(cat "$OUT/.count") + 1))
    echo "$n" >"$OUT/.count"
    printf '%s-%03d.%s' "$1" "$n" "$2"
}

# ---- photos: camera-like JPEGs with large Exif blocks and embedded thumbnails ----
convert -size 160x120 plasma:red-blue -quality 80 thumb.jpg
makers=("Canon|Canon EOS 80D" "NIKON CORPORATION|NIKON D750" "SONY|ILCE-7M3" "FUJIFILM|X-T3"
        "OLYMPUS CORPORATION|E-M10" "Apple|iPhone 12" "samsung|SM-G991B" "Panasonic|DMC-GH4")
for i in $(seq 0 29); do
    w=$((1200 + (i % 5) * 400)); h=$((w * 3 / 4))
    f="$(name JPEG jpg)"
    interlace=None; [ $((i % 4)) -eq 3 ] && interlace=Plane   # every fourth progressive
    convert -seed "$i" -size "${w}x${h}" plasma:fractal -blur 0x1 -quality $((85 + i % 12)) \
        -interlace "$interlace" "$f"
    IFS='|' read -r make model <<<"${makers[i % ${#makers[@]}]}"
    exiftool -q -overwrite_original -Make="$make" -Model="$model" \
        -DateTimeOriginal="2026:0$((1 + i % 9)):1$((i % 10)) 10:2$((i % 10)):00" \
        -Artist="Kestrum corpus" -ImageDescription="$(printf 'x%.0s' $(seq 1 $((i * 40))))" \
        "-ThumbnailImage<=thumb.jpg" "$f"
done
# One large photo (about 8 MB), as a modern camera writes at its best quality.
f="$(name JPEG jpg)"
convert -seed 99 -size 4000x3000 plasma:fractal +noise Gaussian -quality 97 "$f"
exiftool -q -overwrite_original -Make=Canon -Model="Canon EOS R5" "-ThumbnailImage<=thumb.jpg" "$f"
for i in $(seq 0 7); do   # small web pictures
    convert -seed "$((i + 40))" -size 640x480 plasma: -quality 75 -strip "$(name JPEG jpg)"
done

# ---- other pictures ----
for i in $(seq 0 6); do
    convert -seed "$((i + 50))" -size $((300 + i * 90))x$((200 + i * 60)) plasma: "$(name PNG png)"
done
convert -size 120x90 xc:white -fill red -draw 'circle 60,45 60,10' -delay 10 \
    \( -size 120x90 xc:white -fill blue -draw 'circle 60,45 60,20' \) -loop 0 "$(name GIF gif)"
for i in $(seq 0 3); do
    convert -seed "$((i + 60))" -size $((200 + i * 100))x150 plasma: -colors 64 "$(name GIF gif)"
done
for i in $(seq 0 3); do
    convert -seed "$((i + 70))" -size $((150 + i * 64))x$((100 + i * 30)) plasma: "$(name BMP bmp)"
done
convert -seed 80 -size 400x300 plasma: -endian LSB "$(name TIFF tif)"
convert -seed 81 -size 500x400 plasma: -endian MSB "$(name TIFF tif)"
convert -seed 82 -size 512x512 plasma: -define tiff:tile-geometry=128x128 "$(name TIFF tif)"
convert -seed 83 -size 300x200 plasma: -compress lzw "$(name TIFF tif)"
convert -seed 84 -size 200x150 plasma: -seed 85 -size 200x150 plasma: "$(name TIFF tif)"
convert -seed 86 -size 320x240 plasma: "$(name PSD psd)"
convert -seed 87 -size 640x360 plasma: -compress RLE "$(name PSD psd)"
convert -seed 88 -size 320x240 plasma: "$(name JP2 jp2)"
convert -seed 89 -size 500x300 plasma: -quality 40 "$(name JP2 jp2)"

# ---- camera raws and other real samples ----
if [ -d "$SAMPLES" ]; then
    for s in "$SAMPLES"/*; do
        b="$(basename "$s")"
        case "${b##*.}" in
            cr2) t=CR2 ;; crw) t=CRW ;; raf) t=RAF ;; mrw) t=MRW ;; nef) t=NEF ;;
            x3f) t=X3F ;; dng) t=DNG ;; rw2) t=RAW ;; psp) t=PSP ;; psd) t=PSD ;;
            jpg) t=JPEG ;; mov) t=MOV ;; mkv) t=MKV ;; rm) t=RM ;; *) continue ;;
        esac
        cp "$s" "$(name "$t" "${b##*.}")"
    done
else
    echo "make-corpus.sh: $SAMPLES is missing: the card holds no camera raws" >&2
fi

# ---- audio ----
tone() { echo "sine=frequency=$1:duration=$2"; }
for i in 0 1 2 3 4; do
    ff -f lavfi -i "$(tone $((300 + i * 110)) $((2 + i)))" -ar $((22050 * (1 + i % 2))) \
        -metadata title="Take $i" "$(name WAV wav)"
done
for i in 0 1 2 3; do
    ff -f lavfi -i "$(tone $((500 + i * 70)) $((3 + i)))" -c:a libmp3lame -b:a $((96 + i * 32))k \
        -metadata artist="Kestrum" -metadata title="Song $i" "$(name MP3 mp3)"
done
for i in 0 1; do
    ff -f lavfi -i "$(tone $((800 + i * 50)) 4)" -c:a libmp3lame -q:a $((2 + i * 3)) \
        -id3v2_version 0 -write_id3v1 1 -metadata title="Old $i" "$(name MP3 mp3)"
done
ff -f lavfi -i "$(tone 660 5)" -c:a libmp3lame -b:a 128k -id3v2_version 0 -write_xing 0 "$(name MP3 mp3)"
for i in 0 1 2; do
    ff -f lavfi -i "$(tone $((400 + i * 90)) $((3 + i)))" -c:a libvorbis -q:a $((2 + i)) "$(name OGG ogg)"
done
ff -f lavfi -i "$(tone 440 4)" -c:a libopus -b:a 64k "$(name OGG opus)"
for i in 0 1; do
    ff -f lavfi -i "$(tone $((350 + i * 200)) 3)" "$(name AIFF aiff)"
done
ff -f lavfi -i "$(tone 720 2)" -c:a pcm_s16be -f aiff "$(name AIFF aif)"
for i in 0 1; do ff -f lavfi -i "$(tone $((250 + i * 300)) 2)" "$(name AU au)"; done
for i in 0 1 2; do
    ff -f lavfi -i "$(tone $((330 + i * 120)) $((3 + i)))" -c:a wmav2 -b:a 96k "$(name WMA wma)"
done
cp "$ROOT/tests/data/notes.mid" "$(name MIDI mid)"

# ---- video ----
src() { echo "testsrc2=size=$1:rate=25:duration=$2"; }
noise() { echo "noise=alls=$1:allf=t"; }
aud() { echo "sine=frequency=$1:duration=$2"; }
for i in 0 1 2; do   # phone-style: moov at the end
    ff -f lavfi -i "$(src 640x360 $((3 + i)))" -f lavfi -i "$(aud 440 $((3 + i)))" \
        -vf "$(noise 12)" -c:v libx264 -preset veryfast -c:a aac -shortest "$(name MP4 mp4)"
done
for i in 0 1; do
    ff -f lavfi -i "$(src 480x270 $((4 + i)))" -f lavfi -i "$(aud 520 $((4 + i)))" \
        -c:v libx264 -preset veryfast -c:a aac -movflags +faststart -shortest "$(name MP4 mp4)"
done
ff -f lavfi -i "$(src 320x240 4)" -c:v libx264 -preset veryfast \
    -movflags frag_keyframe+empty_moov "$(name MP4 mp4)"
ff -f lavfi -i "$(aud 610 5)" -c:a aac "$(name MP4 m4a)"
# One long phone video (tens of MB).
ff -f lavfi -i "$(src 1280x720 12)" -f lavfi -i "$(aud 440 12)" -vf "$(noise 30)" \
    -c:v libx264 -preset ultrafast -b:v 20M -c:a aac -shortest -f mov "$(name MOV mov)"
for i in 0 1 2; do
    ff -f lavfi -i "$(src 640x480 $((3 + i)))" -f lavfi -i "$(aud 300 $((3 + i)))" \
        -vf "$(noise 10)" -c:v libx264 -preset veryfast -c:a aac -shortest "$(name MOV mov)"
done
ff -f lavfi -i "$(src 320x240 3)" -c:v libx264 -preset veryfast -f ipod "$(name M4V m4v)"
ff -f lavfi -i "$(src 320x240 4)" -c:v libx264 -preset veryfast -brand M4V "$(name M4V m4v)"
ff -f lavfi -i "$(src 176x144 4)" -f lavfi -i "$(aud 500 4)" -c:v mpeg4 -c:a aac -ar 16000 \
    -ac 1 -shortest -f 3g2 "$(name 3G2 3g2)"
ff -f lavfi -i "$(src 176x144 5)" -f lavfi -i "$(aud 600 5)" -c:v mpeg4 -c:a aac -ar 16000 \
    -ac 1 -shortest -f 3gp "$(name 3G2 3gp)"
for i in 0 1; do
    ff -f lavfi -i "$(src 480x270 $((3 + i)))" -f lavfi -i "$(aud 350 $((3 + i)))" \
        -c:v libx264 -preset veryfast -c:a libvorbis -shortest "$(name MKV mkv)"
done
ff -f lavfi -i "$(src 320x240 4)" -c:v libx264 -preset veryfast -f matroska pipe:1 \
    >"$(name MKV mkv)"
ff -f lavfi -i "$(src 320x240 3)" -f lavfi -i "$(aud 450 3)" -c:v libvpx -b:v 500k \
    -c:a libopus -shortest "$(name MKV webm)"
ff -f lavfi -i "$(src 320x240 3)" -c:v libvpx-vp9 -b:v 300k -f webm pipe:1 >"$(name MKV webm)"
for i in 0 1; do
    ff -f lavfi -i "$(src 320x240 $((3 + i)))" -f lavfi -i "$(aud 400 $((3 + i)))" \
        -c:v mjpeg -q:v 5 -c:a pcm_s16le -shortest "$(name AVI avi)"
done
ff -f lavfi -i "$(src 320x240 4)" -c:v msmpeg4 -f avi "$(name AVI avi)"
for i in 0 1; do
    ff -f lavfi -i "$(src 320x240 $((3 + i)))" -f lavfi -i "$(aud 330 $((3 + i)))" \
        -c:v libxvid -vtag XVID -c:a libmp3lame -shortest "$(name DIVX avi)"
done
ff -f lavfi -i "$(src 352x288 3)" -f lavfi -i "$(aud 440 3)" -c:v mpeg1video -c:a mp2 \
    -shortest -f mpeg "$(name MPEG mpg)"
ff -f lavfi -i "$(src 720x576 3)" -f lavfi -i "$(aud 480 3)" -c:v mpeg2video -c:a mp2 \
    -shortest -f vob "$(name MPEG mpg)"
ff -f lavfi -i "$(src 352x240 3)" -c:v mpeg1video -f mpeg1video "$(name MPEG m1v)"
for i in 0 1; do
    ff -f lavfi -i "$(src 720x480 $((3 + i)))" -f lavfi -i "$(aud 500 $((3 + i)))" \
        -target ntsc-dvd -shortest "$(name VOB vob)"
done
ff -f lavfi -i "$(src 720x576 2)" -f lavfi -i "$(aud 440 2)" -target pal-dv -shortest "$(name DV dv)"
ff -f lavfi -i "$(src 720x480 2)" -f lavfi -i "$(aud 440 2)" -target ntsc-dv -shortest "$(name DV dv)"
for i in 0 1; do
    ff -f lavfi -i "$(src 320x240 $((3 + i)))" -f lavfi -i "$(aud 380 $((3 + i)))" \
        -c:v wmv2 -c:a wmav2 -shortest "$(name ASF wmv)"
done
ff -f lavfi -i "$(src 320x240 3)" -c:v wmv2 -f asf "$(name ASF asf)"
ff -f lavfi -i "$(src 320x240 3)" -f lavfi -i "$(aud 440 3)" -c:v rv10 -c:a ac3 -shortest \
    "$(name RM rm)" 2>/dev/null || true
rm -f thumb.jpg

# ---- the card ----
cd "$OUT"
rm -f card.img
truncate -s "${CARD_MIB}M" card.img
mkfs.fat -F 32 -s 8 -n KESTRUMCARD card.img >/dev/null
export MTOOLS_SKIP_CHECK=1
mmd -i card.img ::DCIM ::MEDIA
# Shuffled with a fixed seed, so types are mixed on the card as a camera and a phone mix them.
mapfile -t all < <(ls "$FILES" | python3 -c 'import sys,random; l=sys.stdin.read().split(); random.Random(7).shuffle(l); print("\n".join(l))')
for f in "${all[@]}"; do
    mcopy -i card.img "$FILES/$f" "::DCIM/$f"
done
deleted=()
for idx in "${!all[@]}"; do
    if [ $((idx % 3)) -eq 1 ]; then
        mdel -i card.img "::DCIM/${all[idx]}"
        deleted+=("${all[idx]}")
    fi
done
printf '%s\n' "${deleted[@]}" >deleted.txt
python3 "$ROOT/bench/corpus_manifest.py" card.img "$FILES" deleted.txt >manifest.tsv
echo "card: $OUT/card.img ($CARD_MIB MiB), $(($(wc -l <manifest.tsv) - 1)) files, ${#deleted[@]} deleted"

# ---- reused cards: filled, a third deleted, shot again ----
# Half of the files fill a card; a third of those are deleted and the other half is shot
# onto it, into the freed clusters, so old headers claim sectors of newer files. Only
# files still stored whole are placed (corpus_manifest.py).
mapfile -t firstHalf < <(for i in "${!all[@]}"; do [ $((i % 2)) -eq 0 ] && echo "${all[i]}"; done)
mapfile -t secondHalf < <(for i in "${!all[@]}"; do [ $((i % 2)) -eq 1 ] && echo "${all[i]}"; done)
halfBytes=$(cd "$FILES" && du -cb "${firstHalf[@]}" | tail -1 | cut -f1)
RESHOOT_MIB=$((halfBytes * 9 / 10 / 1048576 + 40))   # the first half does not all fit
reshoot() {  # FS IMAGE: copies through COPY, deletes through DELETE
    local fs=$1 img=$2 mnt="$OUT/mnt" loop="" n=0
    rm -f "$img"
    truncate -s "${RESHOOT_MIB}M" "$img"
    if [ "$fs" = fat32 ]; then
        # Small clusters: a card this size needs them to hold enough for FAT32.
        mkfs.fat -F 32 -s 2 -n RESHOOT "$img" >/dev/null
        copy() { mcopy -i "$img" "$FILES/$1" "::$1" 2>/dev/null; }
        remove() { mdel -i "$img" "::$1"; }
    else
        mkfs.exfat -c 32K "$img" >/dev/null
        loop=$(losetup -f --show "$img")
        mkdir -p "$mnt"
        mount.exfat-fuse "$loop" "$mnt"
        copy() { cp "$FILES/$1" "$mnt/$1" 2>/dev/null || { rm -f "$mnt/$1"; return 1; }; }
        remove() { rm "$mnt/$1"; }
    fi
    local kept=()
    for f in "${firstHalf[@]}"; do copy "$f" && kept+=("$f") || break; done
    local gone=()
    for i in "${!kept[@]}"; do
        [ $((i % 3)) -eq 1 ] && { remove "${kept[i]}"; gone+=("${kept[i]}"); }
    done
    for f in "${secondHalf[@]}"; do copy "$f" && n=$((n + 1)) || break; done
    if [ -n "$loop" ]; then sync; umount "$mnt"; losetup -d "$loop"; fi
    printf '%s\n' "${gone[@]}" >"${img%.img}.deleted"
    python3 "$ROOT/bench/corpus_manifest.py" "$img" "$FILES" "${img%.img}.deleted" >"${img%.img}.tsv"
    echo "$(basename "$img"): ${#kept[@]} written, ${#gone[@]} deleted, $n shot again," \
         "$(awk -F'\t' 'NR > 1 && $5 >= 0' "${img%.img}.tsv" | wc -l) stored whole"
}
reshoot fat32 "$OUT/reshoot-fat32.img"
if command -v mount.exfat-fuse >/dev/null && [ "$(id -u)" -eq 0 ]; then
    reshoot exfat "$OUT/reshoot-exfat.img"
else
    echo "make-corpus.sh: no exFAT card (needs root and exfat-fuse)" >&2
fi
# Cut files before intact ones, unfinished recordings, two-piece and interleaved files.
python3 "$ROOT/bench/reuse_images.py" "$FILES" "$OUT"
