#!/usr/bin/env bash
# The report program's walk-through under Xvfb with a window manager: reads 20 files and the
# B-scans from the simulated instrument, makes the document and sends every file, as a person
# would through the controls; prints the program time and writes the pictures to docs/
# (the two pages and the first page of the finished report as LibreOffice renders it).
set -euo pipefail
cd "$(dirname "$0")/.."
# With --writer (LibreOffice Writer installed, the desktop variant) the report is made live in a
# visible Writer and docs/kd735_report_writer.png shows both side by side.
out=docs
writer=""
for a in "$@"; do
  case "$a" in
    --writer) writer=--writer ;;
    *) out=$a ;;
  esac
done
if [ -z "${KD735_WALK_INSIDE:-}" ]; then
  mkdir -p "$out"
  export KD735_WALK_INSIDE=1
  screen="1024x768x24"
  [ -n "$writer" ] && screen="1600x880x24"
  exec xvfb-run -a -s "-screen 0 $screen" "$0" "$@"
fi
export XDG_RUNTIME_DIR=$(mktemp -d)
export QT_QPA_PLATFORM=xcb
openbox &
wm=$!
trap 'kill $wm; rm -rf "$XDG_RUNTIME_DIR"' EXIT
sleep 1
build/release/bench/kd735_walkthrough --files 20 --shots "$out" $writer
