#!/usr/bin/env bash
# Installs the Debian packages remcons needs, only those that are missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang-format clang libclang-rt-dev
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev zlib1g-dev libpng-dev
  qt6-base-dev libxrandr-dev libxtst-dev
  xvfb xauth xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
  fonts-liberation2 fonts-ipafont-gothic
  mtools dosfstools xorriso genisoimage
  ffmpeg gcovr
  nbdkit libnbd-bin
  man-db desktop-file-utils libxml2-utils librsvg2-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi
