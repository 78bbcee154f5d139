#!/usr/bin/env bash
# Saving from a slow source: a card image served by the test filesystem (faultfs) with
# 10 ms added to every read, holding one ~27 MB video. Compares the time saving the
# video adds to a scan (scan --save minus scan --list) with `dd bs=1M` reading the same
# bytes from the same mount, and counts the source's opens, reads and stats with strace.
#
#   bash bench/slow-source.sh
#
# Not a test: needs root (FUSE), ffmpeg and strace. Environment: KESTRUM_BUILD (default ./build).
set -euo pipefail
shopt -s inherit_errexit

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${KESTRUM_BUILD:-$ROOT/build}"
RECOVER="$BUILD/bin/kestrum-recover"
FAULTFS="$BUILD/bin/faultfs"
DELAY_MS="${DELAY_MS:-10}"
die() { echo "slow-source.sh: $*" >&2; exit 1; }
for exe in "$RECOVER" "$FAULTFS"; do [ -x "$exe" ] || die "$exe is missing: build first"; done
command -v ffmpeg >/dev/null || die "ffmpeg is missing"

WORK="$(mktemp -d /var/tmp/kestrum-slow.XXXXXX)"
MNT="$WORK/mnt"
cleanup() {
    [ -n "${FS_PID:-}" ] && { kill "$FS_PID" 2>/dev/null || true; wait "$FS_PID" 2>/dev/null || true; }
    rm -rf "$WORK"
}
trap cleanup EXIT

ffmpeg -v error -f lavfi -i testsrc2=size=1280x720:rate=30 -t 20 -c:v mpeg4 -b:v 11M \
    -f mp4 "$WORK/clip.mp4"
CLIP_BYTES=$(stat -c %s "$WORK/clip.mp4")
START_SECTOR=2048
# 1 MiB of zeros, the clip, then zeros to a whole MiB and one more.
{
    head -c $((START_SECTOR * 512)) /dev/zero
    cat "$WORK/clip.mp4"
    head -c $(((1 << 20) * 2 - CLIP_BYTES % (1 << 20))) /dev/zero
} >"$WORK/card.img"
SECTORS=$(($(stat -c %s "$WORK/card.img") / 512))

mkdir -p "$MNT"
"$FAULTFS" --image="$WORK/card.img" --name=card.img --slow=0-$((SECTORS - 1)) \
    --delay-ms="$DELAY_MS" -f "$MNT" 2>"$WORK/faultfs.err" &
FS_PID=$!
for _ in $(seq 200); do mountpoint -q "$MNT" && break; sleep 0.05; done
mountpoint -q "$MNT" || die "faultfs did not mount: $(cat "$WORK/faultfs.err")"
CARD="$MNT/card.img"

seconds() {
    local start=$EPOCHREALTIME
    "$@" </dev/null >/dev/null 2>&1 || die "failed: $*"
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f\n", b - a }'
}
read_clip() {
    dd if="$CARD" of=/dev/null bs=1M iflag=skip_bytes,count_bytes skip=$((START_SECTOR * 512)) \
        count="$CLIP_BYTES" status=none
}
scan_list() { "$RECOVER" scan "$CARD" --types MP4 --thorough --list; }
scan_save() {
    rm -rf "$WORK/out" && mkdir "$WORK/out"
    "$RECOVER" scan "$CARD" --types MP4 --thorough --save "$WORK/out"
}

dd_s=$(seconds read_clip)
list_s=$(seconds scan_list)
save_s=$(seconds scan_save)
saved=$(find "$WORK/out" -type f -size "${CLIP_BYTES}c" | head -1)
[ -n "$saved" ] && cmp -s "$saved" "$WORK/clip.mp4" || die "the clip was not saved byte-exact"
saving_s=$(awk -v a="$save_s" -v b="$list_s" 'BEGIN { printf "%.3f", a - b }')

echo "Source: faultfs, $DELAY_MS ms per read; clip $CLIP_BYTES bytes at sector $START_SECTOR"
printf '%-40s %8s s\n' "dd bs=1M of the clip's bytes" "$dd_s" \
    "scan --thorough --list" "$list_s" "scan --thorough --save" "$save_s" \
    "saving alone (save - list)" "$saving_s"
echo "saving time / dd time: $(awk -v a="$saving_s" -v b="$dd_s" 'BEGIN { printf "%.2f", a / b }')"

if command -v strace >/dev/null; then
    rm -rf "$WORK/out" && mkdir "$WORK/out"
    strace -f -c -o "$WORK/strace.txt" "$RECOVER" scan "$CARD" --types MP4 --thorough \
        --save "$WORK/out" </dev/null >/dev/null 2>&1
    echo "strace -c -f of scan --thorough --save, calls:"
    awk '$NF ~ /^(openat|read|pread64|write|newfstatat|fstat|statx)$/ { printf "  %-12s %s\n", $NF, $4 }' \
        "$WORK/strace.txt"
fi
