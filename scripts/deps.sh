#!/usr/bin/env bash
# Installs the Debian packages QXJ needs to build and test, skipping what is there.
set -euo pipefail

# desktop-file-utils checks the desktop entry; dpkg-dev (dpkg-shlibdeps) and file
# let cpack make the Debian package; qt6-translations-l10n has Qt's own texts in
# Chinese, which the window loads (and its tests check).
packages=(g++ cmake ninja-build qt6-base-dev libseccomp-dev libgl-dev fp-compiler fonts-noto-cjk
          qt6-translations-l10n desktop-file-utils dpkg-dev file)
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
