#!/bin/bash
# Remakes the video carving test files with ffmpeg (Debian 12's 5.1). Every clip
# is a fraction of a second of a small test picture, so each file stays small.
set -euo pipefail
cd "$(dirname "$0")"
# The last argument is the output; bit-exact flags keep random ids and version
# strings out, so the files come out the same on every run.
ff() { ffmpeg -nostdin -v error -y "${@:1:$#-1}" -fflags +bitexact -flags +bitexact "${@: -1}"; }
pic=(-f lavfi -i testsrc=s=64x48:r=10:d=0.3)
tone=(-f lavfi -i sine=f=440:d=0.3)

# Matroska family: WebM (VP8 + Opus), and Matroska written to a pipe, where the
# writer cannot go back to fill in sizes (Segment and Clusters of unknown size).
ff "${pic[@]}" "${tone[@]}" -c:v libvpx -b:v 50k -c:a libopus -b:a 16k clip.webm
ff "${pic[@]}" -c:v mpeg4 -f matroska pipe:1 > clip-pipe.mkv

# ISO base media: moov first (faststart), fragmented, 3GPP, AAC audio only, MOV with moov first.
ff "${pic[@]}" -c:v mpeg4 -movflags +faststart clip-faststart.mp4
ff "${pic[@]}" -c:v mpeg4 -movflags frag_keyframe+empty_moov -g 1 clip-fragmented.mp4
ff -f lavfi -i testsrc=s=128x96:r=10:d=0.3 -c:v h263 -f 3gp clip.3gp
ff "${tone[@]}" -c:a aac -b:a 16k tone.m4a
ff "${pic[@]}" -c:v mpeg4 -movflags +faststart clip-faststart.mov

# DVD-Video program stream: navigation packs (private stream 2) in every VOBU.
ff -f lavfi -i color=c=gray:s=720x480:r=30000/1001:d=0.1 -target ntsc-dvd -an clip-dvd.vob
