#!/usr/bin/env bash
# Recall on a real card, side by side: the classic scan, the thorough scan, foremost -q and
# PhotoRec, each saving everything it finds from the same FAT32 card image (made by
# bench/make-corpus.sh: real encoder output, camera samples, a third of the files deleted);
# then classic, thorough and PhotoRec on each image of a reused card (reshoot-fat32,
# reshoot-exfat, cut, unfinished, twopiece).
# Prints, per type, placed / found / byte-exact / exact-length counts for each tool, and
# the share of outputs that are no real file.
#
#   bash bench/recall.sh [WORKDIR]          (default /var/tmp/kestrum-recall)
#
# Not a test: CI never runs it.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
WORK="${1:-/var/tmp/kestrum-recall}"
RECOVER="${KESTRUM_BUILD:-$ROOT/build}/bin/kestrum-recover"
die() { echo "recall.sh: $*" >&2; exit 1; }
[ -x "$RECOVER" ] || die "$RECOVER is missing: build first (bash scripts/build.sh)"
for t in foremost photorec python3; do
    command -v "$t" >/dev/null || die "$t is missing (apt-get install foremost testdisk)"
done
[ -f "$WORK/card.img" ] || bash "$ROOT/bench/make-corpus.sh" "$WORK"
CARD="$WORK/card.img"
OUT="$WORK/out"
rm -rf "$OUT"
mkdir -p "$OUT" "$OUT/classic" "$OUT/thorough" "$OUT/photorec"
export KESTRUM_REGISTRY="$OUT/registry"   # keep the user's logs and settings out of it

timed() {  # NAME COMMAND...: runs it, prints its wall time
    local name=$1 start
    shift
    start=$(date +%s.%N)
    "$@" >"$OUT/$name.log" 2>&1 || die "$name failed: see $OUT/$name.log"
    printf '%-10s %6.1f s\n' "$name" "$(echo "$(date +%s.%N) - $start" | bc)"
}
CLASSIC=""  # the classic rules by name once the thorough scan is the default
"$RECOVER" scan --help 2>&1 | grep -q -- --classic && CLASSIC=--classic
timed classic "$RECOVER" scan "$CARD" --types all $CLASSIC --save "$OUT/classic"
timed thorough "$RECOVER" scan "$CARD" --types all --thorough --save "$OUT/thorough"
timed foremost foremost -q -i "$CARD" -o "$OUT/foremost"
(cd "$OUT" && timed photorec photorec /log /d "$OUT/photorec/recup" /cmd "$CARD" \
    partition_none,fileopt,everything,enable,search)
echo
python3 "$ROOT/bench/recall.py" "$WORK/manifest.tsv" "$WORK/files" classic="$OUT/classic" \
    thorough="$OUT/thorough" foremost="$OUT/foremost" photorec="$OUT/photorec"

# The reused-card images: classic, thorough and PhotoRec on each (KESTRUM_REUSE=0 skips them).
[ "${KESTRUM_REUSE:-1}" = 1 ] || exit 0
for img in "$WORK"/reshoot-fat32.img "$WORK"/reshoot-exfat.img "$WORK"/cut.img \
           "$WORK"/unfinished.img "$WORK"/twopiece.img; do
    [ -f "$img" ] || { echo "recall.sh: $img is missing (bash bench/make-corpus.sh)" >&2; continue; }
    name=$(basename "$img" .img)
    OUT="$WORK/out-$name"
    rm -rf "$OUT"
    mkdir -p "$OUT/classic" "$OUT/thorough" "$OUT/photorec"
    echo
    echo "== $name"
    timed classic "$RECOVER" scan "$img" --types all $CLASSIC --save "$OUT/classic"
    timed thorough "$RECOVER" scan "$img" --types all --thorough --save "$OUT/thorough"
    (cd "$OUT" && timed photorec photorec /log /d "$OUT/photorec/recup" /cmd "$img" \
        partition_none,fileopt,everything,enable,search)
    python3 "$ROOT/bench/recall.py" "${img%.img}.tsv" "$WORK/files" classic="$OUT/classic" \
        thorough="$OUT/thorough" photorec="$OUT/photorec"
done
