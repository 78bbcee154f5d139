#!/usr/bin/env bash
# Today's phone and camera formats on a fresh FAT32 card, side by side with PhotoRec:
# one file of every thorough-only type (encoder output, or a shared camera sample where
# no encoder exists) beside a few known types, then `scan --thorough --save` and
# `photorec` on the same image. Prints per placed file: found and byte-exact for each.
#
#   bash bench/modern-formats.sh [WORKDIR]     (default /var/tmp/kestrum-modern)
#
# Not a test: CI never runs it.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
WORK="${1:-/var/tmp/kestrum-modern}"
RECOVER="${KESTRUM_BUILD:-$ROOT/build}/bin/kestrum-recover"
SAMPLES="$ROOT/../shared/samples"
die() { echo "modern-formats.sh: $*" >&2; exit 1; }
[ -x "$RECOVER" ] || die "$RECOVER is missing: build first"
for t in photorec mkfs.vfat mcopy ffmpeg heif-enc cwebp cjxl flac python3; do
    command -v "$t" >/dev/null || die "$t is missing"
done
rm -rf "$WORK"
mkdir -p "$WORK/files" "$WORK/out"
F="$WORK/files"
FF=(ffmpeg -hide_banner -loglevel error -nostdin -y -threads 1)

# Pictures a phone makes: 1280x960 from ffmpeg's test card.
"${FF[@]}" -f lavfi -i testsrc2=size=1280x960 -frames:v 1 "$WORK/card.png"
heif-enc -q 60 "$WORK/card.png" -o "$F/photo.heic" >/dev/null
heif-enc -A -q 60 "$WORK/card.png" -o "$F/photo.avif" >/dev/null
cwebp -quiet -q 70 "$WORK/card.png" -o "$F/photo.webp"
cjxl -d 2 "$WORK/card.png" "$F/photo.jxl" >/dev/null 2>&1
"${FF[@]}" -i "$WORK/card.png" -q:v 3 "$F/known.jpg"
"${FF[@]}" -i "$WORK/card.png" "$F/known.png"
# Audio: 20 s of a tune.
tune="sine=frequency=440:duration=20:sample_rate=44100"
"${FF[@]}" -f lavfi -i "$tune" -c:a pcm_s16le "$WORK/tune.wav"
flac --silent -f "$WORK/tune.wav" -o "$F/music.flac"
"${FF[@]}" -i "$WORK/tune.wav" -c:a aac -b:a 96k "$F/voice.m4a"
"${FF[@]}" -i "$WORK/tune.wav" -c:a aac -b:a 96k -f adts "$F/stream.aac"
"${FF[@]}" -i "$WORK/tune.wav" -c:a libmp3lame -b:a 128k "$F/known.mp3"
cp "$WORK/tune.wav" "$F/known.wav"
# AMR: Debian's ffmpeg has no AMR encoder; 20 s of 12.2 kbit/s frames laid out by the
# mode table (header byte, then 31 bytes of pseudo-random speech bits).
python3 -c '
import random, sys
random.seed(1)
sys.stdout.buffer.write(b"#!AMR\n" + b"".join(bytes([0x3C]) + random.randbytes(31) for _ in range(1000)))
' >"$F/voice.amr"
# Video: 5 s.
clip="testsrc=size=640x360:rate=25:duration=5"
"${FF[@]}" -f lavfi -i "$clip" -c:v mpeg2video -q:v 5 -f mpegts "$F/broadcast.ts"
"${FF[@]}" -f lavfi -i "$clip" -c:v mpeg2video -q:v 5 -f mpegts -mpegts_m2ts_mode 1 "$F/camcorder.mts"
"${FF[@]}" -f lavfi -i "$clip" -c:v h263 -s 352x288 "$F/phone.3gp"
"${FF[@]}" -f lavfi -i "$clip" -c:v mpeg4 -q:v 5 "$F/known.mp4"
# Camera files no Debian encoder writes: the shared samples (trimmed by their project,
# so a partial find is the honest one).
for s in exiftool-CanonRaw.cr3 exiftool-PhaseOne.iiq exiftool-MXF.mxf; do
    [ -f "$SAMPLES/$s" ] && cp "$SAMPLES/$s" "$F/sample-${s#exiftool-}"
done

# A 64 MB FAT32 card holding them all: fresh (zeros in the slack behind each file), and
# reused (the old card's bytes, here random, in the slack and free space).
measure() {  # NAME PREFILL
    local name=$1 img="$WORK/$1.img" out="$WORK/out/$1"
    mkdir -p "$out/ours" "$out/photorec"
    if [ "$2" = random ]; then head -c 64M /dev/urandom >"$img"; else truncate -s 64M "$img"; fi
    mkfs.vfat -F 32 -n CARD "$img" >/dev/null
    for f in "$F"/*; do mcopy -i "$img" "$f" ::/; done
    KESTRUM_REGISTRY="$out/registry" "$RECOVER" scan "$img" --types all --thorough \
        --save "$out/ours" >"$out/ours.log" 2>&1
    (cd "$out" && photorec /log /d "$out/photorec/recup" /cmd "$img" \
        partition_none,fileopt,everything,enable,search >/dev/null 2>&1)
    echo "== $name card"
    report "$out/ours" "$out/photorec"
}

report() {
python3 - "$F" "$1" "$2" <<'PY'
import hashlib, os, sys
files, tools = sys.argv[1], {"ours": sys.argv[2], "photorec": sys.argv[3]}
def outputs(d):
    out = []
    for root, _, names in os.walk(d):
        for n in names:
            if n.endswith((".log", ".xml")) or "registry" in root: continue
            out.append(open(os.path.join(root, n), "rb").read())
    return out
found = {t: outputs(d) for t, d in tools.items()}
print(f"{'file':28} {'bytes':>9}  {'ours':16} {'photorec':16}")
totals = {t: [0, 0] for t in tools}
for name in sorted(os.listdir(files)):
    data = open(os.path.join(files, name), "rb").read()
    row = []
    for t in tools:
        exact = any(o == data for o in found[t])
        # Found: an output that starts with the file's first 4 KB, or is a prefix of
        # at least half the file (a trimmed sample measured short).
        n = min(4096, len(data))
        hit = exact or any(o[:n] == data[:n] or (len(o) >= len(data) // 2 and
                                                 data[:len(o)] == o) for o in found[t])
        totals[t][0] += hit
        totals[t][1] += exact
        row.append("exact" if exact else "found, not exact" if hit else "-")
    print(f"{name:28} {len(data):9}  {row[0]:16} {row[1]:16}")
n = len(os.listdir(files))
print("found / byte-exact of", n, ":", ", ".join(f"{t} {a}/{b}" for t, (a, b) in totals.items()))
PY
}

measure fresh zeros
measure reused random
