#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. The loop-device and FUSE
# tests need root; without it they say so and are skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)"
