#!/usr/bin/env bash
# Installs what is missing, builds, and judges a fresh copy of the sample contest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
build=${QXJ_BUILD:-build}
if [ ! -x "$build/qxj-judge" ]; then
  echo "Built. The console judge is not there yet, so there is nothing to judge."
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r examples/contest "$work/contest"
"$build/qxj-judge" "$work/contest"
