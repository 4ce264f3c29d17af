#!/usr/bin/env bash
# Pictures of twin folders, taken under a virtual X server after one combined
# scan by content of a generated home folder that holds a copy of its photo
# folder and of a project: Dirmass with the copies marked, their Copies
# column, the tool tip of one and their outlines on the treemap
# (screenshots/twin-folders-dirmass.png), and Dupmatch listing the twin
# folders above the twin files (screenshots/twin-folders-dupmatch.png).
# Look at them: badges and outlines visible, texts legible and not clipped.
#
#   tools/screenshot_twin_folders.sh [build-dir]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/screenshot_setup.sh
source tools/screenshot_setup.sh
screenshot_setup "${1:-build}" xdotool xdotool

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree="$work/Home"
# A file's bytes, and the same bytes at the other paths.
blob() {  # size first-path other-paths...
  local size=$1 first=$2
  shift 2
  mkdir -p "$(dirname "$first")"
  head -c "$size" /dev/urandom > "$first"
  touch -d "2024-07-14 18:02:11" "$first"
  for copy in "$@"; do
    mkdir -p "$(dirname "$copy")"
    cp -p "$first" "$copy"
  done
}
blob 4812345 "$tree/Photos/2023/IMG_0001.jpg"
blob 3698765 "$tree/Photos/2023/IMG_0002.jpg"
blob 5123456 "$tree/Photos/2024/IMG_0417.jpg" "$tree/Downloads/photo (1).jpg"
blob 2456789 "$tree/Photos/2024/IMG_0418.jpg"
cp -a "$tree/Photos" "$tree/Photos backup"
blob 12000 "$tree/Projects/quarn/src/main.cpp"
blob 3000 "$tree/Projects/quarn/README.md"
cp -a "$tree/Projects/quarn" "$tree/Projects/quarn-old"
blob 9123456 "$tree/Music/track.mp3"
blob 301234 "$tree/Documents/report.pdf" "$tree/Documents/report-final.pdf"

mkdir -p "$work/xdg" screenshots
chmod 700 "$work/xdg"
out_dir=$(realpath screenshots)
printf '[SETTINGS]\nTwinMode=0\nShellRun=0\nRelativToDriveSpace=0\nTwinsByContent=1\nHashCache=0\n' \
  > "$work/quarn.ini"

# The inner script expands its own arguments.
# shellcheck disable=SC2016
XDG_DATA_HOME="$work/xdg" XDG_CACHE_HOME="$work/cache" QUARN_INI="$work/quarn.ini" \
  XDG_RUNTIME_DIR="$work/xdg" xvfb-run -a -s "-screen 0 1200x760x24" bash -c '
    set -e
    "$1" "$2" & pid=$!
    sleep 4
    window=$(xdotool search --sync --pid $pid --name "Dirmass" | head -n 1)
    xdotool windowsize $window 1180 700 windowfocus --sync $window
    sleep 1
    # Open Projects (the last folder, largest first), then rest on Photos
    # backup for its tool tip.
    xdotool mousemove 31 195 click 1
    sleep 1
    xdotool mousemove 100 123
    sleep 2
    import -window root -trim "$3/twin-folders-dirmass.png"
    kill $pid; wait $pid 2>/dev/null || true
    "$1" /dupmatch "$2" & pid=$!
    sleep 4
    window=$(xdotool search --sync --pid $pid --name "Dupmatch" | head -n 1)
    xdotool windowsize $window 1180 400 windowfocus --sync $window
    sleep 1
    import -window root -trim "$3/twin-folders-dupmatch.png"
    kill $pid; wait $pid 2>/dev/null || true' _ "$program" "$tree" "$out_dir"
echo "wrote screenshots/twin-folders-dirmass.png and screenshots/twin-folders-dupmatch.png"
