#!/usr/bin/env bash
# Takes the screenshots in docs/ of both programs on the simulated instrument, under Xvfb with a
# small window manager (so the captions show): each program as it starts, both under a dark
# palette (qt6ct's "darker" scheme with Fusion), Qt's own file dialog in Russian, the screen
# after the instrument was unplugged, and the virtual program at 125 %. Needs xvfb, openbox,
# xdotool, imagemagick and qt6ct (scripts/setup.sh --test installs them); the dark files page
# also the walk-through program of the full build.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs}
if [ -z "${KD735_SHOTS_INSIDE:-}" ]; then
  mkdir -p "$out"
  export KD735_SHOTS_INSIDE=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$out"
fi

bin=build/release/apps
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
export QT_QPA_PLATFORM=xcb
# The session of a fresh installation: no locale of its own, no desktop theme.
export LC_ALL=C.UTF-8
unset LANG LANGUAGE QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE QT_SCREEN_SCALE_FACTORS
openbox &
wm=$!
dark=$(mktemp -d)
trap 'kill $wm; rm -rf "$XDG_RUNTIME_DIR" "$dark"' EXIT
mkdir -p "$dark/qt6ct"
cat > "$dark/qt6ct/qt6ct.conf" <<EOF
[Appearance]
color_scheme_path=/usr/share/qt6ct/colors/darker.conf
custom_palette=true
style=Fusion
EOF
sleep 1

# shoot FILE PROGRAM CAPTION [KEYS...]: starts the program, waits for its window, types the keys
# (xdotool key names) into it and photographs the window that is active then.
shoot() {
  local file=$1 program=$2 caption=$3
  shift 3
  "$program" --simulate &
  local pid=$!
  local id
  id=$(xdotool search --sync --onlyvisible --name "$caption" | head -1)
  sleep 3
  for keys in "$@"; do
    xdotool windowactivate --sync "$id" >/dev/null 2>&1 || true
    # shellcheck disable=SC2086  # one xdotool key name a word
    xdotool key --clearmodifiers $keys
    sleep 1.5
  done
  import -frame -window "$(xdotool getactivewindow)" "$file"
  kill -TERM "$pid"
  wait "$pid"
}

report=$bin/report/KD735_Report
virtual=$bin/virtual/KD735_Virtual
shoot "$out/kd735_report.png" "$report" 'Генератор отчетов'
shoot "$out/kd735_virtual.png" "$virtual" 'Виртуальный толщиномер'
# Ctrl+S: the picture's save dialog, Qt's own, in Russian.
shoot "$out/kd735_file_dialog.png" "$virtual" 'Виртуальный толщиномер' ctrl+s
# F10, then along the menu bar to "Имитатор" and its "Отключить прибор".
shoot "$out/kd735_disconnected.png" "$virtual" 'Виртуальный толщиномер' "F10 Right Down Return"
QT_SCREEN_SCALE_FACTORS=1.25 \
  shoot "$out/kd735_virtual_125.png" "$virtual" 'Виртуальный толщиномер'
XDG_CONFIG_HOME=$dark QT_QPA_PLATFORMTHEME=qt6ct \
  shoot "$out/kd735_report_dark.png" "$report" 'Генератор отчетов'
XDG_CONFIG_HOME=$dark QT_QPA_PLATFORMTHEME=qt6ct \
  shoot "$out/kd735_virtual_dark.png" "$virtual" 'Виртуальный толщиномер'
# The files page with a file's description shown, under the dark palette: the walk-through's
# picture of that page (bench/kd735_walkthrough, built with the tests).
walk=build/release/bench/kd735_walkthrough
if [ -x "$walk" ]; then
  pages=$(mktemp -d)
  XDG_CONFIG_HOME=$dark QT_QPA_PLATFORMTHEME=qt6ct "$walk" --files 5 --shots "$pages" > /dev/null
  cp "$pages/kd735_report_files.png" "$out/kd735_report_files_dark.png"
  rm -rf "$pages"
fi
echo "written in $out: kd735_report.png kd735_virtual.png kd735_file_dialog.png" \
  "kd735_disconnected.png kd735_virtual_125.png kd735_report_dark.png kd735_virtual_dark.png" \
  "$([ -x "$walk" ] && echo kd735_report_files_dark.png)"
