#!/usr/bin/env bash
# The Windows programs under wine against the Linux build, on the demo image and a
# test card: the same lists (classic and thorough), byte-identical saved files,
# the same rescued image and map, a drive letter ("\\.\K:") that reads the card as
# the image does, reads that fail where the fault seam says, and the device list
# and disk probe running.
# Usage: scripts/windows-check.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
# Needs WINEPREFIX set to a private prefix (scripts/test.sh makes one).
set -euo pipefail
linux="$(cd "$1" && pwd)"
win="$(cd "$2" && pwd)"
: "${WINEPREFIX:?set WINEPREFIX to a private wine prefix}"
export WINEDEBUG=-all
unset DISPLAY
L="$linux/bin/kestrum-recover"
W="$win/bin/kestrum-recover.exe"
demo="$linux/share/Kestrum for Digital Media/Demo/Image0.img"
work="$(mktemp -d)"
trap 'rm -rf "$work"; rm -f "$WINEPREFIX/dosdevices/k::"' EXIT
passed=0
failed=0
ok() { echo "  ok   $1"; passed=$((passed + 1)); }
bad() { echo "  FAIL $1"; failed=$((failed + 1)); }
# wine's view of a Linux path (Z: is the root folder).
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
# Windows text ends lines with CR LF; the lists compare without the CR.
runw() { wine "$W" "$@" | tr -d '\r'; }

# A test card: the test media copied onto a FAT file system, as a camera or a
# card reader lays them out (clusters, directory entries, free space).
card="$work/card.img"
root="$(cd "$(dirname "$0")/.." && pwd)"
mkfs.fat -C -n KESTRUMCARD "$card" 16384 >/dev/null
find "$root/tests/data" -maxdepth 1 -type f ! -name '*.md' ! -name '*.map' -print0 |
    sort -z | xargs -0 -I{} mcopy -i "$card" {} ::/

for image in "$demo" "$card"; do
    name="$(basename "$image")"
    for mode in --thorough --classic; do
        "$L" scan "$image" --list "$mode" >"$work/l.txt" 2>/dev/null
        runw scan "$(winpath "$image")" --list "$mode" >"$work/w.txt" 2>/dev/null
        if [ -s "$work/l.txt" ] && cmp -s "$work/l.txt" "$work/w.txt"; then
            ok "$name: scan --list $mode lists the same $(wc -l <"$work/l.txt") files"
        else
            bad "$name: scan --list $mode differs"
            diff "$work/l.txt" "$work/w.txt" | head -5 || true
        fi
    done
done

"$L" scan "$demo" --save "$work/ls" >/dev/null 2>&1
runw scan "$(winpath "$demo")" --save "$(winpath "$work/ws")" >/dev/null 2>&1
if [ -n "$(ls -A "$work/ls")" ] && diff -r "$work/ls" "$work/ws" >/dev/null; then
    ok "scan --save: $(find "$work/ws" -type f | wc -l) files byte-identical"
else
    bad "scan --save: the saved files differ"
fi

"$L" image "$demo" --out "$work/li" --rescue >/dev/null 2>&1
runw image "$(winpath "$demo")" --out "$(winpath "$work/wi")" --rescue >/dev/null 2>&1
# The map's comment lines name the command and the time; its status lines must match.
if cmp -s "$work/li/Image0.img" "$work/wi/Image0.img" &&
    diff <(grep -v '^#' "$work/li/Image0.map") <(tr -d '\r' <"$work/wi/Image0.map" | grep -v '^#') >/dev/null; then
    ok "image --rescue: the same image and map"
else
    bad "image --rescue: image or map differs"
fi

# A scan recorded in a session file named the Windows way lists the same files.
"$L" scan "$card" --list --session "$work/l.session" >"$work/l.txt" 2>/dev/null
runw scan "$(winpath "$card")" --list --session "$(winpath "$work/w.session")" >"$work/w.txt" 2>/dev/null
if [ -s "$work/l.txt" ] && cmp -s "$work/l.txt" "$work/w.txt" && [ -s "$work/w.session" ]; then
    ok "scan --session: the same list, the session recorded"
else
    bad "scan --session"
fi

# A drive letter whose device is the card: wine opens "\\.\K:" as the file.
ln -sfn "$card" "$WINEPREFIX/dosdevices/k::"
"$L" scan "$card" --list >"$work/l.txt" 2>/dev/null
runw scan '\\.\K:' --list >"$work/w.txt" 2>/dev/null
if [ -s "$work/l.txt" ] && cmp -s "$work/l.txt" "$work/w.txt"; then
    ok "scan \\\\.\\K: lists what scanning the image lists"
else
    bad "scan \\\\.\\K: differs from the image"
fi

# Failing sectors through the reader's fault seam: the rescue leaves them out of
# the image (zeros) and marks them bad in the map, and the rest is copied.
first=1000
last=1003
KESTRUM_READ_FAULTS="$first-$last" runw image '\\.\K:' --out "$(winpath "$work/wf")" --rescue \
    >/dev/null 2>&1 || true
bad_line="$(printf '0x%08X  0x%08X  -' $((first * 512)) $(((last - first + 1) * 512)))"
zeros="$(cmp -l "$card" "$work/wf/Image0.img" 2>/dev/null | awk -v a=$((first * 512)) -v b=$(((last + 1) * 512)) \
    '$1 <= a || $1 > b { out++ } END { print out + 0 }')"
if tr -d '\r' <"$work/wf/Image0.map" | grep -qi "^$bad_line" && [ "$zeros" = 0 ]; then
    ok "image --rescue over failing sectors $first-$last: marked bad, everything else copied"
else
    bad "image --rescue over failing sectors: map or image wrong"
    tr -d '\r' <"$work/wf/Image0.map" | grep -v '^#' | head -5 || true
fi

if runw devices >"$work/d.txt" 2>&1 && grep -q "Logical drives" "$work/d.txt" &&
    grep -q '\\\\.\\C:' "$work/d.txt"; then
    ok "devices lists the drives"
else
    bad "devices"
fi
if wine "$win/bin/GeomProbe.exe" >/dev/null 2>&1; then
    ok "GeomProbe runs"
else
    bad "GeomProbe"
fi
echo "windows-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
