#!/usr/bin/env bash
# Installs the Debian packages QXJ needs to build and test, skipping what is there.
# Slurm (slurmctld, slurmd, munge), which the cluster test starts on this machine,
# is installed only in CI (QXJ_CI) or when asked for (QXJ_SLURM=1): elsewhere that
# test skips. Its daemons are never started by the install itself.
set -euo pipefail

# desktop-file-utils checks the desktop entry; dpkg-dev (dpkg-shlibdeps) and file
# let cpack make the Debian package. Qt Charts (whose CMake package wants Qt
# OpenGL's) and Qt SVG draw the statistics, similarity-tester compares the
# sources, and chromium renders the report pages in the tests;
# qt6-translations-l10n has Qt's own texts in Chinese, which the window loads
# (and its tests check); e2fsprogs and mount give a test the small disk it fills;
# parallel runs the shards of the cluster recipe.
packages=(g++ cmake ninja-build qt6-base-dev libseccomp-dev libgl-dev fp-compiler fonts-noto-cjk
          desktop-file-utils dpkg-dev file qt6-charts-dev libqt6opengl6-dev qt6-svg-dev
          similarity-tester chromium qt6-translations-l10n e2fsprogs mount parallel)
daemons=(munge slurmctld slurmd slurm-client)
if [ -n "${QXJ_CI:-}" ] || [ "${QXJ_SLURM:-}" = 1 ]; then
  packages+=("${daemons[@]}")
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
# Debian starts a daemon when its package is installed; the packages' own
# configuration would not even let slurmctld run. A policy-rc.d that refuses
# every start (exit 101) stands in place during the install when none is there.
policy=/usr/sbin/policy-rc.d
placed=""
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\n# Placed by QXJ scripts/deps.sh for the length of an install.\nexit 101\n' \
    | "${sudo[@]}" tee "$policy" >/dev/null
  "${sudo[@]}" chmod 755 "$policy"
  placed=yes
  trap '"${sudo[@]}" rm -f "$policy"' EXIT
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
[ -z "$placed" ] || echo "Daemons were not started: $policy refused them during the install."
