#!/usr/bin/env bash
# Runs the built suite (build/) RUNS times (default 20) beside two busy
# loops, so that a test whose waits hold only on an idle machine shows up.
# Build first (tools/build.sh); prints one line a run and fails on any red.
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20}
[ -f build/CTestTestfile.cmake ] || { echo "build/ is not built: run tools/build.sh" >&2; exit 2; }
busy() { while :; do :; done; }
busy & first=$!
busy & second=$!
trap 'kill $first $second 2>/dev/null' EXIT
failed=0
for run in $(seq 1 "$runs"); do
  log=$(mktemp)
  if (cd build && ctest -j "$(nproc)" --output-on-failure >"$log" 2>&1); then
    echo "run $run: $(grep -E 'tests passed' "$log")"
  else
    echo "run $run: FAILED"
    grep -E 'Failed|FAILED|FAIL!|Failure|Timeout' "$log" | head -n 20
    # The whole output stays for reading: which case, which check.
    mkdir -p build/under-load
    cp "$log" "build/under-load/run-$run.log"
    echo "  (the run's whole output: build/under-load/run-$run.log)"
    failed=$((failed + 1))
  fi
  rm -f "$log"
done
echo "$((runs - failed)) of $runs runs green under load"
[ "$failed" -eq 0 ]
