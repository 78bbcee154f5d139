#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent, and quick when
# everything is already there (no apt-get update unless something is missing).
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config git
    libgtest-dev libgmock-dev
    libblkid-dev
    libheif-dev libraw-dev      # previews of HEIF/AVIF stills and of camera raws
    libheif-examples webp libjxl-tools flac   # encoders of the modern-format test files
    libjpeg62-turbo-dev         # libjpeg-turbo: a two-piece photo is joined only when it decodes cleanly
    libsystemd-dev              # sd-bus: disks read through UDisks2 when the user may not open them
    dbus polkitd pkexec udev udisks2   # the disk service and polkit, also started by a test
    libfuse3-dev fuse3          # the failing-sector test filesystem
    mtools dosfstools e2fsprogs util-linux   # test media: FAT images, ext4, loop devices
    fdisk                       # sfdisk: a partitioned loop disk in the destination tests
    imagemagick ffmpeg          # real sample files for the tests and the demo image
    librsvg2-bin fonts-dejavu-core   # the skin: SVG pictures rendered at build time, their font
    clang libclang-rt-14-dev    # libFuzzer target and sanitizer runtime
    foremost time               # benchmark yardstick, peak-memory measurement
    testdisk libimage-exiftool-perl   # recall benchmark: PhotoRec beside us, camera-like Exif
    exfatprogs exfat-fuse       # recall benchmark: an exFAT card shot again after deletions
    xdg-utils
    qt6-base-dev qt6-multimedia-dev qt6-image-formats-plugins qt6-svg-dev libqt6svg6-dev
    gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly
    gstreamer1.0-libav          # media preview (Qt Multimedia's GStreamer back end)
    xvfb xauth                  # screenshots and the desktop application without a display
    libxcb1-dev                 # the X screen's DPI and Xft.dpi, to scale the window on dense screens
    openbox xdotool             # a window manager and input for screenshots of page placement
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
