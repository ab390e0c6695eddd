#!/usr/bin/env bash
# Runs qxj under Xvfb on a copy of the sample contest and saves screenshots of
# the history page, the grid after F9 with a cell's detail and a compile error,
# the About box, the problem configuration dialog (3 problems, then a contest
# of 20), the statistics and the similar sources (F7) and the grid after a
# player list import. The contest of 20 problems is opened the way a file
# manager or a terminal does it: qxj DIR. Last, under LANG=C.UTF-8 and
# zh_CN.UTF-8, a contest with a .prb cut short (its message and its column),
# the file dialog of F2 and the configuration dialog; then the configuration
# dialog on problem packages (one interactive, one whose problem.xml is
# broken) and a grader problem, with the checker menu of a package.
# Usage: bash scripts/screenshots.sh [--docs] [OUTPUT_DIR]   (default: build/screenshots)
#   --docs  also replaces the README's pictures: docs/grid.png with the grid after F9,
#           docs/stats.png and docs/similarity.png with the statistics dialog's tabs
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QXJ_BUILD:-build}
docs=""
if [ "${1:-}" = "--docs" ]; then
  docs=$(realpath -m docs)
  shift
fi
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

# Xvfb picks a free display and writes its number once it is ready.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")

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
if [ -n "$docs" ]; then
  mkdir -p "$docs"
  cp "$out/grid-after-f9.png" "$docs/grid.png"
  echo "$docs/grid.png"
fi
# The first problem cell of the top row: right of the detail pane.
read -r x y < <(echo "${QXJ_CELL_AT:-560 60}")
xdotool mousemove "$x" "$y" click 1
sleep 0.5
shot cell-detail
# p05's sum, a compile error: the compiler's ‘’ quotes in a Latin face.
read -r x y < <(echo "${QXJ_ERROR_CELL_AT:-560 170}")
xdotool mousemove "$x" "$y" click 1
sleep 0.5
shot compile-error
xdotool key alt+h
sleep 0.5
xdotool key a
sleep 1
full() { import -window root -crop 900x600+0+0 "$out/$1.png"; echo "$out/$1.png"; }
whole() { import -window root -crop 1280x800+0+0 "$out/$1.png"; echo "$out/$1.png"; }
# Back to the window (a click on an empty part of the grid), a key that opens
# a dialog, its picture taken by the given command, then Escape.
dialog() {
  xdotool mousemove 600 450 click 1
  sleep 0.3
  xdotool key "$1"
  sleep 1.5
  "$2" "$3"
  xdotool key Escape
  sleep 0.5
}
full about
xdotool key Escape
sleep 0.5
dialog F4 full config-3-problems

# The statistics of the judged sample (F7), a problem's page, then the
# similar sources after a comparison.
xdotool mousemove 600 450 click 1
sleep 0.3
xdotool key F7
sleep 2
# The dialog, 1120 x 690, stands in the top left corner without a window manager.
screen() { import -window root -crop 1120x690+0+0 "$out/$1.png"; echo "$out/$1.png"; }
screen stats-overview
# The third entry of the list on the left: the first problem.
xdotool mousemove "${QXJ_STATS_NAV_X:-120}" "${QXJ_STATS_NAV_Y:-${QXJ_STATS_SUM_Y:-98}}" click 1
sleep 1.5
screen stats-problem
xdotool key ctrl+Tab
sleep 0.5
xdotool key alt+b
sleep 3
screen similarity
if [ -n "$docs" ]; then
  cp "$out/stats-problem.png" "$docs/stats.png"
  cp "$out/similarity.png" "$docs/similarity.png"
fi
xdotool key Escape
sleep 0.5

# A player list in GB18030, imported through the file dialog.
printf 'p01,张晓伟\np02,王芳\np03,李娜\np05,陈静\nstd,标程\n' | iconv -f UTF-8 -t GB18030 > "$work/names.csv"
xdotool mousemove 600 450 click 1
sleep 0.3
xdotool key F2
sleep 1.5
xdotool type --delay 20 "$work/names.csv"
xdotool key Return
sleep 1.5
shot grid-after-import

