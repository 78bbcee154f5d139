#!/usr/bin/env bash
# Builds the libraries the Windows build links, with the mingw-w64 toolchain, into
# a sysroot inside the build folder (kept between runs: rebuilt only when missing):
#   libjpeg-turbo from Debian's own source package (Debian ships no mingw build),
#   GoogleTest from /usr/src/googletest (libgtest-dev).
# Usage: scripts/windows-deps.sh BUILD_DIR   (prints nothing when all is there)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(mkdir -p "$1" && cd "$1" && pwd)"
sysroot="$build/win-sysroot"
deps="$build/win-deps"
toolchain="$root/cmake/mingw-w64.cmake"
GEN=()
command -v ninja >/dev/null && GEN=(-G Ninja)
mkdir -p "$sysroot" "$deps"

if [ ! -f "$sysroot/lib/pkgconfig/libjpeg.pc" ]; then
    echo "== libjpeg-turbo for Windows (Debian source)"
    cd "$deps"
    if ! ls libjpeg-turbo_*.dsc >/dev/null 2>&1; then
        # Needs a deb-src line (scripts/install-deps.sh --windows adds one).
        apt-get source --download-only libjpeg-turbo >/dev/null 2>&1 || {
            echo "cannot fetch the libjpeg-turbo source package: run scripts/install-deps.sh --windows" >&2
            exit 1
        }
    fi
    rm -rf src && dpkg-source --no-check -x libjpeg-turbo_*.dsc src >/dev/null
    # No SIMD: nasm is not needed, and the decoder's output is the same.
    cmake -S src -B jpeg-build "${GEN[@]}" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$sysroot" -DENABLE_SHARED=OFF \
        -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF \
        -DCMAKE_CROSSCOMPILING_EMULATOR= -Wno-dev >/dev/null 2>&1
    cmake --build jpeg-build -j"$(nproc)" --target jpeg-static >/dev/null
    cmake --install jpeg-build >/dev/null 2>&1 || true
    # Only the static library and its headers are needed; the install of the
    # command-line programs is not built.
    [ -f "$sysroot/lib/pkgconfig/libjpeg.pc" ] || {
        mkdir -p "$sysroot/lib/pkgconfig" "$sysroot/include"
        cp jpeg-build/libjpeg.a "$sysroot/lib/"
        cp src/jpeglib.h src/jmorecfg.h src/jerror.h jpeg-build/jconfig.h "$sysroot/include/"
        printf '%s\n' "prefix=$sysroot" 'libdir=${prefix}/lib' 'includedir=${prefix}/include' \
            'Name: libjpeg' 'Description: libjpeg-turbo (static, mingw-w64)' 'Version: 2' \
            'Libs: -L${libdir} -ljpeg' 'Cflags: -I${includedir}' >"$sysroot/lib/pkgconfig/libjpeg.pc"
    }
fi

if [ ! -f "$sysroot/lib/cmake/GTest/GTestConfig.cmake" ]; then
    echo "== GoogleTest for Windows"
    cmake -S /usr/src/googletest -B "$deps/gtest-build" "${GEN[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$sysroot" -Dgtest_disable_pthreads=OFF >/dev/null
    cmake --build "$deps/gtest-build" -j"$(nproc)" >/dev/null
    cmake --install "$deps/gtest-build" >/dev/null
fi
