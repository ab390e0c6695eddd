#!/usr/bin/env bash
# Configures and builds QXJ in ./build (or $QXJ_BUILD).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QXJ_BUILD:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
