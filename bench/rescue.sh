#!/usr/bin/env bash
# Rescue imaging side by side with GNU ddrescue on the same failing medium: a file of
# SIZE_MIB served by faultfs with scattered bad regions and a slow region. Reports the
# total time to the final map, the time until every readable byte had been read, and
# the bytes rescued, for `kestrum-recover image --rescue` and for `ddrescue`.
#
#   bash bench/rescue.sh [SIZE_MIB] [DELAY_MS]        (defaults 384 and 4)
#
# Not a test: run by hand, as root (FUSE). Environment: KESTRUM_BUILD (default ./build),
# KESTRUM_BENCH_DIR (default /var/tmp/kestrum-rescue-bench).
set -euo pipefail
shopt -s inherit_errexit

if [ -n "${CI:-}" ]; then
    echo "rescue.sh: benchmarks are not run in CI" >&2
    exit 0
fi

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SIZE_MIB="${1:-384}"
DELAY_MS="${2:-4}"
BUILD="${KESTRUM_BUILD:-$ROOT/build}"
RECOVER="$BUILD/bin/kestrum-recover"
FAULTFS="$BUILD/bin/faultfs"
WORKDIR="${KESTRUM_BENCH_DIR:-/var/tmp/kestrum-rescue-bench}"

die() { echo "rescue.sh: $*" >&2; exit 1; }
[ -x "$RECOVER" ] || die "build kestrum-recover first ($RECOVER)"
[ -x "$FAULTFS" ] || die "build faultfs first ($FAULTFS; needs libfuse3-dev)"
command -v ddrescue >/dev/null || die "GNU ddrescue is not installed (Debian: gddrescue)"

mkdir -p "$WORKDIR"
SOURCE="$WORKDIR/source.img"
SECTORS=$((SIZE_MIB * 2048))
if [ ! -f "$SOURCE" ] || [ "$(stat -c %s "$SOURCE")" -ne $((SIZE_MIB << 20)) ]; then
    head -c $((SIZE_MIB << 20)) /dev/urandom >"$SOURCE"
fi

# Scattered bad regions (single sectors up to a few MiB) and one slow region of 1/16 of
# the medium, all from a fixed seed so that every run meets the same medium.
read -r BAD SLOW < <(python3 - "$SECTORS" <<'PY'
import random, sys
n = int(sys.argv[1]); r = random.Random(2026)
regions = []
for size in [1] * 40 + [8] * 20 + [r.randint(16, 256) for _ in range(20)] + [2048, 6144]:
    start = r.randrange(0, n - size)
    regions.append((start, start + size - 1))
regions.sort()
merged = []
for a, b in regions:
    if merged and a <= merged[-1][1] + 1:
        merged[-1] = (merged[-1][0], max(merged[-1][1], b))
    else:
        merged.append((a, b))
slow_start = n // 2
print(",".join(f"{a}-{b}" if a != b else str(a) for a, b in merged),
      f"{slow_start}-{slow_start + n // 16}")
PY
)
BAD_SECTORS=$(python3 -c "import sys; print(sum(int(b)-int(a)+1 if '-' in x else 1 for x in sys.argv[1].split(',') for a,b in [x.split('-') if '-' in x else (x,x)]))" "$BAD")

MNT="$WORKDIR/mnt"
mkdir -p "$MNT"
FS_PID=
cleanup() {
    fusermount3 -u "$MNT" 2>/dev/null || true
    [ -n "$FS_PID" ] && wait "$FS_PID" 2>/dev/null || true
}
trap cleanup EXIT

# One timed run: mounts a fresh faultfs (fresh request log), runs the command, and
# prints "total_seconds readable_seconds rescued_bytes" from the request log and map.
measure() {
    local log="$WORKDIR/requests.log" map="$1"
    shift
    rm -f "$log"
    "$FAULTFS" --image="$SOURCE" --name=disk.img --bad="$BAD" --slow="$SLOW" \
        --delay-ms="$DELAY_MS" --log="$log" --log-times -f "$MNT" 2>/dev/null &
    FS_PID=$!
    for _ in $(seq 100); do mountpoint -q "$MNT" && break; sleep 0.05; done
    mountpoint -q "$MNT" || die "faultfs did not mount"
    local began ended
    began=$(python3 -c 'import time; print(int(time.monotonic() * 1e6))')
    "$@" >/dev/null 2>&1 || true
    ended=$(python3 -c 'import time; print(int(time.monotonic() * 1e6))')
    fusermount3 -u "$MNT"
    wait "$FS_PID" 2>/dev/null || true
    FS_PID=
    cp "$log" "$map.requests"  # kept for a closer look
    python3 - "$log" "$map" "$began" "$ended" "$SECTORS" "$BAD" <<'PY'
import sys
log, mapfile, began, ended, n, bad = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), sys.argv[6]
unreadable = bytearray(n)
for item in bad.split(","):
    a, b = (item.split("-") + [item])[:2] if "-" in item else (item, item)
    for s in range(int(a), int(b) + 1): unreadable[s] = 1
missing = n - sum(unreadable)
seen = bytearray(n)
readable_at = None
for line in open(log):
    off, size, outcome, t = line.split()
    if outcome != "ok": continue
    first, last = int(off) // 512, (int(off) + int(size) + 511) // 512
    for s in range(first, min(last, n)):
        if not seen[s] and not unreadable[s]:
            seen[s] = 1; missing -= 1
    if missing == 0 and readable_at is None: readable_at = int(t)
rescued = 0
started = False
for line in open(mapfile):
    if line.startswith("#") or not line.strip(): continue
    if not started: started = True; continue
    pos, size, status = line.split()
    if status == "+": rescued += int(size, 0)
print(f"{(ended - began) / 1e6:.2f} {((readable_at or ended) - began) / 1e6:.2f} {rescued}")
PY
}

echo "Medium: $SIZE_MIB MiB, $BAD_SECTORS unreadable sectors in $(tr ',' '\n' <<<"$BAD" | wc -l) regions, slow region $SLOW ($DELAY_MS ms per read)"
printf "%-24s %12s %16s %16s\n" "tool" "total (s)" "readable (s)" "rescued bytes"
for tool in kestrum ddrescue; do
    out="$WORKDIR/$tool"
    rm -rf "$out"
    mkdir -p "$out"
    if [ "$tool" = kestrum ]; then
        read -r total readable rescued < <(measure "$out/Image0.map" \
            "$RECOVER" image "$MNT/disk.img" --out "$out" --rescue)
    else
        read -r total readable rescued < <(measure "$out/map" \
            ddrescue -f "$MNT/disk.img" "$out/image" "$out/map")
    fi
    printf "%-24s %12s %16s %16s\n" "$tool" "$total" "$readable" "$rescued"
done
echo "Readable bytes in all: $(( (SECTORS - BAD_SECTORS) * 512 ))"
