#!/usr/bin/env bash
# The test suite in a sanitizer build of its own (tools/test.sh --sanitize,
# tools/test.sh --tsan):
#   address  every test, built with AddressSanitizer and
#            UndefinedBehaviorSanitizer, in build-asan/; the first finding
#            ends its test program and fails it
#   thread   the tests labelled "concurrency", built with ThreadSanitizer,
#            in build-tsan/
# Only the test programs and what they link are built.
set -euo pipefail
cd "$(dirname "$0")/.."

mode="${1:-}"
case "$mode" in
  address) dir=build-asan; label=() ;;
  thread) dir=build-tsan; label=(-L concurrency) ;;
  *)
    echo "usage: tools/sanitized_test.sh address|thread" >&2
    exit 2
    ;;
esac

bash tools/setup.sh
if [ ! -f "$dir/CMakeCache.txt" ]; then
  options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_SANITIZE="$mode")
  command -v ninja >/dev/null 2>&1 && options+=(-G Ninja)
  command -v ccache >/dev/null 2>&1 && options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$dir" "${options[@]}"
else
  cmake -S . -B "$dir" >/dev/null  # tests added since the last run
fi

# A test is named after its program's target.
mapfile -t targets < <(cd "$dir" && ctest -N "${label[@]}" | sed -n 's/^ *Test *#[0-9]*: //p')
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="suppressions=$PWD/tools/tsan-qt.supp:second_deadlock_stack=1"
cd "$dir"
ctest --output-on-failure -j "$(nproc)" "${label[@]}"
