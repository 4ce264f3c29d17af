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
# The commands of one tree run in turn, round after round, so that a shared
# machine's changing load weighs on all alike; medians count. Warm: one
# warming round, then RUNS rounds (default 5). Cold (root only): the page
# cache is dropped (3 to /proc/sys/vm/drop_caches) before every run, COLD_RUNS
# rounds (default 3); not root: skipped, and said so. Peak memory is the
# largest resident set that /usr/bin/time reports; "net" less quarn's own on
# an empty folder. Ratios are quarn's time over the peer's: below 1 quarn is
# faster. Also printed: the threads the default walk grew to, the twin
# index's own bytes per file (QUARN_BENCH_INDEX_BYTES), and, when xvfb-run
# is there and WINDOW=1, the window's scan against the headless report
# (bench/ui_responsiveness.sh) on the first tree.
# Targets on a 2-core machine: folder report at most 0.6x du -sb warm and
# 0.4x cold and faster than gdu in both; twin report at most 0.4x find | sort
# warm; at most 48 bytes per file in the twin index and 100 bytes per folder
# in the tree; the window's scan at most 1.1x the report, no stall above 50 ms.
set -euo pipefail

quarn=$(realpath "${1:?usage: walk_bench.sh QUARN [WALK]}")
walk=${2:-$(dirname "$quarn")/../bench/quarn_walk_bench}
trees=${TREES:-/work/bench-trees}
rounds=${RUNS:-5}
cold_rounds=${COLD_RUNS:-3}
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

# interleaved_medians (bench/lib.sh), cold when $1 is "cold".
medians_in() {  # warm|cold label command...
    local mode=$1
    shift
    if [ "$mode" = cold ]; then
        runs=$cold_rounds MEASURE_COLD=1 interleaved_medians "$@"
    else
        runs=$rounds interleaved_medians "$@"
    fi
}

ratio() {  # a b
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'
}

read -r _ _ base_kb < <(measure "$quarn" --report --json "$work/empty")
echo "quarn on an empty folder: peak $base_kb KB; $(nproc) processors; load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "cold runs: $([ $cold = 1 ] && echo yes || echo "skipped: dropping the page cache needs root")"

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
        declare -A t c m
        while read -r label wall cpu kb; do
            t[$label]=$wall
            c[$label]=$cpu
            m[$label]=$kb
        done < <(medians_in "$mode" \
            quarn "'$quarn' --report --json '$tree'" \
            du "du -sb '$tree'" \
            ncdu "ncdu -0 -o /dev/null '$tree'" \
            gdu "gdu -n -p -c '$tree'" \
            twins "'$quarn' --report --dupmatch --json '$tree'" \
            find "find '$tree' -type f -printf '%f\t%s\t%T@\t%p\n' | sort" \
            walk0 "'$walk' '$tree'" \
            walk1 "'$walk' --threads 1 '$tree'" \
            walk2 "'$walk' --threads 2 '$tree'" \
            walk4 "'$walk' --threads 4 '$tree'" \
            walk8 "'$walk' --threads 8 '$tree'")
        [ "$mode" = cold ] && { sync; echo 3 >/proc/sys/vm/drop_caches; }
        grown=$("$walk" "$tree" | awk '{print $2}')
        printf -- "-- %s (median of %s)\n" "$mode" "$([ "$mode" = cold ] && echo "$cold_rounds" || echo "$rounds")"
        printf "  %-34s %8s s wall %8s s CPU %9s KB\n" \
            "quarn --report" "${t[quarn]}" "${c[quarn]}" "${m[quarn]}" \
            "du -sb" "${t[du]}" "${c[du]}" "${m[du]}" \
            "ncdu -0 -o /dev/null" "${t[ncdu]}" "${c[ncdu]}" "${m[ncdu]}" \
            "gdu -n -p -c" "${t[gdu]}" "${c[gdu]}" "${m[gdu]}" \
            "quarn --report --dupmatch" "${t[twins]}" "${c[twins]}" "${m[twins]}" \
            "find | sort" "${t[find]}" "${c[find]}" "${m[find]}" \
            "walk alone, default threads" "${t[walk0]}" "${c[walk0]}" "${m[walk0]}"
        for threads in 1 2 4 8; do
            printf "  %-34s %8s s wall %8s s CPU %9s KB\n" "walk alone, $threads threads" \
                "${t[walk$threads]}" "${c[walk$threads]}" "${m[walk$threads]}"
        done
        target=0.6
        [ "$mode" = cold ] && target=0.4
        printf "  folder report / du -sb   %s  (target <= %s)\n" "$(ratio "${t[quarn]}" "${t[du]}")" "$target"
        printf "  folder report / ncdu     %s\n" "$(ratio "${t[quarn]}" "${t[ncdu]}")"
        printf "  folder report / gdu      %s  (target < 1)\n" "$(ratio "${t[quarn]}" "${t[gdu]}")"
        printf "  twin report / find|sort  %s  (target <= 0.4 warm)\n" "$(ratio "${t[twins]}" "${t[find]}")"
        printf "  folder report CPU / du   %s\n" "$(ratio "${c[quarn]}" "${c[du]}")"
        printf "  walk default / 1 thread  %s  (default grew to %s threads)\n" \
            "$(ratio "${t[walk0]}" "${t[walk1]}")" "$grown"
        printf "  walk 8 threads / 1       %s\n" "$(ratio "${t[walk8]}" "${t[walk1]}")"
        printf "  folder report peak, net of the empty run: %d KB (%.0f bytes per folder, target <= 100)\n" \
            $((m[quarn] - base_kb)) "$(awk -v k=$((m[quarn] - base_kb)) -v f="$folders" \
                'BEGIN {print k * 1024 / f}')"
        unset t c m
    done
    index=$(QUARN_BENCH_INDEX_BYTES=1 "$quarn" --report --dupmatch --json "$tree" 2>&1 >/dev/null |
        awk '/^twin index:/ {print $5}')
    printf "  twin index: %s bytes for %s files, %s per file (target <= 48)\n" "${index:-?}" "$files" \
        "$(awk -v b="${index:-0}" -v n="$files" 'BEGIN { if (n > 0) printf "%.1f", b / n }')"
    if [ "${WINDOW:-0}" = 1 ] && [ -z "${window_done:-}" ]; then
        window_done=1
        if command -v xvfb-run >/dev/null 2>&1; then
            echo "  window scan against the headless report (bench/ui_responsiveness.sh):"
            bash "$here/ui_responsiveness.sh" "$quarn" "$tree" | sed 's/^/    /'
        else
            echo "  window scan: skipped (no xvfb-run)"
        fi
    fi
    if [ "${REMOVE_TREES:-0}" = 1 ]; then
        rm -rf "$tree"
    fi
done
