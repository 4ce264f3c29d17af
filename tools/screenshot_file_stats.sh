#!/usr/bin/env bash
# Pictures of View > Largest Files and View > File Types after a scan of a
# copy of /usr/include (or of FOLDER): screenshots/largest-files.png and
# file-types.png. Look at them: texts legible and not clipped, sizes
# right-aligned, the chosen type's files listed.
#
#   tools/screenshot_file_stats.sh [build-dir] [FOLDER]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CMakeCache.txt" ] || { echo "no build in $build: configure first" >&2; exit 2; }
cmake --build "$build" --target quarn -j 2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
folder=${2:-}
if [ -z "$folder" ]; then
  folder="$work/include"
  cp -a /usr/include "$folder"
fi

# The window draws itself; the program links every library of the window.
libs=()
for lib in app/libquarn_app_ui.a cli/libquarn_cli.a foldersize/libquarn_foldersize_ui.a \
           duplicates/libquarn_duplicates_ui.a filter/libquarn_filter_ui.a \
           settings/libquarn_settings_ui.a controls/libquarn_controls_ui.a \
           foldersize/libquarn_foldersize.a duplicates/libquarn_duplicates.a \
           filter/libquarn_filter.a pipeline/libquarn_pipeline.a settings/libquarn_settings.a \
           platform/libquarn_platform.a; do
  libs+=("$build/$lib")
done
# shellcheck disable=SC2046
c++ -std=c++20 -fPIC -O1 -I. -I"$build" $(pkg-config --cflags Qt6Widgets) \
  tools/screenshot_file_stats.cpp -o "$work/screenshot_file_stats" \
  -Wl,--start-group "${libs[@]}" -Wl,--end-group \
  $(pkg-config --libs Qt6Widgets libxxhash gio-2.0) -lpthread

mkdir -p screenshots "$work/xdg"
chmod 700 "$work/xdg"
printf '[SETTINGS]\nShellRun=0\n' > "$work/quarn.ini"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/xdg" QUARN_INI="$work/quarn.ini" \
  "$work/screenshot_file_stats" "$folder" "$(realpath screenshots)"
