#!/usr/bin/env bash
# Installs every Debian package that building, running and testing the program needs.
# Idempotent: packages already present are left alone, and the package lists are
# refreshed at most once per run.
set -euo pipefail

packages=(
  build-essential
  cmake
  ninja-build
  pkg-config
  qt6-base-dev
  libqt6test6
  libqt6network6
  librtaudio-dev
  ableton-link-dev
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  fonts-liberation2
  fonts-dejavu-core
  fontconfig
  pulseaudio
  pulseaudio-utils
  xvfb
  xdotool
  xauth
  util-linux
  clang
  libclang-rt-14-dev
  shared-mime-info
  desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
