#!/usr/bin/env bash
# An ordinary user reads a disk through UDisks2 and polkit: with a polkit rule the
# user's scan and image equal root's, byte for byte; without it the tool refuses
# clearly, at once, with exit code 1. Starts the system bus, udev, polkit and
# UDisks2 where they are not running (a CI container has no init), and stops
# exactly what it started, removes its user, rules and loop device on every path.
# Exit 77 = skipped (not root, or the packages are missing).
set -uo pipefail
BIN="$1"     # build/bin
DATA="$2"    # tests/data

skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root to start the disk service and attach a loop device"
for p in dbus-daemon busctl runuser useradd userdel losetup udevadm; do
    command -v "$p" >/dev/null || skip "$p is not installed (scripts/install-deps.sh installs it)"
done
for p in /usr/libexec/udisks2/udisksd /usr/lib/polkit-1/polkitd /lib/systemd/systemd-udevd; do
    [ -x "$p" ] || skip "$p is not installed (scripts/install-deps.sh installs it)"
done

WORK="$(mktemp -d)"
USER_NAME="kestrum-ud$$"
RULE="/etc/polkit-1/rules.d/49-$USER_NAME.rules"
UDEV_RULE="/etc/udev/rules.d/99-$USER_NAME.rules"
STARTED=()
LOOP=""
cleanup() {
    [ -n "${STOPPED:-}" ] && kill -CONT "$STOPPED" 2>/dev/null
    [ -n "$LOOP" ] && losetup -d "$LOOP" 2>/dev/null
    rm -f "$RULE" "$UDEV_RULE"
    userdel "$USER_NAME" 2>/dev/null
    for ((i = ${#STARTED[@]} - 1; i >= 0; i--)); do kill "${STARTED[i]}" 2>/dev/null; done
    for pid in "${STARTED[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() { echo "FAILED: $*"; exit 1; }
waitFor() {  # tries a command for up to 10 s
    for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}

# ---- the stack, started only where missing ----
if ! busctl --system status >/dev/null 2>&1; then
    [ -S /run/dbus/system_bus_socket ] && rm -f /run/dbus/system_bus_socket
    rm -f /run/dbus/pid   # a stale pid file stops dbus-daemon from starting
    mkdir -p /run/dbus
    pid="$(dbus-daemon --system --fork --print-pid)" || skip "the system bus does not start here"
    STARTED+=("$pid")
fi
if ! pgrep -x systemd-udevd >/dev/null; then
    /lib/systemd/systemd-udevd >"$WORK/udevd.log" 2>&1 &
    STARTED+=("$!")
    waitFor udevadm control --ping || fail "udevd did not start"
fi
if ! busctl --system status org.freedesktop.PolicyKit1 >/dev/null 2>&1; then
    /usr/lib/polkit-1/polkitd --no-debug >"$WORK/polkitd.log" 2>&1 &
    STARTED+=("$!")
    waitFor busctl --system status org.freedesktop.PolicyKit1 || fail "polkitd did not start"
fi
if ! busctl --system status org.freedesktop.UDisks2 >/dev/null 2>&1; then
    /usr/libexec/udisks2/udisksd >"$WORK/udisksd.log" 2>&1 &
    STARTED+=("$!")
    waitFor busctl --system status org.freedesktop.UDisks2 || fail "udisksd did not start"
fi

# ---- a card: real files at sector boundaries, as a read-only loop device ----
# Loop devices count as system disks for polkit unless udev says otherwise; a
# card in a reader does not.
echo 'KERNEL=="loop*", ENV{UDISKS_SYSTEM}="0"' >"$UDEV_RULE"
udevadm control --reload
CARD="$WORK/card.img"
: >"$CARD"
for f in jpeg-exif.jpg picture.png tone.wav picture.gif clip.avi; do
    cat "$DATA/$f" >>"$CARD"
    truncate -s %512 "$CARD"
    truncate -s +4096 "$CARD"
done
chmod 600 "$CARD"
LOOP="$(losetup -f --show -r "$CARD")" || fail "no loop device"
udevadm settle
# UDisks2 learns of the device from udev: wait until it knows it.
resolves() {
    busctl --system call org.freedesktop.UDisks2 /org/freedesktop/UDisks2/Manager \
        org.freedesktop.UDisks2.Manager ResolveDevice 'a{sv}a{sv}' 1 path s "$LOOP" 0 |
        grep -q block_devices
}
waitFor resolves || fail "UDisks2 does not know $LOOP"
(( (0$(stat -c %a "$LOOP") & 4) == 0 )) || fail "$LOOP is readable by others: the test would prove nothing"

# ---- the user, and the program where the user can run it ----
useradd -M -d "$WORK/home" "$USER_NAME" || fail "useradd"
mkdir -p "$WORK/home" "$WORK/bin" "$WORK/user-out/saved" "$WORK/user-out/image" "$WORK/root-out"
cp "$BIN/kestrum-recover" "$BIN/test_platform" "$WORK/bin/"
chown -R "$USER_NAME" "$WORK/home" "$WORK/user-out"
chmod 755 "$WORK" "$WORK/bin"
asUser() {
    runuser -u "$USER_NAME" -- env -i PATH=/usr/bin:/bin HOME="$WORK/home" \
        KESTRUM_REGISTRY="$WORK/home/registry" "$WORK/bin/kestrum-recover" "$@"
}
# The desktop application's check on Next, as the same user.
pageCheck() {
    runuser -u "$USER_NAME" -- env -i PATH=/usr/bin:/bin HOME="$WORK/home" \
        KESTRUM_UDISKS_DEVICE="$LOOP" KESTRUM_UDISKS_ALLOWED="$1" \
        "$WORK/bin/test_platform" --gtest_filter=DeviceAccess.DiskServiceDecidesForAnOrdinaryUser \
        >"$WORK/page.out" 2>&1 || fail "the page's check (allowed=$1): $(cat "$WORK/page.out")"
}
export KESTRUM_REGISTRY="$WORK/root-registry" HOME="$WORK"

# ---- root: the reference ----
"$WORK/bin/kestrum-recover" scan "$LOOP" --types all --list >"$WORK/root.list" ||
    fail "root's scan"
"$WORK/bin/kestrum-recover" scan "$LOOP" --types all --save "$WORK/root-out" >/dev/null ||
    fail "root's saving"
grep -q JPEG "$WORK/root.list" || fail "root found no JPEG: $(cat "$WORK/root.list")"

# ---- the user without a rule: refused clearly, at once ----
start=$SECONDS
timeout 60 runuser -u "$USER_NAME" -- env -i PATH=/usr/bin:/bin HOME="$WORK/home" \
    KESTRUM_REGISTRY="$WORK/home/registry" "$WORK/bin/kestrum-recover" scan "$LOOP" --list \
    >"$WORK/refused.out" 2>"$WORK/refused.err"
rc=$?
[ "$rc" -eq 1 ] || fail "without permission the exit code was $rc: $(cat "$WORK/refused.err")"
grep -q "permission" "$WORK/refused.err" && grep -q "README" "$WORK/refused.err" ||
    fail "the refusal does not say what to do: $(cat "$WORK/refused.err")"
[ $((SECONDS - start)) -lt 30 ] || fail "the refusal took $((SECONDS - start)) s"
echo "refused as expected: $(cat "$WORK/refused.err")"
pageCheck 0

# ---- the user with the rule: the same files and bytes as root ----
cat >"$RULE" <<EOF
polkit.addRule(function(action, subject) {
    if (action.id == "org.freedesktop.udisks2.open-device" && subject.user == "$USER_NAME")
        return polkit.Result.YES;
});
EOF
# polkitd picks the rule up within a second or so.
waitFor asUser scan "$LOOP" --types all --list || fail "the rule did not take effect"
asUser scan "$LOOP" --types all --list >"$WORK/user.list" || fail "the user's scan"
diff "$WORK/root.list" "$WORK/user.list" || fail "the user's list differs from root's"
pageCheck 1
asUser scan "$LOOP" --types all --save "$WORK/user-out/saved" >/dev/null || fail "the user's saving"
diff -r "$WORK/root-out" "$WORK/user-out/saved" || fail "the user's saved files differ from root's"
asUser image "$LOOP" --out "$WORK/user-out/image" >/dev/null || fail "the user's imaging"
cmp "$CARD" "$WORK/user-out/image/Image0.img" || fail "the user's image differs from the card"
echo "user read $LOOP through UDisks2: $(wc -l <"$WORK/user.list") files, image identical"

# ---- a stopped disk service: the user is told it waits, and it ends in bounded time ----
STOPPED="$(pgrep -x udisksd | head -1)"
if [ -n "$STOPPED" ]; then
    kill -STOP "$STOPPED"
    start=$SECONDS
    timeout 120 runuser -u "$USER_NAME" -- env -i PATH=/usr/bin:/bin HOME="$WORK/home" \
        KESTRUM_REGISTRY="$WORK/home/registry" "$WORK/bin/kestrum-recover" scan "$LOOP" --list \
        >/dev/null 2>"$WORK/stopped.err"
    rc=$?
    kill -CONT "$STOPPED"
    STOPPED=""
    [ "$rc" -eq 1 ] || fail "with the service stopped the exit code was $rc: $(cat "$WORK/stopped.err")"
    grep -q "Waiting for the disk service" "$WORK/stopped.err" &&
        grep -q "did not answer" "$WORK/stopped.err" ||
        fail "a stopped service is not told: $(cat "$WORK/stopped.err")"
    echo "stopped service told after $((SECONDS - start)) s: $(tail -1 "$WORK/stopped.err")"
fi
