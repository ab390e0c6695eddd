#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package
# qxj_<version>_<arch>.deb in build/ (or $QXJ_BUILD).
#   sudo apt-get install ./build/qxj_*.deb     installs it
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
build=${QXJ_BUILD:-build}
rm -f "$build"/qxj_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/qxj_*.deb
