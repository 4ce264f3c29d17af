#!/usr/bin/env bash
# Screenshot of the folder tree after a scan of a copy of /usr/share/doc with
# the default settings (shares of the drive, so most folders read 0 %):
# screenshots/quarn-doc.png. Look at it: the children of the scanned folder
# largest first by their sizes, the Name column using the window's width.
#
#   tools/screenshot_doc.sh [build-dir]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
program=$(realpath "$build/app/quarn")
[ -x "$program" ] || { echo "no program at $program: build first" >&2; exit 2; }
command -v xvfb-run >/dev/null 2>&1 && command -v import >/dev/null 2>&1 || {
  echo "needs xvfb-run and import (tools/screenshot.sh installs them)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -a /usr/share/doc "$work/doc"
mkdir -p "$work/xdg" screenshots
out=$(realpath screenshots)/quarn-doc.png
: > "$work/quarn.ini"  # every key missing: the defaults
XDG_DATA_HOME="$work/xdg" QUARN_INI="$work/quarn.ini" XDG_RUNTIME_DIR="$work" \
  xvfb-run -a -s "-screen 0 1100x760x24" bash -c '
    "$1" /Dirmass "$2" & pid=$!
    sleep 5
    import -window root -trim "$3"
    kill $pid; wait $pid 2>/dev/null || true' _ "$program" "$work/doc" "$out"
echo "wrote screenshots/quarn-doc.png"
