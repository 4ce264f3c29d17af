#!/usr/bin/env bash
# Pictures of the path box taking a typed folder, under a virtual X server:
# screenshots/path-box-completer.png (folder names offered while typing) and
# path-box-refused.png (Enter on a folder that does not exist).
# Look at them: the list below the box, the status text and the summary field.
#
#   tools/screenshot_path_box.sh [build-dir]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/screenshot_setup.sh
source tools/screenshot_setup.sh
screenshot_setup "${1:-build}" xdotool xdotool

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree="$work/Home"
for folder in Music/Albums Music/Singles Movies Mail Documents Downloads; do
  mkdir -p "$tree/$folder"
  head -c 20000 /dev/zero > "$tree/$folder/file.bin"
done
mkdir -p "$work/xdg" screenshots
out_dir=$(realpath screenshots)
printf '[SETTINGS]\nRelativToDriveSpace=0\nShellRun=0\n' > "$work/quarn.ini"

XDG_DATA_HOME="$work/xdg" QUARN_INI="$work/quarn.ini" XDG_RUNTIME_DIR="$work" \
  xvfb-run -a -s "-screen 0 900x700x24" bash -c '
    program=$1 tree=$2 out=$3
    "$program" "$tree" & pid=$!
    sleep 3
    window=$(xdotool search --sync --name "Dirmass")
    # The path box: 250 pixels into the tool bar, below the menu bar.
    read -r x y < <(xdotool getwindowgeometry "$window" |
                    sed -n "s/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p")
    xdotool mousemove $((x + 320)) $((y + 40)) click 1
    xdotool key ctrl+a
    xdotool type --delay 40 "$tree/M"
    sleep 2
    import -window root -trim "$out/path-box-completer.png"
    xdotool key Escape ctrl+a
    xdotool type --delay 20 "$tree/Nowhere"
    xdotool key Return
    sleep 1
    import -window root -trim "$out/path-box-refused.png"
    kill $pid; wait $pid 2>/dev/null || true' _ "$program" "$tree" "$out_dir"
echo "wrote screenshots/path-box-completer.png and path-box-refused.png"
