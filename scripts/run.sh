#!/usr/bin/env bash
# Installs what is needed, builds, and starts the desktop application. Without a
# display the program says so and names the ways on: xvfb-run or the
# command-line tool.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
exec build/bin/kestrum
