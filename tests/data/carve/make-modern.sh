#!/usr/bin/env bash
# Regenerates the encoder-made files of today's phone and camera formats the
# modern carver tests measure (HEIF, AVIF, WebP, JPEG XL, FLAC, M4A, ADTS AAC, AMR,
# 3GP, MPEG transport streams); every file is a real encoder's output, unedited.
# Run from anywhere: bash tests/data/carve/make-modern.sh
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

FF=(ffmpeg -hide_banner -loglevel error -nostdin -y -threads 1)
EXACT=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact -map_metadata -1)
sine() { echo "sine=frequency=$1:duration=$2:sample_rate=$3"; }

# Pictures: a 64x48 test card, as HEIC, AVIF, lossy and lossless WebP and JPEG XL.
"${FF[@]}" -f lavfi -i testsrc=size=64x48 -frames:v 1 "$tmp/card.png"
heif-enc -q 30 "$tmp/card.png" -o photo.heic >/dev/null
heif-enc -A -q 30 "$tmp/card.png" -o photo.avif >/dev/null
cwebp -quiet -q 30 "$tmp/card.png" -o photo-lossy.webp
cwebp -quiet -lossless "$tmp/card.png" -o photo-lossless.webp
cjxl --quiet -d 4 "$tmp/card.png" photo.jxl 2>/dev/null || cjxl -d 4 "$tmp/card.png" photo.jxl

# Audio: FLAC, AAC in MP4 (M4A) and as ADTS frames. (Debian's ffmpeg has no AMR
# encoder: the AMR tests build their frames from the mode table.)
"${FF[@]}" -f lavfi -i "$(sine 440 0.4 8000)" "${EXACT[@]}" -c:a pcm_s16le "$tmp/tone.wav"
flac --silent -f --no-padding -b 1152 "$tmp/tone.wav" -o tone.flac
"${FF[@]}" -f lavfi -i "$(sine 440 0.3 16000)" "${EXACT[@]}" -c:a aac -b:a 24k tone-aac.m4a
"${FF[@]}" -f lavfi -i "$(sine 440 0.3 16000)" "${EXACT[@]}" -c:a aac -b:a 24k -f adts tone.aac

# Video: MPEG-2 in a transport stream with 188-byte packets, and with 192-byte
# packets as camcorders write them (M2TS).
"${FF[@]}" -f lavfi -i testsrc=size=64x48:rate=10:duration=0.3 "${EXACT[@]}" -c:v mpeg2video \
    -q:v 10 -f mpegts clip.ts
"${FF[@]}" -f lavfi -i testsrc=size=64x48:rate=10:duration=0.3 "${EXACT[@]}" -c:v mpeg2video \
    -q:v 10 -f mpegts -mpegts_m2ts_mode 1 clip.m2ts
