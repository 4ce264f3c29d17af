#!/usr/bin/env bash
# Builds Quarn and runs every test through ctest.
#   --sanitize  instead: the suite under AddressSanitizer and
#               UndefinedBehaviorSanitizer (tools/sanitized_test.sh)
#   --tsan      instead: the concurrency tests under ThreadSanitizer
#   --fuzz [SECONDS]  instead: each libFuzzer target for SECONDS (default
#               60), failing on any finding (tools/fuzz.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  "") ;;
  --sanitize) exec bash tools/sanitized_test.sh address ;;
  --tsan) exec bash tools/sanitized_test.sh thread ;;
  --fuzz) exec bash tools/fuzz.sh "${2:-60}" ;;
  *) echo "usage: tools/test.sh [--sanitize | --tsan | --fuzz [SECONDS]]" >&2; exit 2 ;;
esac
bash tools/build.sh
cd build
ctest --output-on-failure -j "$(nproc)"
bash ../tools/check-package.sh .
