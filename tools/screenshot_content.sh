#!/usr/bin/env bash
# Pictures of twins by content in the window, taken under a virtual X server:
# the Dupmatch list after a content search of photos copied under other
# names, with a reference folder (screenshots/content-search.png), and the
# question before Select Copies' result is replaced by hard links
# (screenshots/replace-confirmation.png, answered No: nothing changes).
# Look at them: texts legible and not clipped, columns wide enough.
#
#   tools/screenshot_content.sh [build-dir]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/screenshot_setup.sh
source tools/screenshot_setup.sh
screenshot_setup "${1:-build}" xdotool xdotool

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree="$work/Home"
archive="$work/Archive"
# A photo's bytes, and the same bytes under other names elsewhere.
photo() {  # size first-path other-paths...
  local size=$1 first=$2
  shift 2
  mkdir -p "$(dirname "$first")"
  head -c "$size" /dev/urandom > "$first"
  touch -d "2023-07-14 18:02:11" "$first"
  for copy in "$@"; do
    mkdir -p "$(dirname "$copy")"
    cp -p "$first" "$copy"
    touch -d "2025-01-05 10:00:00" "$copy"
  done
}
photo 4812345 "$tree/Photos/2023/IMG_0001.jpg" "$tree/Album/Beach.jpg" \
  "$tree/USB stick/DCIM/IMG_0001 (copy).jpg"
photo 3698765 "$archive/2023/IMG_0002.jpg" "$tree/Photos/2023/IMG_0002.jpg" \
  "$tree/Album/Sunset at the pier.jpg"
photo 2456789 "$tree/Photos/2024/IMG_0417.jpg" "$tree/Downloads/photo (1).jpg"
photo 301234 "$archive/Documents/report.pdf" "$tree/Documents/report-final.pdf"
photo 1200 "$tree/Projects/notes.txt"
photo 912345 "$tree/Music/track.mp3"

mkdir -p "$work/xdg" screenshots
chmod 700 "$work/xdg"
out_dir=$(realpath screenshots)
printf '[SETTINGS]\nTwinMode=1\nShellRun=0\nTwinsByContent=1\nHashCache=0\nReferenceFolders=%s\n' \
  "$archive" > "$work/quarn.ini"

XDG_DATA_HOME="$work/xdg" XDG_CACHE_HOME="$work/cache" QUARN_INI="$work/quarn.ini" \
  XDG_RUNTIME_DIR="$work/xdg" xvfb-run -a -s "-screen 0 1200x640x24" bash -c '
    set -e
    "$1" /dupmatch "$2" & pid=$!
    sleep 4
    window=$(xdotool search --sync --pid $pid --name "Dupmatch" | head -n 1)
    xdotool windowsize $window 1180 560 windowfocus --sync $window
    sleep 1
    import -window root -trim "$3/content-search.png"
    # Tools > Select Copies, then Tools > Replace Copies with Hard Links...
    xdotool key --window $window alt+t c
    sleep 1
    xdotool key --window $window alt+t Up Up Return
    sleep 2
    import -window root -trim "$3/replace-confirmation.png"
    xdotool key Escape
    kill $pid; wait $pid 2>/dev/null || true' _ "$program" "$tree" "$out_dir"
echo "wrote screenshots/content-search.png and screenshots/replace-confirmation.png"
