#!/bin/bash
# Regenerates the TIFF carver's test files (ImageMagick 6.9.11, exiftool 12.x as in Debian 12).
# The camera-like files are convert TIFFs given a maker's tags by exiftool; their text
# values have even lengths, so exiftool adds no pad byte after the last one.
set -euo pipefail
cd "$(dirname "$0")"

convert -seed 7 -size 40x30 plasma: -depth 8 -compress lzw -define tiff:endian=lsb \
    -define tiff:rows-per-strip=8 tiff-strips-le.tif
convert -seed 7 -size 40x30 plasma: -depth 8 -define tiff:endian=msb \
    -define tiff:rows-per-strip=8 tiff-strips-be.tif
convert -seed 7 -size 64x48 plasma: -depth 8 -compress zip -define tiff:tile-geometry=16x16 \
    tiff-tiles.tif
convert -seed 3 -size 32x24 plasma: -seed 4 -size 32x24 plasma: -seed 5 -size 32x24 plasma: \
    -compress lzw tiff-pages.tif

# DNGVersion makes a DNG whatever the maker.
cp tiff-strips-le.tif tiff-dng.tif
exiftool -q -overwrite_original -Make=Canon -Model="Canon EOS 350D" -DNGVersion=1.4.0.0 \
    -UniqueCameraModel="Tests" tiff-dng.tif
# A maker's name with a CFA pattern: the Make is a placeholder of fixed length that
# the tests overwrite with each maker's name.
cp tiff-strips-be.tif tiff-cfa.tif
exiftool -q -overwrite_original -Make="MAKER PLACEHOLDER 123456" -Model="Model 1" \
    -IFD0:CFARepeatPatternDim="2 2" -IFD0:CFAPattern2="0 1 1 2" tiff-cfa.tif
# The same maker's name without raw marks: a camera's plain TIFF.
cp tiff-strips-le.tif tiff-nikon-plain.tif
exiftool -q -overwrite_original -Make="NIKON CORPORATION" -Model="COOLPIX 5" tiff-nikon-plain.tif
# Exif, GPS and Interop directories, an XMP packet: exiftool writes the directories
# first and the image data last.
cp tiff-strips-be.tif tiff-exif-gps.tif
exiftool -q -overwrite_original -GPSLatitude=10.5 -GPSLatitudeRef=N -ExposureTime=1/100 \
    -InteropIndex=R98 -XMP:Title=Sample -Artist=Tests tiff-exif-gps.tif
