#!/usr/bin/env bash
# Makes the Debian package from a built tree, unpacks it and runs the programs from the unpacked
# tree, as an installed system would: `kd735 --version`, a report with the installed template
# (given and found by itself), and each desktop program started offscreen on the simulated
# instrument and stopped with SIGTERM. Checks the file list and runs the desktop-entry, AppStream
# and lintian checks on what the package holds.
#
# usage: test_package.sh BUILD_DIR VERSION CPACK [PROGRAM...]
#   PROGRAM: the desktop programs the build has (KD735_Report, KD735_Virtual); empty ones are
#   ignored. A program not named is checked to be absent from the package, with a notice.
set -euo pipefail

build=$1 version=$2 cpack=$3
shift 3
programs=()
for p in "$@"; do [ -n "$p" ] && programs+=("$p"); done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
has_program() {
  local p
  for p in "${programs[@]}"; do [ "$p" = "$1" ] && return 0; done
  return 1
}

for tool in dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli file python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done

# The package, made in a folder of its own so that the build folder stays as it is.
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack could not make the package"; }
deb=$work/out/kd735_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls "$work/out"; fail "no $(basename "$deb")"; }

# Control fields: the version of the build, dependencies computed from the binaries, the
# maintainer scripts that reload the udev rules.
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6core6 libusb-1.0-0 libzip4; do
  [[ $depends == *"$lib "* ]] || fail "Depends lacks $lib: $depends"
done
[[ $(dpkg-deb -f "$deb" Recommends) == *libreoffice-writer* ]] || fail "no Recommends: libreoffice-writer"
dpkg-deb -e "$deb" "$work/control"
for script in postinst postrm; do
  [ -x "$work/control/$script" ] || fail "no executable $script"
  grep -q 'udevadm control --reload-rules' "$work/control/$script" || fail "$script does not reload udev"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
expect() { [ -f "$root/$1" ] || fail "not in the package: $1"; }
expect usr/bin/kd735
expect usr/share/kd735/Sample_KD735.docx
expect usr/lib/udev/rules.d/60-kd735.rules
expect usr/share/icons/hicolor/scalable/apps/kd735.svg
for size in 16 22 24 32 48 64 128 256; do
  png=usr/share/icons/hicolor/${size}x${size}/apps/kd735.png
  expect "$png"
  [[ $(file -b "$root/$png") == *"PNG image data, $size x $size,"* ]] || fail "$png is not $size x $size"
done
expect usr/share/man/man1/kd735.1.gz
expect usr/share/bash-completion/completions/kd735
expect usr/share/doc/kd735/copyright
expect usr/share/doc/kd735/changelog.gz

# Each desktop program comes with its desktop entry, AppStream metadata and manual page.
declare -A ids=([KD735_Report]=ru.kd735.report [KD735_Virtual]=ru.kd735.virtual)
for p in KD735_Report KD735_Virtual; do
  parts=("usr/bin/$p" "usr/share/applications/${ids[$p]}.desktop"
    "usr/share/metainfo/${ids[$p]}.metainfo.xml" "usr/share/man/man1/$p.1.gz")
  if has_program "$p"; then
    for f in "${parts[@]}"; do expect "$f"; done
    grep -qx "StartupWMClass=$p" "$root/usr/share/applications/${ids[$p]}.desktop" ||
      fail "${ids[$p]}.desktop: StartupWMClass is not $p"
  else
    echo "NOTICE: $p is not built yet: its files and its start-up are not checked"
    for f in "${parts[@]}"; do [ ! -e "$root/$f" ] || fail "$f is in the package without $p"; done
  fi
done

# Validators on the packaged files.
shopt -s nullglob
for f in "$root"/usr/share/applications/*.desktop; do
  desktop-file-validate "$f" || fail "desktop-file-validate $(basename "$f")"
done
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
if [ ${#metainfo[@]} -gt 0 ]; then
  appstreamcli validate --no-net "${metainfo[@]}" || fail "appstreamcli validate"
  appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree"
fi
if command -v lintian >/dev/null; then
  rc=0
  lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || rc=$?
  grep -v 'running with root privileges' "$work/lintian.log" || true
  [ "$rc" -eq 0 ] || fail "lintian reports errors"
fi

# The tool from the unpacked tree.
bin=$root/usr/bin
[ "$("$bin/kd735" --version)" = "kd735 $version" ] || fail "kd735 --version does not say $version"
"$bin/kd735" --simulate read measure --out "$work/files" >/dev/null || fail "kd735 read"
measures=("$work"/files/*.KDMesuare)
[ ${#measures[@]} -gt 0 ] || fail "the simulated instrument gave no measurement files"
for template in "$root/usr/share/kd735/Sample_KD735.docx" ""; do
  args=(report --out "$work/report.docx" --measure "${measures[@]}")
  [ -n "$template" ] && args+=(--template "$template")
  rm -f "$work/report.docx"
  "$bin/kd735" "${args[@]}" >"$work/report.out" 2>"$work/report.err" ||
    { cat "$work/report.err"; fail "kd735 ${args[*]}"; }
  [ ! -s "$work/report.out" ] || { cat "$work/report.out"; fail "kd735 report wrote to stdout"; }
  python3 - "$work/report.docx" ${#measures[@]} <<'EOF' || fail "the report document is wrong"
import re, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    assert z.testzip() is None
    xml = z.read("word/document.xml").decode()
names = re.findall(r"TEST\d{4}", xml)
assert len(names) == int(sys.argv[2]), names
EOF
done

# The desktop programs from the unpacked tree: up for 2 s on the simulated instrument, then SIGTERM
# must end them cleanly (exit code 0). Home, runtime and temporary folders are private to the run.
for p in "${programs[@]}"; do
  [[ $("$bin/$p" --version 2>&1) == *"$version"* ]] || fail "$p --version does not say $version"
  home=$work/home-$p
  mkdir -p "$home/run" && chmod 700 "$home/run"
  HOME=$home XDG_RUNTIME_DIR=$home/run XDG_CONFIG_HOME=$home/config TMPDIR=$home \
    QT_QPA_PLATFORM=offscreen "$bin/$p" --simulate >"$work/$p.log" 2>&1 &
  pid=$!
  sleep 2
  if ! kill -0 "$pid" 2>/dev/null; then
    rc=0
    wait "$pid" || rc=$?
    cat "$work/$p.log"
    fail "$p ended by itself within 2 s (exit code $rc)"
  fi
  kill -TERM "$pid"
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    cat "$work/$p.log"
    fail "$p did not end within 10 s of SIGTERM"
  fi
  rc=0
  wait "$pid" || rc=$?
  [ "$rc" -eq 0 ] ||
    { cat "$work/$p.log"; fail "$p ended with exit code $rc after SIGTERM (143: SIGTERM not handled)"; }
  echo "$p came up and ended cleanly on SIGTERM"
done

echo "package $(basename "$deb") checked"
