#!/usr/bin/env bash
# Checks kestrum-make-demo's images: every file byte-exact at its manifest sector with a
# zeroed slack, filler that begins no file, same seed same image, --size honoured, and no
# image left behind when an input is missing.
#   check-demo.sh MAKE_DEMO DATA_DIR
set -euo pipefail
MAKE="$1"
DATA="$2"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

inputs=("$DATA/jpeg-jfif.jpg" "$DATA/notes.mid" "$DATA/picture.gif" "$DATA/tone.wav")

# Verifies IMAGE against MANIFEST: file bytes, zero slack, order, and what lies between.
check_layout() {
    local image=$1 manifest=$2 size covered=""
    size=$(stat -c %s "$image")
    [ $((size % 512)) -eq 0 ] || fail "$image is not whole sectors ($size bytes)"
    local prevEnd=0 name start bytes sectors
    while IFS=$'\t' read -r name start bytes sectors; do
        [[ $name == \#* ]] && continue
        [ "$start" -ge "$prevEnd" ] || fail "$name at $start overlaps the file before (ends $prevEnd)"
        [ "$sectors" -eq $(((bytes + 511) / 512)) ] || fail "$name: $sectors sectors for $bytes bytes"
        cmp -s -n "$bytes" <(tail -c +$((start * 512 + 1)) "$image") "$DATA/$name" ||
            fail "$name differs at sector $start"
        local slack=$((sectors * 512 - bytes))
        if [ "$slack" -gt 0 ]; then
            [ -z "$(dd if="$image" bs=1 skip=$((start * 512 + bytes)) count="$slack" status=none | tr -d '\0')" ] ||
                fail "$name: slack after it is not zero"
        fi
        covered+="$start $((start + sectors))"$'\n'
        prevEnd=$((start + sectors))
    done <"$manifest"
    [ $((prevEnd * 512)) -le "$size" ] || fail "manifest runs past the end of $image"

    # Sectors outside the files: all zeros, or filler whose first eight bytes are A0..DF.
    od -An -v -tx1 -w512 "$image" | tr -d ' ' | awk -v covered="$covered" '
        BEGIN { n = split(covered, rows, "\n"); for (i = 1; i <= n; i++) if (rows[i] != "") {
                    split(rows[i], r, " "); for (s = r[1]; s < r[2]; s++) inFile[s] = 1 } }
        { sector = NR - 1; if (sector in inFile) next
          if ($0 ~ /^0+$/) next
          for (i = 0; i < 8; i++) { b = substr($0, 2 * i + 1, 2)
              if (b !~ /^[a-d][0-9a-f]$/) { printf "filler sector %d begins %s\n", sector, substr($0, 1, 16); bad = 1; next } } }
        END { exit bad }' || fail "filler in $image could begin a file"
}

"$MAKE" --out "$WORK/a.img" --manifest "$WORK/a.txt" --gap 1:8 --seed 5 "${inputs[@]}" >/dev/null
[ "$(grep -vc '^#' "$WORK/a.txt")" -eq ${#inputs[@]} ] || fail "one pass should place every file once"
check_layout "$WORK/a.img" "$WORK/a.txt"

"$MAKE" --out "$WORK/b.img" --gap 1:8 --seed 5 "${inputs[@]}" >"$WORK/b.txt"
cmp -s "$WORK/a.img" "$WORK/b.img" || fail "the same seed gave a different image"
cmp -s "$WORK/a.txt" "$WORK/b.txt" || fail "the manifest on stdout differs from --manifest"
"$MAKE" --out "$WORK/c.img" --gap 1:8 --seed 6 "${inputs[@]}" >/dev/null
cmp -s "$WORK/a.img" "$WORK/c.img" && fail "another seed gave the same image"

# --size repeats the files until the image is full, and rounds down to whole sectors.
"$MAKE" --out "$WORK/d.img" --manifest "$WORK/d.txt" --gap 2:20 --size 100100 "${inputs[@]}" >/dev/null
[ "$(stat -c %s "$WORK/d.img")" -eq $((100100 / 512 * 512)) ] || fail "--size not honoured"
[ "$(grep -vc '^#' "$WORK/d.txt")" -gt ${#inputs[@]} ] || fail "--size did not repeat the files"
check_layout "$WORK/d.img" "$WORK/d.txt"

if "$MAKE" --out "$WORK/e.img" "$DATA/jpeg-jfif.jpg" "$WORK/missing.jpg" >/dev/null 2>&1; then
    fail "a missing input was accepted"
fi
if [ -e "$WORK/e.img" ] || [ -e "$WORK/e.img.part" ]; then fail "a failed run left an image behind"; fi
echo "demo image layout: ok"
