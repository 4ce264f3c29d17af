#!/usr/bin/env bash
# Times the twin-file report against find|sort and jdupes on the same warm trees.
#
# usage: bench/twins_bench.sh QUARN [FILES]
#   QUARN  the quarn executable (a Release or RelWithDebInfo build)
#   FILES  files of the two named trees (default 1000000)
#
# Trees (made by bench/make_twin_trees.py under $TREES, default
# /work/bench-trees, and deleted afterwards unless KEEP_TREES=1):
#   random    FILES files, each folder's names created in random order
#   sorted    the same names created in name order
#   packages  20,000 package.json of different sizes
# Every command runs RUNS times (default 3) after one warming run; the best
# wall time counts. Peak memory is the largest resident set size that
# /usr/bin/time -v reports; "net" subtracts quarn's peak on an empty folder.
# jdupes hashes file contents, so it does more work; it is shown for context.
set -euo pipefail

quarn=${1:?usage: twins_bench.sh QUARN [FILES]}
files=${2:-1000000}
runs=${RUNS:-3}
trees=${TREES:-/work/bench-trees}
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=bench/lib.sh
source "$here/lib.sh"
need_package jdupes jdupes
[ -x /usr/bin/time ] || need_package /usr/bin/time time

export QUARN_INI=${QUARN_INI:-$(mktemp -d)/bench.ini}
export LC_ALL=${LC_ALL:-C.UTF-8}
empty=$(mktemp -d)
cleanup() {
    rmdir "$empty"
    if [ "${KEEP_TREES:-0}" != 1 ]; then
        rm -rf "$trees/twins-random" "$trees/twins-sorted" "$trees/twins-packages"
    fi
}
trap cleanup EXIT

read -r _ _ base_kb < <(measure "$quarn" --report --dupmatch --json "$empty")
printf '%-9s %9s %8s %8s %8s %9s %9s %8s %10s\n' tree files quarn_s find_s ratio jdupes_s \
    net_MB B/file folders_MB
status=0
for kind in random sorted packages; do
    tree="$trees/twins-$kind"
    if [ ! -d "$tree" ]; then
        mkdir -p "$trees"
        python3 "$here/make_twin_trees.py" "$kind" "$tree" --files "$files" >&2
    fi
    count=$(find "$tree" -type f | wc -l)
    folder_bytes=$(find "$tree" -type d -printf '%p/\n' | wc -c)
    read -r q_s _ q_kb < <(measure "$quarn" --report --dupmatch --json "$tree")
    read -r f_s _ _ < <(measure sh -c "find '$tree' -type f -printf '%f\t%s\t%T@\t%p\n' | sort")
    read -r j_s _ _ < <(runs=1 measure jdupes -r -q "$tree")
    ratio=$(awk -v a="$q_s" -v b="$f_s" 'BEGIN {printf "%.2f", a / b}')
    net=$(( (q_kb - base_kb) * 1024 ))
    per_file=$(awk -v n="$net" -v f="$folder_bytes" -v c="$count" 'BEGIN {printf "%.1f", (n - f) / c}')
    printf '%-9s %9d %8s %8s %8s %9s %9.1f %8s %10.1f\n' "$kind" "$count" "$q_s" "$f_s" "$ratio" \
        "$j_s" "$(awk -v n="$net" 'BEGIN {print n / 1048576}')" "$per_file" \
        "$(awk -v f="$folder_bytes" 'BEGIN {print f / 1048576}')"
    awk -v r="$ratio" 'BEGIN {exit !(r > 0.8)}' && { echo "  $kind: slower than 0.8 of find|sort" >&2; status=1; }
    awk -v p="$per_file" 'BEGIN {exit !(p >= 64)}' && { echo "  $kind: 64 bytes per file or more" >&2; status=1; }
    if [ "${KEEP_TREES:-0}" != 1 ]; then
        rm -rf "$tree"
    fi
done
echo "B/file = (quarn peak - quarn peak on an empty folder - folder paths) / files"
exit $status
