#!/usr/bin/env bash
# Installs the Debian packages QXJ needs to build and test, skipping what is there.
set -euo pipefail

# desktop-file-utils checks the desktop entry; dpkg-dev (dpkg-shlibdeps) and file
# let cpack make the Debian package. Qt Charts (whose CMake package wants Qt
# OpenGL's) and Qt SVG draw the statistics, similarity-tester compares the
# sources, and chromium renders the report pages in the tests;
# qt6-translations-l10n has Qt's own texts in Chinese, which the window loads
# (and its tests check); e2fsprogs and mount give a test the small disk it fills.
packages=(g++ cmake ninja-build qt6-base-dev libseccomp-dev libgl-dev fp-compiler fonts-noto-cjk
          desktop-file-utils dpkg-dev file qt6-charts-dev libqt6opengl6-dev qt6-svg-dev
          similarity-tester chromium qt6-translations-l10n e2fsprogs mount)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
