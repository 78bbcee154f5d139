#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the whole suite, then the
# engine and command-line tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the two fuzz targets for a bounded time. The
# loop-device and FUSE tests need root; without it they say so and are skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="$(nproc)"
GEN=()
command -v ninja >/dev/null && GEN=(-G Ninja)

bash scripts/install-deps.sh
bash scripts/build.sh
echo "== Tests"
ctest --test-dir build --output-on-failure -j"$JOBS"

echo "== Engine tests under AddressSanitizer and UndefinedBehaviorSanitizer"
[ -f build-sanitize/CMakeCache.txt ] || cmake -S . -B build-sanitize "${GEN[@]}" \
    -DCMAKE_BUILD_TYPE=Debug -DKESTRUM_SANITIZE=ON -DKESTRUM_UI=OFF >/dev/null
cmake --build build-sanitize -j"$JOBS"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j"$JOBS" -E '^Skin'

# KESTRUM_FUZZ_SECONDS is the whole fuzzing time, shared by the two targets.
fuzz_seconds=$(( (${KESTRUM_FUZZ_SECONDS:-80} + 1) / 2 ))
echo "== Fuzz targets (fuzz_scan and fuzz_carve, ${fuzz_seconds} s each)"
[ -f build-fuzz/CMakeCache.txt ] || cmake -S . -B build-fuzz "${GEN[@]}" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTRUM_FUZZ=ON -DKESTRUM_TESTS=OFF -DKESTRUM_UI=OFF >/dev/null
cmake --build build-fuzz -j"$JOBS" --target fuzz_scan fuzz_carve
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
for target in fuzz_scan fuzz_carve; do
    rm -rf "${corpus:?}"/*
    # Every media file, the carving test files in tests/data/carve included.
    find tests/data -type f ! -name '*.sh' ! -name '*.md' -exec cp -t "$corpus/" {} +
    build-fuzz/bin/$target -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus" 2>&1 |
        tail -n 12
done
echo "== Windows build (mingw-w64), its tests under wine, its tools against the Linux build"
bash scripts/install-deps.sh --windows
bash scripts/windows-deps.sh build-windows
[ -f build-windows/CMakeCache.txt ] || cmake -S . -B build-windows "${GEN[@]}" \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKESTRUM_WIN_SYSROOT="$PWD/build-windows/win-sysroot" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUM_UI=OFF >/dev/null
# A private wine prefix, no display; the wine server is started first and kept
# running, so that test discovery and the tests do not each start one.
export WINEPREFIX="$PWD/build-windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
wineserver -p
wineboot --init >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true; rm -rf "$corpus"' EXIT
cmake --build build-windows -j"$JOBS"
# wine schedules threads and file handles unlike Windows: a timing-bound test that
# fails once there is run once more, and fails the stage only when it fails again.
ctest --test-dir build-windows --output-on-failure -j"$JOBS" --repeat until-pass:2
bash scripts/windows-check.sh build build-windows
echo "All tests passed."
