#!/usr/bin/env bash
# Regenerates the small media files in tests/data with real encoders (ImageMagick,
# ffmpeg), plus the few byte edits that make their headers match our detection rules.
#
#   bash scripts/make-test-media.sh [OUTDIR]      (default: tests/data)
#
# Output is deterministic for a given ImageMagick/ffmpeg version: bit-exact flags, no
# metadata, fixed sizes and seeds. Every edit checks the bytes it expects first, so a
# changed encoder layout fails loudly instead of producing a file that silently stops
# matching. tests/data/README.md says what each file is expected to be found as.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="${1:-$ROOT/tests/data}"
mkdir -p "$OUT"
OUT="$(cd "$OUT" && pwd)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

for tool in convert ffmpeg xxd; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

FF=(ffmpeg -hide_banner -loglevel error -nostdin -y -threads 1)
EXACT=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact -map_metadata -1 -map_chapters -1)
TONE=(-f lavfi -i "sine=frequency=440:duration=0.5:sample_rate=8000")
PICTURE=(-seed 7 plasma:red-blue -depth 8)

# --- byte helpers -------------------------------------------------------------------

# Writes the given hexadecimal bytes ("1a45dfa3 93") to stdout.
hexbytes() { printf '%s' "$*" | tr -d ' ' | xxd -r -p; }
le16() { printf '%04x' "$1" | sed 's/\(..\)\(..\)/\2\1/' | xxd -r -p; }
le32() { printf '%08x' "$1" | sed 's/\(..\)\(..\)\(..\)\(..\)/\4\3\2\1/' | xxd -r -p; }
be32() { printf '%08x' "$1" | xxd -r -p; }
# Hex of count bytes of file at offset.
peek() { xxd -p -s "$2" -l "$3" "$1" | tr -d '\n'; }
# Stops when the encoder wrote something other than the layout an edit relies on.
expect() {
    local got
    got="$(peek "$1" "$2" $((${#3} / 2)))"
    [ "$got" = "$3" ] || { echo "$1: expected $3 at $2, found $got" >&2; exit 1; }
}
# Overwrites bytes at offset with stdin.
patch_at() { dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
fsize() { stat -c %s "$1"; }

# --- JPEG ---------------------------------------------------------------------------
# ImageMagick (libjpeg) always writes the JFIF APP0 segment first. The two other JPEG
# header forms that the rules know start with DQT or with an Exif APP1 of exactly 410
# bytes, so those files are the same encoder output with the 18-byte APP0 taken out.

without_app0() {
    expect "$1" 0 ffd8ffe000104a464946
    { head -c 2 "$1"; tail -c +21 "$1"; } >"$2"
}

# An Exif APP1 payload: "Exif\0\0" and a little-endian TIFF block with one IFD
# (ImageDescription, Make, Model, Orientation) whose description fills it out to
# tiffBytes. The APP1 length field is tiffBytes + 8.
exif_blob() {
    local descLen=$(($1 - 82))
    {
        printf 'Exif\0\0'
        hexbytes 49492a00 08000000
        le16 4
        le16 0x010e; le16 2; le32 "$descLen"; le32 82
        le16 0x010f; le16 2; le32 8; le32 62
        le16 0x0110; le16 2; le32 12; le32 70
        le16 0x0112; le16 3; le32 1; le32 1
        le32 0
        printf 'Kestrum\0'
        printf 'Test Camera\0'
        head -c $((descLen - 1)) < <(yes 'Kestrum test picture.' | tr '\n' ' ')
        printf '\0'
    }
}

convert -size 160x120 "${PICTURE[@]}" -strip -quality 75 "$OUT/jpeg-jfif.jpg"
without_app0 "$OUT/jpeg-jfif.jpg" "$OUT/jpeg-dqt.jpg"
expect "$OUT/jpeg-dqt.jpg" 0 ffd8ffdb004300

exif_blob 402 >"$WORK/exif410.bin"
convert -size 160x120 "${PICTURE[@]}" -strip -profile "APP1:$WORK/exif410.bin" -quality 75 "$WORK/exif410.jpg"
without_app0 "$WORK/exif410.jpg" "$OUT/jpeg-exif.jpg"
expect "$OUT/jpeg-exif.jpg" 0 ffd8ffe1019a4578

# Same picture with a shorter Exif block: a valid camera-style JPEG that no rule finds.
exif_blob 202 >"$WORK/exif210.bin"
convert -size 160x120 "${PICTURE[@]}" -strip -profile "APP1:$WORK/exif210.bin" -quality 75 "$WORK/exif210.jpg"
without_app0 "$WORK/exif210.jpg" "$OUT/jpeg-exif-other-length.jpg"
expect "$OUT/jpeg-exif-other-length.jpg" 0 ffd8ffe100d24578

# --- other pictures -----------------------------------------------------------------

convert -size 64x48 "${PICTURE[@]}" -strip png:"$OUT/picture.png"
convert -size 64x48 "${PICTURE[@]}" -strip -colors 32 gif:"$OUT/picture.gif"
convert -size 48x32 "${PICTURE[@]}" -strip BMP3:"$OUT/picture.bmp"
convert -size 40x30 "${PICTURE[@]}" -strip -endian LSB -compress none tiff:"$OUT/picture-le.tif"
expect "$OUT/picture-le.tif" 0 49492a00
convert -size 40x30 "${PICTURE[@]}" -strip psd:"$OUT/picture.psd"
convert -size 64x48 "${PICTURE[@]}" -strip -quality 40 jp2:"$OUT/picture.jp2"

# --- audio --------------------------------------------------------------------------

"${FF[@]}" "${TONE[@]}" "${EXACT[@]}" -ac 1 -c:a pcm_s16le "$OUT/tone.wav"

# ffmpeg writes the date as an ICRD entry of a LIST INFO chunk ahead of the samples.
"${FF[@]}" "${TONE[@]}" "${EXACT[@]}" -metadata date=2009-01-01 -ac 1 -c:a pcm_s16le "$OUT/tone-icrd-header.wav"
expect "$OUT/tone-icrd-header.wav" 48 494352440b000000

# The same INFO chunk after the samples, where recorders that write it put it.
cp "$OUT/tone.wav" "$OUT/tone-icrd-trailer.wav"
{ printf 'LIST'; le32 24; printf 'INFOICRD'; le32 11; printf '2009-01-01\0\0'; } >>"$OUT/tone-icrd-trailer.wav"
le32 $(($(fsize "$OUT/tone-icrd-trailer.wav") - 8)) | patch_at "$OUT/tone-icrd-trailer.wav" 4

"${FF[@]}" -f lavfi -i "sine=frequency=440:duration=1:sample_rate=22050" "${EXACT[@]}" \
    -c:a libmp3lame -b:a 32k -id3v2_version 3 "$OUT/tone.mp3"
expect "$OUT/tone.mp3" 0 49443303

"${FF[@]}" "${TONE[@]}" "${EXACT[@]}" -ac 1 -c:a libvorbis -q:a 0 "$OUT/tone.ogg"
"${FF[@]}" "${TONE[@]}" "${EXACT[@]}" -ac 1 -c:a pcm_s16be "$OUT/tone.au"
"${FF[@]}" "${TONE[@]}" "${EXACT[@]}" -ac 1 -c:a wmav2 -b:a 32k "$OUT/tone.wma"
expect "$OUT/tone.wma" 0 3026b2758e66cf11

"${FF[@]}" "${TONE[@]}" "${EXACT[@]}" -ac 1 -c:a pcm_s16be "$OUT/tone.aiff"
expect "$OUT/tone.aiff" 0 464f524d
# An application chunk at the end, as audio editors add one.
cp "$OUT/tone.aiff" "$OUT/tone-appl.aiff"
{ printf 'APPL'; be32 12; printf 'KSTMkestrum\0'; } >>"$OUT/tone-appl.aiff"
be32 $(($(fsize "$OUT/tone-appl.aiff") - 8)) | patch_at "$OUT/tone-appl.aiff" 4

# MIDI, format 0, one track at 96 ticks per quarter: tempo, program, two notes.
{
    printf 'MThd'; be32 6; hexbytes 0000 0001 0060
    printf 'MTrk'; be32 30
    hexbytes 00ff5103 07a120 00c000 00903c40 60803c40 00904040 60804040 00ff2f00
} >"$OUT/notes.mid"

# --- video --------------------------------------------------------------------------

CLIP=(-f lavfi -i "testsrc=size=64x48:rate=10:duration=1")

"${FF[@]}" "${CLIP[@]}" "${EXACT[@]}" -c:v mpeg4 -q:v 10 "$OUT/clip.avi"
expect "$OUT/clip.avi" 8 415649204c495354

# The MPEG rules know a 320x200 MPEG-1 sequence header at 23.976 frames/s, and a pack
# header whose clock reference is 12544..12671 (a 0.14 s mux preload). ffmpeg writes
# neither the sequence end code nor the program end code, so they are appended.
MPEGCLIP=(-f lavfi -i "testsrc=size=320x200:rate=24000/1001:duration=0.5")
"${FF[@]}" "${MPEGCLIP[@]}" "${EXACT[@]}" -c:v mpeg1video -q:v 10 -f mpeg1video "$OUT/clip-mpeg1.m1v"
expect "$OUT/clip-mpeg1.m1v" 0 000001b31400c811
hexbytes 000001b7 >>"$OUT/clip-mpeg1.m1v"
"${FF[@]}" "${MPEGCLIP[@]}" "${EXACT[@]}" -c:v mpeg1video -q:v 10 -muxpreload 0.14 -muxdelay 0 -f mpeg \
    -loglevel fatal "$OUT/clip-mpeg1.mpg"
expect "$OUT/clip-mpeg1.mpg" 0 000001ba21000162
hexbytes 000001b9 >>"$OUT/clip-mpeg1.mpg"
"${FF[@]}" "${MPEGCLIP[@]}" "${EXACT[@]}" -c:v mpeg2video -q:v 10 -f vob "$OUT/clip.vob"
expect "$OUT/clip.vob" 0 000001ba440004000401
hexbytes 000001b9 >>"$OUT/clip.vob"

# ISO media as ffmpeg writes it: ftyp sizes and brands that the rules do not know.
"${FF[@]}" "${CLIP[@]}" "${EXACT[@]}" -c:v mpeg4 -q:v 10 "$OUT/clip.mp4"
"${FF[@]}" "${CLIP[@]}" "${EXACT[@]}" -c:v mpeg4 -q:v 10 "$OUT/clip.mov"
"${FF[@]}" "${CLIP[@]}" "${EXACT[@]}" -c:v mpeg4 -q:v 10 -f ipod "$OUT/clip.m4v"
"${FF[@]}" "${CLIP[@]}" "${EXACT[@]}" -c:v h263 -s 128x96 -q:v 10 -f 3g2 "$OUT/clip.3g2"
expect "$OUT/clip.3g2" 0 0000001c6674797033673261

# The MP4 with a 20-byte "mp42" ftyp plus an 8-byte free box in place of its 28-byte
# ftyp: same length, so every chunk offset stays right.
cp "$OUT/clip.mp4" "$OUT/clip-mp42.mp4"
expect "$OUT/clip-mp42.mp4" 0 0000001c6674797069736f6d
hexbytes 00000014 66747970 6d703432 00000000 69736f6d 00000008 66726565 | patch_at "$OUT/clip-mp42.mp4" 0

# The MOV as classic QuickTime without ftyp: its 20-byte ftyp becomes a "wide" atom
# and a 12-byte "free" atom.
cp "$OUT/clip.mov" "$OUT/clip-classic.mov"
expect "$OUT/clip-classic.mov" 0 00000014667479707174202000000200717420200000000877696465
hexbytes 00000008 77696465 0000000c 66726565 00000000 | patch_at "$OUT/clip-classic.mov" 0

# Matroska as ffmpeg writes it starts its EBML header with EBMLVersion; older writers
# put DocType first and left out the four elements that hold default values. Dropping
# them moves only the header: positions inside the segment are segment-relative.
"${FF[@]}" "${CLIP[@]}" "${EXACT[@]}" -c:v mpeg4 -q:v 10 "$OUT/clip.mkv"
expect "$OUT/clip.mkv" 0 1a45dfa3a34286810142f7810142f2810442f381084282886d6174726f736b614287810442858102
{ hexbytes 1a45dfa3 93 4282 88; printf 'matroska'; hexbytes 42878104 42858102; tail -c +41 "$OUT/clip.mkv"; } \
    >"$OUT/clip-doctype-first.mkv"

"${FF[@]}" "${CLIP[@]}" "${EXACT[@]}" -c:v wmv2 -q:v 10 "$OUT/clip.asf"
expect "$OUT/clip.asf" 0 3026b2758e66cf11

# One NTSC DV frame (DV25, 4:1:1): 120000 bytes, the smallest DV file there is.
"${FF[@]}" -f lavfi -i "testsrc=size=720x480:rate=30000/1001" -frames:v 1 "${EXACT[@]}" \
    -pix_fmt yuv411p -c:v dvvideo -f dv "$OUT/frame-ntsc.dv"
expect "$OUT/frame-ntsc.dv" 0 1f07003ff9797979

"${FF[@]}" "${CLIP[@]}" "${EXACT[@]}" -c:v rv10 -f rm "$OUT/clip.rm"
expect "$OUT/clip.rm" 0 2e524d46

echo "Wrote $(find "$OUT" -type f ! -name README.md | wc -l) files ($(du -sk --exclude=README.md "$OUT" | cut -f1) KB) to $OUT"
