#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing.
#   scripts/setup.sh                  what the programs, the Writer helper and the tool need to
#                                     build and run (the run command, scripts/run.sh)
#   scripts/setup.sh --test           that, and what the tests, benchmarks, fuzzing, packaging and
#                                     screenshots need (the test command, scripts/test.sh)
#   scripts/setup.sh --list [--test]  prints that list, one entry a line, and installs nothing
# An entry "a|b" is met by either package; where neither is installed the first one is.
set -euo pipefail

test=""
list=""
for a in "$@"; do
  case "$a" in
    --test) test=1 ;;
    --list) list=1 ;;
    *) echo "usage: scripts/setup.sh [--test] [--list]" >&2; exit 2 ;;
  esac
done

# LibreOffice Writer for the live report: the desktop variant, whose window the report is built in,
# where none is installed; a headless Writer already there is kept (the two exclude each other).
# The test command on its own prefers the headless one, which serves the tests as well.
writer="libreoffice-writer|libreoffice-writer-nogui"
[ -n "$test" ] && writer="libreoffice-writer-nogui|libreoffice-writer"

run=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev
  # Qt's own dialogs and buttons in Russian; the programs on a Wayland desktop
  qt6-translations-l10n qt6-wayland
  libusb-1.0-0-dev libzip-dev libpugixml-dev
  fonts-dejavu-core fonts-liberation2
  # the Writer engine: Writer and the UNO SDK its helper kd735_writer is built with
  "$writer" libreoffice-dev libreoffice-dev-common
)
tests=(
  libgtest-dev libgmock-dev libbenchmark-dev
  libumockdev-dev umockdev
  python3 python3-docx poppler-utils
  xvfb xauth xdotool imagemagick openbox qt6ct
  librsvg2-bin dpkg-dev fakeroot file desktop-file-utils appstream lintian
  clang-14 libclang-rt-14-dev libtsan2
)
packages=("${run[@]}")
[ -n "$test" ] && packages+=("${tests[@]}")

if [ -n "$list" ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

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
