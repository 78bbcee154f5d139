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
echo "All tests passed."
