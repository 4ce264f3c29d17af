#!/usr/bin/env bash
# Times the walk and both reports against their peers on the same trees in
# one run, with a warm page cache and, when run as root, a cold one.
#
# usage: bench/walk_bench.sh QUARN [WALK]
#   QUARN  the quarn executable of a Release build
#   WALK   the walk-alone program (default: bench/quarn_walk_bench beside
#          QUARN's build, that is QUARN/../../bench/quarn_walk_bench)
#
# Trees (made by bench/make_tree.py under $TREES, default /work/bench-trees,
# when missing; removed afterwards only with REMOVE_TREES=1):
#   tree      1,000,000 files in 100,000 folders
#   packages  300,000 files in node_modules-style folders
#   flat      one folder of 1,000,000 files
# Set TREE_KINDS to run fewer ("tree flat").
#
# Compared:
#   folder report  quarn --report --json  vs  du -sb, ncdu -0 -o /dev/null,
#                  gdu -n -p -c (gdu scans in parallel)
#   twin report    quarn --report --dupmatch --json  vs  find | sort (names,
#                  sizes, times and paths, sorted: the least a twin search does)
#   walk alone     quarn_walk_bench --threads 1, 2, 4, 8 (a sink that only
#                  counts), so that the walk's own gain shows apart from the stores
# Warm: one warming run, then RUNS runs (default 3), the best wall time
# counts. Cold (root only): the page cache is dropped (3 to
# /proc/sys/vm/drop_caches) before each of COLD_RUNS runs (default 1), the
# best counts. Peak memory is the largest resident set that /usr/bin/time
# reports; "net" less quarn's own on an empty folder. Ratios are quarn's time
# over the peer's: below 1 quarn is faster.
# Targets on a 2-core machine: folder report at most 0.6x du -sb warm and
# cold and faster than gdu; twin report at most 0.5x find | sort.
set -euo pipefail

quarn=$(realpath "${1:?usage: walk_bench.sh QUARN [WALK]}")
walk=${2:-$(dirname "$quarn")/../bench/quarn_walk_bench}
trees=${TREES:-/work/bench-trees}
runs=${RUNS:-3}
cold_runs=${COLD_RUNS:-1}
kinds=${TREE_KINDS:-tree packages flat}
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=bench/lib.sh
source "$here/lib.sh"
need_package ncdu ncdu
need_package gdu gdu
[ -x /usr/bin/time ] || need_package /usr/bin/time time
[ -x "$walk" ] || { echo "no walk program at $walk (build the bench target)" >&2; exit 2; }

cold=0
if [ "$(id -u)" = 0 ] && [ -w /proc/sys/vm/drop_caches ]; then
    cold=1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUARN_INI="$work/quarn.ini"  # missing: every setting at its default
export LC_ALL=C.UTF-8
mkdir "$work/empty"

make_tree() {  # kind path
    case $1 in
        tree) python3 "$here/make_tree.py" "$2" --files 1000000 --folders 100000 ;;
        packages) python3 "$here/make_tree.py" "$2" --kind packages --files 300000 ;;
        flat) python3 "$here/make_tree.py" "$2" --kind flat --files 1000000 ;;
    esac
}

# measure (bench/lib.sh), cold when $1 is "cold": no warming, the page cache
# dropped before each of $cold_runs runs.
measure_in() {  # warm|cold command...
    local mode=$1
    shift
    if [ "$mode" = cold ]; then
        runs=$cold_runs MEASURE_COLD=1 measure "$@"
    else
        measure "$@"
    fi
}

ratio() {  # a b
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'
}

read -r _ _ base_kb < <(measure "$quarn" --report --json "$work/empty")
echo "quarn on an empty folder: peak $base_kb KB; $(nproc) processors; cold runs: $([ $cold = 1 ] && echo yes || echo "no (not root)")"

for kind in $kinds; do
    tree="$trees/walk-$kind"
    if [ ! -d "$tree" ]; then
        mkdir -p "$trees"
        make_tree "$kind" "$tree" >&2
    fi
    folders=$(find "$tree" -type d | wc -l)
    files=$(find "$tree" ! -type d | wc -l)
    echo
    echo "== $kind: $files files in $folders folders ($tree)"
    modes=warm
    [ $cold = 1 ] && modes="warm cold"
    for mode in $modes; do
        declare -A t m
        read -r t[quarn] _ m[quarn] < <(measure_in "$mode" "$quarn" --report --json "$tree")
        read -r t[du] _ m[du] < <(measure_in "$mode" du -sb "$tree")
        read -r t[ncdu] _ m[ncdu] < <(measure_in "$mode" ncdu -0 -o /dev/null "$tree")
        read -r t[gdu] _ m[gdu] < <(measure_in "$mode" gdu -n -p -c "$tree")
        read -r t[twins] _ m[twins] < <(measure_in "$mode" "$quarn" --report --dupmatch --json "$tree")
        read -r t[find] _ m[find] < <(measure_in "$mode" sh -c \
            "find '$tree' -type f -printf '%f\t%s\t%T@\t%p\n' | sort")
        for threads in 1 2 4 8; do
            read -r t[walk$threads] _ m[walk$threads] < <(measure_in "$mode" "$walk" --threads "$threads" "$tree")
        done
        printf -- "-- %s\n" "$mode"
        printf "  %-34s %8s s %9s KB\n" "quarn --report" "${t[quarn]}" "${m[quarn]}" \
            "du -sb" "${t[du]}" "${m[du]}" "ncdu -0 -o /dev/null" "${t[ncdu]}" "${m[ncdu]}" \
            "gdu -n -p -c" "${t[gdu]}" "${m[gdu]}" \
            "quarn --report --dupmatch" "${t[twins]}" "${m[twins]}" \
            "find | sort" "${t[find]}" "${m[find]}"
        for threads in 1 2 4 8; do
            printf "  %-34s %8s s %9s KB\n" "walk alone, $threads threads" "${t[walk$threads]}" \
                "${m[walk$threads]}"
        done
        printf "  folder report / du -sb   %s  (target <= 0.6)\n" "$(ratio "${t[quarn]}" "${t[du]}")"
        printf "  folder report / ncdu     %s\n" "$(ratio "${t[quarn]}" "${t[ncdu]}")"
        printf "  folder report / gdu      %s  (target < 1)\n" "$(ratio "${t[quarn]}" "${t[gdu]}")"
        printf "  twin report / find|sort  %s  (target <= 0.5)\n" "$(ratio "${t[twins]}" "${t[find]}")"
        printf "  walk 8 threads / 1       %s\n" "$(ratio "${t[walk8]}" "${t[walk1]}")"
        printf "  folder report peak, net of the empty run: %d KB (%.0f bytes per folder)\n" \
            $((m[quarn] - base_kb)) "$(awk -v k=$((m[quarn] - base_kb)) -v f="$folders" \
                'BEGIN {print k * 1024 / f}')"
        unset t m
    done
    if [ "${REMOVE_TREES:-0}" = 1 ]; then
        rm -rf "$tree"
    fi
done
