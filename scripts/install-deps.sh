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

# --windows: also what the Windows build and its tests under wine need.
WINDOWS=0
[ "${1:-}" = "--windows" ] && WINDOWS=1
if [ "$WINDOWS" = 1 ]; then
    PACKAGES+=(
        g++-mingw-w64-x86-64-posix   # the Windows build: mingw-w64 with std::thread (posix threads)
        wine wine64                  # runs the Windows programs and tests
        dpkg-dev                     # dpkg-source: libjpeg-turbo for Windows from Debian's source
    )
fi

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# Debian has no mingw build of libjpeg-turbo: scripts/windows-deps.sh builds one from
# Debian's source package, which apt fetches only with a deb-src line.
if [ "$WINDOWS" = 1 ] && ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm bookworm-updates' \
        'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
        $SUDO tee /etc/apt/sources.list.d/kestrum-src.sources >/dev/null
    $SUDO apt-get update -qq
fi

[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
