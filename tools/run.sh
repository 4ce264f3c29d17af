#!/usr/bin/env bash
# Builds Quarn and starts it, on FOLDER when one is given.
# Without a display the headless folder-size report of FOLDER is printed instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh >&2
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  if [ $# -gt 0 ]; then
    echo "No display: printing the folder-size report of $1 instead of opening the window." >&2
    exec build/app/quarn --report -- "$1"
  fi
  echo "No display: start Quarn from a desktop session, or give a folder for its report." >&2
  exit 0
fi
exec build/app/quarn "$@"
