#!/usr/bin/env bash
# Scan throughput and memory on a multi-GiB image, side by side with `cat` (the page-cache
# ceiling) and foremost (a peer carver), median of five runs each: the classic and the
# thorough scan listing, then the classic and the thorough scan and foremost -q -t all, each
# saving every file it finds. bench/slow-source.sh measures saving from a slow source.
#
#   bash bench/bench.sh [SIZE_GIB]          (default 2)
#
# Not a test: it takes minutes and needs GiBs of disk and memory, so CI never runs it.
# Environment: KESTRUM_BUILD (default ./build), KESTRUM_BENCH_DIR (default
# /var/tmp/kestrum-bench; the images stay there between runs and are rebuilt only when
# their size or their inputs change).
set -euo pipefail
shopt -s inherit_errexit

if [ -n "${CI:-}" ]; then
    echo "bench.sh: benchmarks are not run in CI" >&2
    exit 0
fi

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SIZE_GIB="${1:-2}"
[[ "$SIZE_GIB" =~ ^[1-9][0-9]*$ ]] || { echo "usage: bash bench/bench.sh [SIZE_GIB]" >&2; exit 2; }
BUILD="${KESTRUM_BUILD:-$ROOT/build}"
RECOVER="$BUILD/bin/kestrum-recover"
MAKE_IMAGE="$BUILD/bin/kestrum-make-demo"
WORKDIR="${KESTRUM_BENCH_DIR:-/var/tmp/kestrum-bench}"
RUNS=5
MIB=$((1 << 20))
FOREMOST_TYPES=jpg,gif,png,bmp,avi,mpg,wav,wmv,mov,mp4

die() { echo "bench.sh: $*" >&2; exit 1; }
for exe in "$RECOVER" "$MAKE_IMAGE"; do
    [ -x "$exe" ] || die "$exe is missing: build first (bash scripts/build.sh)"
done
command -v foremost >/dev/null || die "foremost is missing (bash scripts/install-deps.sh)"
[ -x /usr/bin/time ] || die "/usr/bin/time is missing (bash scripts/install-deps.sh)"

BIG_BYTES=$((SIZE_GIB << 30))
SMALL_BYTES=$((BIG_BYTES / 4))
BIG="$WORKDIR/bench-${SIZE_GIB}g.img"
SMALL="$WORKDIR/bench-${SIZE_GIB}g-quarter.img"
mkdir -p "$WORKDIR"
SCRATCH="$(mktemp -d "$WORKDIR/run.XXXXXX")"
trap 'rm -rf "$SCRATCH"' EXIT

