#!/usr/bin/env bash
# Installs every Debian package that building, running and testing the program needs.
# Idempotent: packages already present are left alone, and the package lists are
# refreshed at most once per run. jackd2 (a JACK server for the MIDI tests, no sound
# card needed) comes only together with libjack-jackd2-dev: alone it would replace
# JACK 1's libjack-dev and so remove librtaudio-dev.
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
  libpulse-dev
  libasound2-dev
  # A JACK server for the tests (dummy driver, no sound card). jackd2 comes with
  # libjack-jackd2-dev: alone it would replace libjack-dev and so remove librtaudio-dev.
  jackd2
  libjack-jackd2-dev
  libcli11-dev
  nlohmann-json3-dev
  ableton-link-dev
  librtmidi-dev
  libgtest-dev
  libgmock-dev
  # Reads the command-line tool's MIDI files back in its tests.
  python3-mido
  libbenchmark-dev
  fonts-liberation2
  fonts-dejavu-core
  fontconfig
  pulseaudio
  pulseaudio-utils
  xvfb
  xdotool
  # The accessibility test: its own D-Bus session, the accessibility bus, pyatspi.
  dbus
  at-spi2-core
  python3-pyatspi
  xauth
  util-linux
  clang
  libclang-rt-14-dev
  shared-mime-info
  desktop-file-utils
  liblo-dev
  # The LV2 plugin, its test host (lilv) and the TTL check (lv2_validate runs
  # sord_validate, which sordi has).
  lv2-dev
  liblilv-dev
  lilv-utils
  sordi
  appstream
  dpkg-dev
  file
  lintian
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
