#!/usr/bin/env bash
# Builds Quarn and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
cd build
ctest --output-on-failure -j "$(nproc)"
bash ../tools/check-package.sh .