# The test media and, when present, the real samples: placed every 1..4 MiB between random
# filler, over and over.
inputs=()
for f in "$ROOT"/tests/data/* "$ROOT"/../shared/samples/*; do
    case "$(basename "$f")" in README.md | SOURCES.tsv) continue ;; esac
    [ -f "$f" ] && inputs+=("$f")
done
[ ${#inputs[@]} -gt 0 ] || die "no input media in tests/data"

stamp_of() {
    { echo "$1"; sha256sum "$MAKE_IMAGE" "${inputs[@]}"; } | sha256sum | cut -c1-16
}

build_image() {
    local image=$1 bytes=$2 stamp
    stamp="$(stamp_of "$bytes")"
    if [ -f "$image" ] && [ "$(cat "$image.stamp" 2>/dev/null)" = "$stamp" ]; then
        return
    fi
    rm -f "$image" "$image.stamp"
    local avail
    avail=$(df --output=avail -B1 "$WORKDIR" | tail -1)
    # Room for the image plus a margin for foremost's output.
    [ "$avail" -gt $((bytes + (1 << 30))) ] ||
        die "not enough space in $WORKDIR for a $((bytes / MIB)) MiB image ($((avail / MIB)) MiB free)"
    echo "Building $image ($((bytes / MIB)) MiB)..."
    "$MAKE_IMAGE" --out "$image" --manifest "$image.manifest" --gap 2048:8192 --seed 1 \
        --size "$bytes" "${inputs[@]}" >/dev/null
    echo "$stamp" >"$image.stamp"
}

build_image "$BIG" "$BIG_BYTES"
build_image "$SMALL" "$SMALL_BYTES"
for image in "$BIG" "$SMALL"; do
    allocated=$(($(stat -c '%b * %B' "$image")))
    [ "$allocated" -ge "$(stat -c %s "$image")" ] || die "$image is sparse; delete it and run again"
done

mem_avail_kib=$(awk '/^MemAvailable:/ { print $2 }' /proc/meminfo)
if [ "$mem_avail_kib" -lt $(((BIG_BYTES + SMALL_BYTES + (512 << 20)) >> 10)) ]; then
    echo "warning: $((mem_avail_kib >> 10)) MiB of memory available; the page cache cannot hold" \
        "the images, so the figures below measure the disk" >&2
fi

# Seconds (microsecond resolution) for one run of the command; saved files are removed
# and the disk cache written back afterwards, outside the timing.
elapsed() {
    local start end
    start=$EPOCHREALTIME
    "$@" </dev/null || die "failed: $*"
    end=$EPOCHREALTIME
    # The next command must not pay for writing back what this one saved.
    rm -rf "$SCRATCH"/out.*
    sync
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

# Median of RUNS timings of the command.
median_of() {
    local times=() i
    for ((i = 0; i < RUNS; i++)); do times+=("$(elapsed "$@")"); done
    printf '%s\n' "${times[@]}" | sort -g | awk -v n="$RUNS" 'NR == int((n + 1) / 2)'
}

cat_image() { cat "$1" >/dev/null; }
scan_all() { "$RECOVER" scan "$1" --classic --types all --list >/dev/null 2>&1; }
scan_thorough() { "$RECOVER" scan "$1" --types all --thorough --list >/dev/null 2>&1; }
scan_jpeg() { "$RECOVER" scan "$1" --classic --types JPEG --list >/dev/null 2>&1; }
# Each saving run wants an output folder of its own; timings run in subshells, so the
# name cannot come from a counter. Removed after each run, outside the timing.
fresh_out() { echo "$SCRATCH/out.$BASHPID.${EPOCHREALTIME/./}"; }
run_foremost() {
    local out
    out="$(fresh_out)"
    foremost -q -Q -t "$FOREMOST_TYPES" -o "$out" -i "$1" >/dev/null 2>&1
}
run_foremost_builtin() {
    local out
    out="$(fresh_out)"
    foremost -q -Q -t all -o "$out" -i "$1" >/dev/null 2>&1
}
save_classic() {
    local out
    out="$(fresh_out)"
    mkdir -p "$out" && "$RECOVER" scan "$1" --classic --types all --save "$out" >/dev/null 2>&1
}
save_thorough() {
    local out
    out="$(fresh_out)"
    mkdir -p "$out" && "$RECOVER" scan "$1" --types all --thorough --save "$out" >/dev/null 2>&1
}

# Sanity runs that also tell how much each carver finds; they warm the page cache too.
cat "$BIG" >/dev/null
"$RECOVER" scan "$BIG" --classic --types all --list </dev/null >"$SCRATCH/ours-all.txt" 2>"$SCRATCH/err" ||
    die "kestrum-recover scan failed on $BIG: $(cat "$SCRATCH/err")"
"$RECOVER" scan "$BIG" --classic --types JPEG --list </dev/null >"$SCRATCH/ours-jpeg.txt" 2>"$SCRATCH/err" ||
    die "kestrum-recover scan --types JPEG failed on $BIG: $(cat "$SCRATCH/err")"
foremost -q -Q -t "$FOREMOST_TYPES" -o "$SCRATCH/foremost-count" -i "$BIG" >/dev/null 2>&1 ||
    die "foremost failed on $BIG"
"$RECOVER" scan "$BIG" --types all --thorough --list </dev/null >"$SCRATCH/ours-thorough.txt" \
    2>"$SCRATCH/err" || die "kestrum-recover scan --thorough failed on $BIG: $(cat "$SCRATCH/err")"
foremost -q -Q -t all -o "$SCRATCH/foremost-builtin" -i "$BIG" >/dev/null 2>&1 ||
    die "foremost failed"
ours_thorough=$(wc -l <"$SCRATCH/ours-thorough.txt")
foremost_builtin=$(find "$SCRATCH/foremost-builtin" -type f ! -name audit.txt | wc -l)
rm -rf "$SCRATCH/foremost-builtin"
ours_found=$(wc -l <"$SCRATCH/ours-all.txt")
ours_jpeg=$(wc -l <"$SCRATCH/ours-jpeg.txt")
foremost_found=$(find "$SCRATCH/foremost-count" -type f ! -name audit.txt | wc -l)
placed=$(grep -vc '^#' "$BIG.manifest")
rm -rf "$SCRATCH/foremost-count"

echo
echo "Image: $BIG, $((BIG_BYTES / MIB)) MiB, $placed files placed (manifest beside it)"
echo "Median of $RUNS runs, page cache warm; MB = 1,048,576 bytes"
echo "foremost types: $FOREMOST_TYPES (-q: headers on sector boundaries only, as ours)"
printf '%-44s %10s %10s %8s\n' "command" "seconds" "MB/s" "found"

declare -A secs
report() {
    local key=$1 label=$2 found=$3 s
    s=$(median_of "${@:4}")
    secs[$key]=$s
    printf '%-44s %10.3f %10.1f %8s\n' "$label" "$s" \
        "$(awk -v b="$BIG_BYTES" -v s="$s" 'BEGIN { print b / 1048576 / s }')" "$found"
}
report cat "cat IMAGE >/dev/null" "-" cat_image "$BIG"
report all "kestrum-recover scan --types all --list" "$ours_found" scan_all "$BIG"
report tlist "kestrum-recover scan --thorough --list" "$ours_thorough" scan_thorough "$BIG"
report jpeg "kestrum-recover scan --types JPEG --list" "$ours_jpeg" scan_jpeg "$BIG"
report foremost "foremost -q -t TYPES" "$foremost_found" run_foremost "$BIG"
report csave "kestrum-recover scan --types all --save" "$ours_found" save_classic "$BIG"
report tsave "kestrum-recover scan --thorough --save" "$ours_thorough" save_thorough "$BIG"
report fsave "foremost -q -t all" "$foremost_builtin" run_foremost_builtin "$BIG"

# Speed ratios: ours divided by the other (1.00 = as fast).
ratio() { awk -v a="${secs[$1]}" -v b="${secs[$2]}" 'BEGIN { printf "%.2f", b / a }'; }
echo
echo "speed, all types  / cat:      $(ratio all cat)"
echo "speed, thorough   / cat:      $(ratio tlist cat)"
echo "speed, JPEG only  / cat:      $(ratio jpeg cat)"
echo "speed, all types  / foremost: $(ratio all foremost)"
echo "speed, JPEG only  / foremost: $(ratio jpeg foremost)"
echo "saving everything found:"
echo "speed, classic  / foremost -q -t all:  $(ratio csave fsave)"
echo "speed, thorough / foremost -q -t all:  $(ratio tsave fsave)"
echo "speed, thorough / cat:          $(ratio tsave cat)"

# Peak memory does not grow with the image: compare a quarter-size image.
echo
echo "Peak resident memory of 'kestrum-recover scan --types all [--classic] --list|--save':"
for mode in --classic --thorough "--thorough --save"; do
    for image in "$SMALL" "$BIG"; do
        cat "$image" >/dev/null
        out="$(fresh_out)"
        mkdir -p "$out"
        # shellcheck disable=SC2086  # the mode is one or two words
        /usr/bin/time -f %M -o "$SCRATCH/rss" "$RECOVER" scan "$image" --types all \
            ${mode/--save/--save $out} $([ "${mode#*--save}" = "$mode" ] && echo --list) \
            </dev/null >/dev/null 2>&1
        rm -rf "$out"
        printf '  %-10s %6d MiB image: %8d KiB\n' "${mode#--}" \
            $(($(stat -c %s "$image") / MIB)) "$(tail -1 "$SCRATCH/rss")"
    done
done
