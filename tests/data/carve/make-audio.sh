#!/usr/bin/env bash
# Regenerates the encoder-made audio and video files the audio carver tests measure
# (RIFF, MPEG audio, Ogg, AIFF, AU families); every file is a real encoder's output,
# unedited. Run from anywhere: bash tests/data/carve/make-audio.sh
set -euo pipefail
cd "$(dirname "$0")"

FF=(ffmpeg -hide_banner -loglevel error -nostdin -y -threads 1)
EXACT=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact -map_metadata -1)
sine() { echo "sine=frequency=$1:duration=$2:sample_rate=$3"; }

# RIFF: WAV with a LIST/INFO chunk after the samples' format; 8-bit WAV with an odd
# sample count (data chunk padded); WAV written to a pipe (sizes left open); RF64 WAV
# (64-bit sizes in ds64); an MPEG-4 part 2 AVI tagged XVID (a DivX-family file).
"${FF[@]}" -f lavfi -i "$(sine 440 0.25 8000)" "${EXACT[@]}" -metadata title=Tone \
    -metadata artist=Kestrum -c:a pcm_s16le wav-list.wav
"${FF[@]}" -f lavfi -i "$(sine 440 0.2 8000)" "${EXACT[@]}" -af atrim=end_sample=801 \
    -c:a pcm_u8 wav-odd.wav
"${FF[@]}" -f lavfi -i "$(sine 440 0.1 8000)" "${EXACT[@]}" -c:a pcm_s16le -f wav - >wav-pipe.wav
"${FF[@]}" -f lavfi -i "$(sine 440 0.1 8000)" "${EXACT[@]}" -c:a pcm_s16le -rf64 always wav-rf64.wav
"${FF[@]}" -f lavfi -i testsrc=size=64x48:rate=10:duration=0.3 "${EXACT[@]}" -c:v mpeg4 \
    -vtag XVID -q:v 10 clip-xvid.avi

# MPEG audio: no ID3v2 tag; ID3v2 and ID3v1 tags; VBR at 44.1 kHz; MPEG-1 layer II.
"${FF[@]}" -f lavfi -i "$(sine 440 0.3 22050)" "${EXACT[@]}" -c:a libmp3lame -b:a 32k \
    -id3v2_version 0 mp3-bare.mp3
"${FF[@]}" -f lavfi -i "$(sine 440 0.3 22050)" "${EXACT[@]}" -c:a libmp3lame -b:a 32k \
    -id3v2_version 4 -write_id3v1 1 -metadata title=Tone mp3-id3v1.mp3
"${FF[@]}" -f lavfi -i "$(sine 440 0.3 44100)" "${EXACT[@]}" -c:a libmp3lame -q:a 6 \
    -id3v2_version 3 mp3-vbr.mp3
"${FF[@]}" -f lavfi -i "$(sine 440 0.3 32000)" "${EXACT[@]}" -c:a mp2 -b:a 64k -f mp2 tone.mp2

# Ogg: Opus audio; Theora video multiplexed with Vorbis audio.
"${FF[@]}" -f lavfi -i "$(sine 440 0.3 48000)" "${EXACT[@]}" -c:a libopus -b:a 16k tone-opus.ogg
"${FF[@]}" -f lavfi -i testsrc=size=32x32:rate=5:duration=0.4 -f lavfi -i "$(sine 440 0.4 8000)" \
    "${EXACT[@]}" -c:v libtheora -q:v 1 -c:a libvorbis -q:a 0 -shortest clip-theora.ogg

# AIFF-C (32-bit float samples) and AU written to a pipe (data size left unknown).
"${FF[@]}" -f lavfi -i "$(sine 440 0.1 8000)" "${EXACT[@]}" -c:a pcm_f32be -f aiff tone.aifc
"${FF[@]}" -f lavfi -i "$(sine 440 0.1 8000)" "${EXACT[@]}" -c:a pcm_s16be -f au - >au-pipe.au
