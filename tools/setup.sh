#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Idempotent: apt runs only when a package is missing.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config libgtest-dev qt6-base-dev
          libxkbcommon-dev libgl-dev libglib2.0-dev libxxhash-dev libzstd-dev zlib1g-dev zstd xvfb xauth fonts-dejavu-core python3
          ncdu btrfs-progs xfsprogs
          clang libclang-rt-14-dev)  # the fuzz targets (tools/fuzz.sh)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 update -q
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 install -y -q --no-install-recommends "${missing[@]}"
fi
