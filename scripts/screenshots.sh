#!/usr/bin/env bash
# Runs the desktop application's screenshot tour (build/bin/kestrum-screenshots,
# a program of its own beside the application) on a virtual display: a PNG of every
# window it reaches (splash, main window, menu, About box, confirmations, the two
# prompts, message and wait boxes, the source page in both workflows, the
# image-creation page copying the demo image, the file-type page, and the results
# page on the demo image: scanning with a live thumbnail, browsing with a picture
# preview, and playing a video) into FOLDER (default build/screenshots). The
# program answers each window with Cancel, Escape or Back, so nothing is saved
# anywhere; it runs with a registry store, logs and a scratch image folder of its
# own, so the user's files stay untouched. Run as root, it attaches the demo image
# read-only to a loop device, so a real disk is imaged.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/screenshots}"
# Only what the tour needs: the tour program, the probe, the install step, the
# pictures and the demo image.
GEN=()
command -v ninja >/dev/null && GEN=(-G Ninja)
[ -f build/CMakeCache.txt ] || cmake -S . -B build "${GEN[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target kestrum-screenshots GeomProbe kestrum-register \
    kestrum_skin demo-image >/dev/null
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing: run scripts/install-deps.sh" >&2; exit 1; }

scratch="$(mktemp -d)"
loop=""
trap 'if [ -n "$loop" ]; then losetup -d "$loop"; fi; rm -rf "$scratch"' EXIT
if [ "$(id -u)" = 0 ] && command -v losetup >/dev/null; then
    loop="$(losetup -f --show -r "build/share/Kestrum for Digital Media/Demo/Image0.img" 2>/dev/null || true)"
fi
export KESTRUM_REGISTRY="$scratch/registry"
export XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
build/bin/kestrum-register "$scratch/logs" >/dev/null

rm -rf "$out"
mkdir -p "$out"
timeout 300 xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/kestrum-screenshots "$(cd "$out" && pwd)"
