#!/bin/sh
# Makes the JPEG files of the carver tests (ImageMagick and exiftool).
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A camera-like picture: a large Exif block with an embedded thumbnail (whose own
# end-of-image marker comes long before the picture's).
convert -seed 7 -size 320x240 plasma:red-blue -quality 80 "$tmp/main.jpg"
convert -seed 7 -size 160x120 plasma:red-blue -quality 70 "$tmp/thumb.jpg"
rm -f jpeg-camera.jpg
exiftool -q -o jpeg-camera.jpg -Make=Kestrum -Model="Test Camera" \
    -ImageDescription="$(head -c 3000 /dev/zero | tr '\0' x)" \
    "-ThumbnailImage<=$tmp/thumb.jpg" "$tmp/main.jpg"

# Progressive: several scans with Huffman tables between them.
convert -seed 11 -size 256x192 plasma:green-yellow -quality 75 -interlace Plane jpeg-progressive.jpg

# Restart markers (ffmpeg's encoder restarts at each slice: 14 markers, 0..7 twice).
ffmpeg -v error -y -f lavfi -i testsrc2=s=320x240 -frames:v 1 -threads 4 -slices 4 \
    -c:v mjpeg -q:v 5 -pix_fmt yuvj420p -fflags +bitexact -flags +bitexact jpeg-restart.jpg

# Lossless JPEG-LS: an FF in its scans may be followed by any byte below 80.
ffmpeg -v error -y -f lavfi -i testsrc2=s=64x48 -frames:v 1 -c:v jpegls -pix_fmt rgb24 \
    -f image2 jpeg-ls.jpg

# A motion photo: XMP that announces a video, and an MP4 right after the picture.
rm -f jpeg-motion-photo.jpg
exiftool -q -o "$tmp/motion.jpg" -XMP-GCamera:MicroVideo=1 -XMP-GCamera:MicroVideoVersion=1 \
    -XMP-GCamera:MicroVideoOffset="$(stat -c %s ../clip.mp4)" jpeg-restart.jpg
cat "$tmp/motion.jpg" ../clip.mp4 > jpeg-motion-photo.jpg
