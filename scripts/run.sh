#!/usr/bin/env bash
# Installs what is needed, builds, and runs the program: recovers the files of the
# demo image with the command-line tool and says where they went.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
demo="build/share/Kestrum for Digital Media/Demo"
out="${KESTRUM_DEMO_OUT:-$HOME/Kestrum Recovered Demo}"
mkdir -p "$out"
echo "Recovering the files of the demo image $demo/Image0.img ..."
status=0
build/bin/kestrum-recover scan "$demo" --types all --save "$out" --on-exists replace || status=$?
echo "The recovered files are in: $out (one folder per file type)."
exit $status
