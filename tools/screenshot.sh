#!/usr/bin/env bash
# Screenshot of the window after a scan of a generated tree, taken under a
# virtual X server: screenshots/quarn-dirmass.png and quarn-dupmatch.png.
# Look at them: texts legible and not clipped, bars and icons drawn.
#
#   tools/screenshot.sh [build-dir]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/screenshot_setup.sh
source tools/screenshot_setup.sh
screenshot_setup "${1:-build}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree="$work/Home"
# Sizes are apparent sizes: sparse files make a large tree cost no disk.
make_file() { mkdir -p "$(dirname "$tree/$1")"; truncate -s "$2" "$tree/$1"; }
make_file "Videos/holiday-2024.mkv" 3800M
make_file "Videos/clips/intro.mp4" 420M
make_file "Videos/clips/outro.mp4" 380M
make_file "Music/Albums/first.flac" 610M
make_file "Music/Albums/second.flac" 540M
make_file "Music/Singles/track.mp3" 9M
make_file "Photos/2023/IMG_0001.jpg" 6M
make_file "Photos/2023/IMG_0002.jpg" 7M
make_file "Photos/2024/IMG_0101.jpg" 640M
make_file "Projects/quarn/src/main.cpp" 40K
make_file "Projects/quarn/build/quarn" 96M
make_file "Projects/notes.txt" 12K
make_file "Documents/report.pdf" 3M
make_file "Documents/IMG_0001.jpg" 6M
make_file "Documents/Thesis/draft.odt" 2M
make_file "Downloads/installer.iso" 1900M
make_file "Downloads/report.pdf" 3M
make_file "readme.txt" 2K
make_file "todo.txt" 1K
mkdir -p "$tree/Empty folder"
# One time for every file, so that same-named files of one size are twins.
find "$tree" -type f -exec touch -d "2024-05-01 12:00:00" {} +

mkdir -p "$work/xdg" screenshots
out_dir=$(realpath screenshots)
# Bars relative to the scan, not to the disk, so that they show.
printf '[SETTINGS]\nRelativToDriveSpace=0\nShellRun=0\n' > "$work/quarn.ini"

shoot() {  # mode-switch output-name
  XDG_DATA_HOME="$work/xdg" QUARN_INI="$work/quarn.ini" XDG_RUNTIME_DIR="$work" \
    xvfb-run -a -s "-screen 0 900x700x24" bash -c '
      "$1" $2 "$3" & pid=$!
      sleep 4
      import -window root -trim "$4"
      kill $pid; wait $pid 2>/dev/null || true' _ "$program" "$1" "$tree" "$out_dir/$2"
  echo "wrote screenshots/$2"
}
shoot /Dirmass quarn-dirmass.png
shoot /dupmatch quarn-dupmatch.png
