#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60), one
# after the other. Each starts from its committed seeds
# (tests/fuzz/corpus/NAME) plus what earlier runs found (build-fuzz/corpus/
# NAME). Prints per target the inputs run, the coverage reached and the
# findings; any finding (crash, leak, undefined behaviour, failed check,
# hang) fails the whole. A finding's input is kept in build-fuzz/findings/
# NAME/ for the test that is to replay it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
case "$seconds" in
  '' | *[!0-9]*) echo "usage: tools/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac

dir=build-fuzz
bash tools/setup.sh
if [ ! -f "$dir/CMakeCache.txt" ]; then
  options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_FUZZ=ON
           -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
  command -v ninja >/dev/null 2>&1 && options+=(-G Ninja)
  command -v ccache >/dev/null 2>&1 && options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$dir" "${options[@]}"
fi

targets=(import_reader ini_document exclude_rules hash_cache kept_scan)
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

# The import reader and the export writer take a 1 MiB buffer each per input:
# a smaller quarantine keeps a run from spending its time recycling them.
export ASAN_OPTIONS="detect_leaks=1:quarantine_size_mb=32"
# The hash cache target saves with fsync: on tmpfs that costs nothing.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=()
printf '%-14s %12s %8s %8s %9s\n' target executions cov ft findings
for name in "${targets[@]}"; do
  corpus="$dir/corpus/$name"
  findings="$dir/findings/$name"
  log="$dir/fuzz-$name.log"
  rm -rf "$findings"  # those of an earlier run are in its log
  mkdir -p "$corpus" "$findings"
  status=0
  # -timeout: an input that takes this long is a hang, not slow work.
  "$dir/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "tests/fuzz/corpus/$name" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  found=$(find "$findings" -type f | wc -l)
  if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then
    found=1  # a failure that left no input behind still fails
  fi
  printf '%-14s %12s %8s %8s %9s\n' "$name" "${executions:-?}" "${cov:-?}" "${ft:-?}" "$found"
  if [ "$found" -ne 0 ]; then
    failed+=("$name")
    grep -E 'ERROR|SUMMARY|check failed|runtime error' "$log" | head -5 >&2 || true
    echo "  log: $log; inputs: $findings/" >&2
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  printf 'findings in: %s\n' "${failed[*]}" >&2
  exit 1
fi
