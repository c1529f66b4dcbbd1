#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and the demo need, if any is missing.
set -euo pipefail

packages=(
  git cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev
  clang-format
  fonts-ipafont-gothic
  xvfb xdotool x11-utils imagemagick
  qt6-charts-dev qt6-l10n-tools qt6-tools-dev
  clang libclang-rt-14-dev
  dpkg-dev file fakeroot lintian desktop-file-utils man-db systemd
  iproute2 procps util-linux
  libmosquitto-dev mosquitto mosquitto-clients influxdb openssl
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Run as root or install sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q "${missing[@]}"
