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
  fonts-dejavu-core fonts-liberation2
  xvfb xauth xdotool imagemagick
  librsvg2-bin dpkg-dev fakeroot file desktop-file-utils appstream lintian
  # the LibreOffice Writer engine: Writer (the headless variant unless the desktop one is there;
  # the two exclude each other), the UNO SDK for its helper, pdftotext for the tests
  "libreoffice-writer-nogui|libreoffice-writer" libreoffice-dev libreoffice-dev-common poppler-utils
  clang-14 libclang-rt-14-dev libtsan2
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for entry in "${packages[@]}"; do
  found=""
  IFS='|' read -ra alternatives <<< "$entry"
  for p in "${alternatives[@]}"; do installed "$p" && found=1; done
  [ -n "$found" ] || missing+=("${alternatives[0]}")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
