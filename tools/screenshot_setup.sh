# shellcheck shell=bash
# Sourced by the screenshot scripts: the program to run and the tools to run
# it under a virtual X server, installed when missing.
#   screenshot_setup BUILD-DIR [COMMAND PACKAGE]...
# sets `program`; each extra COMMAND is installed from PACKAGE when missing.
screenshot_setup() {
  local build=$1
  shift
  program=$(realpath "$build/app/quarn")
  [ -x "$program" ] || { echo "no program at $program: build first" >&2; exit 2; }
  local need=()
  command -v xvfb-run >/dev/null 2>&1 || need+=(xvfb xauth)
  command -v import >/dev/null 2>&1 || need+=(imagemagick)
  while [ $# -ge 2 ]; do
    command -v "$1" >/dev/null 2>&1 || need+=("$2")
    shift 2
  done
  if [ ${#need[@]} -gt 0 ]; then
    local sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 \
      install -y -q --no-install-recommends "${need[@]}"
  fi
}
