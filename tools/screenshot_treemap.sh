#!/usr/bin/env bash
# Screenshots of the window with its treemap after a scan of copies of
# /usr/include and /usr/share, taken under a
# virtual X server: screenshots/quarn-treemap-include.png and
# quarn-treemap-share.png. Look at them: names legible, grid drawn, types
# coloured.
#
#   tools/screenshot_treemap.sh [build-dir]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
program=$(realpath "$build/app/quarn")
[ -x "$program" ] || { echo "no program at $program: build first" >&2; exit 2; }
command -v xvfb-run >/dev/null && command -v import >/dev/null ||
  { echo "needs xvfb-run and import (tools/screenshot.sh installs them)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -a /usr/include "$work/include"
# Entries this user cannot read stay behind; the rest is a sizeable tree.
cp -a /usr/share "$work/share" 2>/dev/null || true
mkdir -p "$work/xdg" screenshots
out_dir=$(realpath screenshots)
printf '[SETTINGS]\nRelativToDriveSpace=0\nShellRun=0\nTwinMode=0\n' > "$work/quarn.ini"

shoot() {  # folder output-name
  XDG_DATA_HOME="$work/xdg" QUARN_INI="$work/quarn.ini" XDG_RUNTIME_DIR="$work" \
    xvfb-run -a -s "-screen 0 1200x900x24" bash -c '
      "$1" /Dirmass "$2" & pid=$!
      sleep 8
      import -window root -trim "$3"
      kill $pid; wait $pid 2>/dev/null || true' _ "$program" "$1" "$out_dir/$2"
  echo "wrote screenshots/$2"
}
shoot "$work/include" quarn-treemap-include.png
shoot "$work/share" quarn-treemap-share.png
