#!/usr/bin/env bash
# Configures and builds into build/ (executables in build/bin), then records the
# installation in the registry store as the installer would.
set -euo pipefail
cd "$(dirname "$0")/.."
GEN=()
command -v ninja >/dev/null && GEN=(-G Ninja)
[ -f build/CMakeCache.txt ] || cmake -S . -B build "${GEN[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
build/bin/kestrum-register >/dev/null
