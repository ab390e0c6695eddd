#!/usr/bin/env bash
# Rebuilds draw_pictures and redraws resources/icon/.
#   bash resources/redraw.sh [SHEET_DIR]   also writes a contact sheet there
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QXJ_BUILD:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target draw_pictures
args=(resources/icon)
[ $# -gt 0 ] && args+=(--sheet "$1")
QT_QPA_PLATFORM=offscreen "$build/resources/draw_pictures" "${args[@]}"
