#!/usr/bin/env bash
# Runs qxj under Xvfb on a copy of the sample contest and saves screenshots of
# the history page, the grid after F9 with a cell's detail, and the About box.
# Usage: bash scripts/screenshots.sh [OUTPUT_DIR]   (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QXJ_BUILD:-build}
out=$(realpath -m "${1:-$build/screenshots}")

tools=(xvfb xdotool imagemagick fonts-noto-cjk)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
bash scripts/deps.sh
bash scripts/build.sh

work=$(mktemp -d)
cleanup() {
  [ -n "${qxj_pid:-}" ] && kill "$qxj_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp -r examples/contest "$work/sample"
mkdir -p "$work/config/qxj" "$out"
printf '%s\n' "$work/sample" > "$work/config/qxj/history.cfg"
printf '%s' "$work/sample" > "$work/config/qxj/last.cfg"

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb "$build/qxj" &
qxj_pid=$!

window=""
for _ in $(seq 100); do
  window=$(xdotool search --name 'QXJ' 2>/dev/null | head -1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "qxj did not show a window" >&2; exit 1; }
# No window manager: give the window the keyboard focus ourselves.
xdotool windowfocus --sync "$window" 2>/dev/null || true
sleep 1
shot() { import -window root -crop 829x531+0+0 "$out/$1.png"; echo "$out/$1.png"; }

shot history
# Open the highlighted contest by double-clicking its picture.
xdotool mousemove 60 145 click --repeat 2 --delay 80 1
sleep 1.5
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key F9
for _ in $(seq 600); do [ -f "$work/sample/result/.reslist" ] && break; sleep 0.2; done
sleep 0.5
shot grid-after-f9
# The first problem cell of the top row: right of the detail pane.
read -r x y < <(echo "${QXJ_CELL_AT:-560 60}")
xdotool mousemove "$x" "$y" click 1
sleep 0.5
shot cell-detail
xdotool key alt+h
sleep 0.5
xdotool key a
sleep 1
import -window root -crop 900x600+0+0 "$out/about.png"; echo "$out/about.png"
