#!/usr/bin/env bash
# A picture of a comparison in the window (screenshots/compare.png): a
# generated home folder is scanned and kept, then changed (photos added,
# a project removed, downloads cleaned up), and the window compares its new
# scan with the kept one, ordered by change, under a virtual X server. Look
# at it: the Change column legible, the removed folder struck through, the
# treemap warm where it grew and cool where it shrank.
#
#   tools/screenshot_compare.sh [build-dir]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
# shellcheck source=tools/screenshot_setup.sh
source tools/screenshot_setup.sh
screenshot_setup "$build"
cmake --build "$build" --target quarn -j 2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree="$work/Home"
file() {  # size path
  mkdir -p "$(dirname "$2")"
  truncate -s "$1" "$2"
}
for i in 1 2 3 4 5 6; do file $((3000000 + i * 211000)) "$tree/Photos/2024/IMG_04$i.jpg"; done
for i in 1 2 3; do file $((2000000 + i * 97000)) "$tree/Photos/2023/IMG_01$i.jpg"; done
file 9123456 "$tree/Music/album/track1.mp3"
file 8123456 "$tree/Music/album/track2.mp3"
file 4000000 "$tree/Projects/old-site/assets.tar"
file 1200000 "$tree/Projects/quarn/build.o"
file 700000000 "$tree/Downloads/debian.iso"
file 30000000 "$tree/Downloads/video.mp4"
file 301234 "$tree/Documents/report.pdf"

mkdir -p "$work/xdg" screenshots
chmod 700 "$work/xdg"
printf '[SETTINGS]\nShellRun=0\nTwinMode=1\nSortBySize=1\nRelativToDriveSpace=0\n' > "$work/quarn.ini"
export XDG_DATA_HOME="$work/xdg" QUARN_INI="$work/quarn.ini" XDG_RUNTIME_DIR="$work/xdg"
"$program" --report --save "$tree" >/dev/null

# A week later.
for i in 7 8 9; do file $((4000000 + i * 123000)) "$tree/Photos/2025/IMG_07$i.jpg"; done
file 5200000 "$tree/Projects/quarn/build.o"
rm -rf "$tree/Projects/old-site"
rm -f "$tree/Downloads/debian.iso"
file 3000000 "$tree/Music/album/track3.mp3"

libs=()
for lib in app/libquarn_app_ui.a cli/libquarn_cli.a history/libquarn_history_ui.a \
           foldersize/libquarn_foldersize_ui.a history/libquarn_history.a \
           duplicates/libquarn_duplicates_ui.a filter/libquarn_filter_ui.a \
           settings/libquarn_settings_ui.a controls/libquarn_controls_ui.a \
           foldersize/libquarn_foldersize.a duplicates/libquarn_duplicates.a \
           filter/libquarn_filter.a pipeline/libquarn_pipeline.a settings/libquarn_settings.a \
           platform/libquarn_platform.a; do
  libs+=("$build/$lib")
done
# shellcheck disable=SC2046
c++ -std=c++20 -fPIC -O1 -I. -I"$build" $(pkg-config --cflags Qt6Widgets) \
  -DQT_NO_KEYWORDS tools/screenshot_compare.cpp -o "$work/screenshot_compare" \
  -Wl,--start-group "${libs[@]}" -Wl,--end-group \
  $(pkg-config --libs Qt6Widgets libxxhash gio-2.0 libzstd zlib) -lpthread

xvfb-run -a -s "-screen 0 1200x800x24" "$work/screenshot_compare" "$tree" "$(realpath screenshots)"
