#!/usr/bin/env bash
# Installs the Debian 12 packages that building and running Ondelith need,
# only those that are missing; with --tests also the test and packaging tool
# chain, which scripts/test.sh asks for. Extra arguments are more packages.
# Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config patch
  portaudio19-dev libsndfile1-dev libcli11-dev
  librtmidi-dev libjack-jackd2-dev libasound2-dev
  qt6-base-dev libgl-dev fonts-dejavu-core
  dpf-source lv2-dev libcairo2-dev libx11-dev libxcursor-dev libxext-dev libxrandr-dev
)
if [ "${1:-}" = --tests ]; then
  shift
  packages+=(
    clang libclang-rt-14-dev clang-format pmccabe
    libgtest-dev libgmock-dev libbenchmark-dev
    jackd2 xvfb xdotool desktop-file-utils appstream man-db sox
    liblilv-dev lilv-utils jalv x11-apps x11-utils imagemagick
    lintian fakeroot file dpkg-dev ardour
  )
fi
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
