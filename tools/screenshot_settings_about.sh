#!/usr/bin/env bash
# Pictures of the Settings dialog (with a fresh settings file: every box but
# the first ticked) and of the About box:
# screenshots/settings-dialog.png and about-box.png.
# Look at them: captions legible and not clipped, the picture drawn.
#
#   tools/screenshot_settings_about.sh [build-dir]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CMakeCache.txt" ] || { echo "no build in $build: configure first" >&2; exit 2; }
cmake --build "$build" --target quarn_settings_ui quarn_controls_ui quarn_foldersize -j 2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
libs=()
# The dialog's folder picker comes with the shell services, which count sizes.
for lib in settings/libquarn_settings_ui.a controls/libquarn_controls_ui.a \
           foldersize/libquarn_foldersize.a pipeline/libquarn_pipeline.a \
           settings/libquarn_settings.a platform/libquarn_platform.a; do
  libs+=("$build/$lib")
done
# shellcheck disable=SC2046
c++ -std=c++20 -fPIC -O1 -I. $(pkg-config --cflags Qt6Widgets) \
  tools/screenshot_settings_about.cpp -o "$work/screenshot_settings_about" \
  -Wl,--start-group "${libs[@]}" -Wl,--end-group \
  $(pkg-config --libs Qt6Widgets gio-2.0) -lpthread

mkdir -p screenshots "$work/xdg"
chmod 700 "$work/xdg"
# Nothing is written: the dialog is only shown, never confirmed.
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/xdg" QUARN_INI="$work/quarn.ini" \
  XDG_DATA_HOME="$work/data" "$work/screenshot_settings_about" "$(realpath screenshots)"
echo "wrote screenshots/settings-dialog.png and screenshots/about-box.png"