# A contest of 20 problems for the dialog's scrolling width.
kill "$qxj_pid"; wait "$qxj_pid" 2>/dev/null || true
mkdir -p "$work/twenty/src/p01"
for i in $(seq -w 1 20); do mkdir -p "$work/twenty/data/problem$i"; done
XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb "$build/qxj" "$work/twenty" &
qxj_pid=$!
sleep 2
dialog F4 whole config-20-problems

# The same contest with a problem whose .prb was cut short, under each locale.
kill "$qxj_pid"; wait "$qxj_pid" 2>/dev/null || true
cp -r examples/contest "$work/locale"
rm -rf "$work/locale/result"
mkdir -p "$work/locale/data/cut"
head -c 300 examples/contest/data/sum/.prb > "$work/locale/data/cut/.prb"
for lang in C.UTF-8 zh_CN.UTF-8; do
  tag=${lang%%.*}
  LANG=$lang LC_ALL= XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb "$build/qxj" "$work/locale" &
  qxj_pid=$!
  sleep 2
  xdotool search --name 'QXJ' 2>/dev/null | head -1 | xargs -r -I{} xdotool windowfocus --sync {} 2>/dev/null || true
  shot "broken-prb-$tag"
  dialog F2 whole "import-dialog-$tag"
  dialog F4 full "config-$tag"
  kill "$qxj_pid"; wait "$qxj_pid" 2>/dev/null || true
done

# Problem packages copied into data/: the dialog starts from their problem.xml.
pkg=$work/packages
mkdir -p "$pkg/src/p01"
make_package() {  # folder, extra <assets> text
  mkdir -p "$1/tests" "$1/files"
  for k in 01 02 03; do echo "1 $k" > "$1/tests/$k"; echo "$((1 + 10#$k))" > "$1/tests/$k.a"; done
  cp tests/programs/testlibsum.cpp "$1/files/check.cpp"
  cp tests/programs/testlibsum.cpp "$1/check.cpp"
  cp tests/programs/minitestlib.h "$1/files/testlib.h"
  cat > "$1/problem.xml" <<XML
<problem><judging input-file="" output-file=""><testset name="tests">
<time-limit>2000</time-limit><memory-limit>536870912</memory-limit><test-count>3</test-count>
<input-path-pattern>tests/%02d</input-path-pattern><answer-path-pattern>tests/%02d.a</answer-path-pattern>
<tests><test points="30" group="1"/><test points="30" group="1"/><test points="40" group="2"/></tests>
</testset></judging><assets><checker type="testlib"><source path="files/check.cpp"/></checker>${2:-}</assets></problem>
XML
}
make_package "$pkg/data/apb"
make_package "$pkg/data/guess" '<interactor><source path="files/interactor.cpp"/></interactor>'
printf '#include "testlib.h"\nint main(int c, char **v) { registerInteraction(c, v); }\n' > "$pkg/data/guess/files/interactor.cpp"
make_package "$pkg/data/broken"
printf '<problem>\n<judging>\n' > "$pkg/data/broken/problem.xml"
mkdir -p "$pkg/data/graded"
for k in 1 2; do echo "$k" > "$pkg/data/graded/graded$k.in"; echo "$k" > "$pkg/data/graded/graded$k.ans"; done
echo 'int main() {}' > "$pkg/data/graded/grader.cpp"
echo 'int f(int);' > "$pkg/data/graded/graded.h"
XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb "$build/qxj" "$pkg" &
qxj_pid=$!
sleep 2
xdotool search --name 'QXJ' 2>/dev/null | head -1 | xargs -r -I{} xdotool windowfocus --sync {} 2>/dev/null || true
xdotool mousemove 600 450 click 1
sleep 0.3
xdotool key F4
sleep 1.5
full config-packages
# The checker cell of the first column (apb): its own testlib sources.
xdotool mousemove "${QXJ_PC_CHECKER_AT_X:-303}" "${QXJ_PC_CHECKER_AT_Y:-215}" click 3
sleep 0.8
full config-package-checkers
xdotool key Escape
sleep 0.3
xdotool key Escape
sleep 0.3
kill "$qxj_pid"; wait "$qxj_pid" 2>/dev/null || true
