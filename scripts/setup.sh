#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, if any are missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev
  libusb-1.0-0-dev libzip-dev libpugixml-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libumockdev-dev umockdev
  python3 python3-docx
  clang-14 libclang-rt-14-dev libtsan2
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
