#!/bin/sh
# Makes the PNG, GIF, BMP, PSD and JPEG 2000 files of the carver tests
# (ImageMagick 6 and ffmpeg).
set -e
cd "$(dirname "$0")"

# PNG: 16-bit interlaced, palette, and an animated one (APNG, with acTL/fcTL/fdAT).
convert -seed 3 -size 48x36 plasma:blue-white -depth 16 -interlace PNG png-interlaced16.png
convert -seed 4 -size 64x48 plasma:red-green -colors 16 PNG8:png-palette.png
ffmpeg -v error -y -f lavfi -i testsrc2=s=64x48:r=5 -frames:v 4 -plays 0 -f apng png-animated.png

# GIF: animated (application extension, control extensions, local tables), and 87a.
convert -delay 10 -loop 0 -size 40x30 xc:red xc:green \( -seed 5 plasma:blue-yellow \) \
    -local-colors gif-animated.gif 2>/dev/null ||
    convert -delay 10 -loop 0 -size 40x30 xc:red xc:green \( -seed 5 plasma:blue-yellow \) gif-animated.gif
convert -seed 6 -size 50x40 plasma:green-red -colors 64 GIF87:gif-87a.gif

# BMP: the 124-byte header with alpha, the OS/2 12-byte header, run-length coded 8-bit.
convert -seed 8 -size 33x21 plasma:red-blue -alpha set -channel A -evaluate set 60% BMP:bmp-v5-alpha.bmp
convert -seed 9 -size 35x20 plasma:purple-white -type TrueColor BMP2:bmp-os2.bmp
convert -size 120x80 xc:white -fill blue -draw 'circle 60,40 60,10' -type Palette -colors 8 \
    -compress RLE BMP3:bmp-rle8.bmp

# PSD: run-length coded with layers, raw, and the large-document variant (PSB).
convert -size 40x30 xc:red \( -seed 10 -size 40x30 plasma:blue-green \) \( -size 20x10 xc:yellow \) \
    -compress RLE psd-layers.psd
convert -seed 12 -size 30x20 plasma:white-black -compress None psd-raw.psd
convert -seed 12 -size 30x20 plasma:white-black -compress RLE PSB:psd-big.psb

# JPEG 2000: a bare codestream.
convert -seed 14 -size 48x32 plasma:red-yellow J2K:jp2-codestream.j2k
