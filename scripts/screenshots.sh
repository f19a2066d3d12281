#!/usr/bin/env bash
# Takes the screenshots in docs/ of both programs on the simulated instrument, under Xvfb with a
# small window manager (so the captions show). Needs xvfb, openbox, xdotool and imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs}
if [ -z "${KD735_SHOTS_INSIDE:-}" ]; then
  mkdir -p "$out"
  export KD735_SHOTS_INSIDE=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$out"
fi

bin=build/release/apps
export XDG_RUNTIME_DIR=$(mktemp -d)
openbox &
wm=$!
trap 'kill $wm; rm -rf "$XDG_RUNTIME_DIR"' EXIT
sleep 1

shoot() {  # program caption-pattern file
  "$1" --simulate &
  local pid=$!
  local id
  id=$(xdotool search --sync --onlyvisible --name "$2" | head -1)
  sleep 4
  import -frame -window "$id" "$3"
  kill -TERM "$pid"
  wait "$pid"
}

shoot "$bin/report/KD735_Report" 'Генератор отчетов' "$out/kd735_report.png"
shoot "$bin/virtual/KD735_Virtual" 'Виртуальный толщиномер' "$out/kd735_virtual.png"
echo "written: $out/kd735_report.png $out/kd735_virtual.png"
