#!/usr/bin/env bash
# Pictures of the Dupmatch pane after a scan of a generated tree with twins,
# after the verification of their contents, of the File Filter dialog, and of
# the pane after that filter ran: screenshots/dupmatch-pane.png,
# dupmatch-verified.png, file-filter-dialog.png, dupmatch-filtered.png.
# Look at them: texts legible and not clipped, icons drawn.
#
#   tools/screenshot_dupmatch.sh [build-dir]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CMakeCache.txt" ] || { echo "no build in $build: configure first" >&2; exit 2; }
cmake --build "$build" --target quarn_duplicates_ui -j 2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The widgets draw themselves; the program links the pane's libraries.
libs=()
for lib in duplicates/libquarn_duplicates_ui.a filter/libquarn_filter_ui.a \
           controls/libquarn_controls_ui.a filter/libquarn_filter.a \
           duplicates/libquarn_duplicates.a foldersize/libquarn_foldersize.a \
           pipeline/libquarn_pipeline.a settings/libquarn_settings.a platform/libquarn_platform.a; do
  libs+=("$build/$lib")
done
# shellcheck disable=SC2046
c++ -std=c++20 -fPIC -O1 -I. $(pkg-config --cflags Qt6Widgets) \
  tools/screenshot_dupmatch.cpp -o "$work/screenshot_dupmatch" \
  -Wl,--start-group "${libs[@]}" -Wl,--end-group \
  $(pkg-config --libs Qt6Widgets libxxhash gio-2.0) -lpthread

tree="$work/Home"
stamp="2026-03-14 09:26:53"
# Twins: the same name, size and time in several folders.
make_file() {  # path size
  mkdir -p "$(dirname "$tree/$1")"
  head -c "$2" /dev/zero > "$tree/$1"
  touch -d "$stamp" "$tree/$1"
}
for folder in Photos/2023 Backup/Photos/2023 "USB stick/old photos"; do
  make_file "$folder/IMG_0001.jpg" 2345678
  make_file "$folder/IMG_0002.jpg" 1987654
done
for folder in Documents Downloads Backup/Documents; do
  make_file "$folder/report.pdf" 301234
done
make_file "Music/Singles/track.mp3" 912345
make_file "Backup/Music/track.mp3" 912345
make_file "Projects/quarn/README.md" 2048
make_file "Projects/quarn-old/README.md" 2048
make_file "Projects/notes.txt" 1200
make_file "Documents/notes.txt" 999
make_file "todo.txt" 100
# Same name, size and time, other bytes: the verification tells them apart.
head -c 301234 /dev/urandom > "$tree/Backup/Documents/report.pdf"
touch -d "$stamp" "$tree/Backup/Documents/report.pdf"
# The same file twice: a hard link, no copy.
mkdir -p "$tree/Photos/linked"
ln "$tree/Photos/2023/IMG_0002.jpg" "$tree/Photos/linked/IMG_0002.jpg"

mkdir -p screenshots "$work/xdg"
chmod 700 "$work/xdg"
printf '[SETTINGS]\nCmpSize=1\nCmpDate=1\n' > "$work/quarn.ini"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/xdg" QUARN_INI="$work/quarn.ini" \
  "$work/screenshot_dupmatch" "$tree" "$(realpath screenshots)"
