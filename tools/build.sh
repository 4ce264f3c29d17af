#!/usr/bin/env bash
# Installs what is missing, then configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake_args=()
command -v ninja >/dev/null 2>&1 && cmake_args=(-G Ninja)
# ccache only speeds up rebuilds; the build does not need it.
command -v ccache >/dev/null 2>&1 && cmake_args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build "${cmake_args[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build -j "$(nproc)"
