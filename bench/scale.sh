#!/usr/bin/env bash
# Shows that the reports' costs per file stay flat as a tree grows: the
# folder report against du -sb and the twin report against find | sort, on
# a tree of FILES files in FILES/10 folders and on one a fifth of that size.
#
# usage: bench/scale.sh QUARN [FILES]
#   QUARN  the quarn executable of a Release build
#   FILES  files of the larger tree (default 5000000); the trees are made
#          by bench/make_tree.py (sparse files: they take almost no blocks)
#          under $TREES (default /work/bench-trees) when missing, and kept
#          unless REMOVE_TREES=1
# Warm page cache; the commands run in turn, RUNS rounds (default 3), and
# the medians count. Printed per tree: wall, CPU and peak memory of each
# command, quarn's ratios to its peer, CPU microseconds and peak bytes per
# file, and the twin index's own bytes per file; then the growth from the
# smaller tree to the larger, per file (1.00 is linear).
set -euo pipefail

quarn=$(realpath "${1:?usage: scale.sh QUARN [FILES]}")
files=${2:-5000000}
trees=${TREES:-/work/bench-trees}
runs=${RUNS:-3}
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=bench/lib.sh
source "$here/lib.sh"
[ -x /usr/bin/time ] || need_package /usr/bin/time time

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUARN_INI="$work/quarn.ini"  # missing: every setting at its default
export LC_ALL=C.UTF-8

ratio() {  # a b
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0 && a == a + 0) printf "%.2f", a / b; else print "-" }'
}
per_file() {  # value scale count: value * scale / count
    awk -v v="$1" -v s="$2" -v n="$3" 'BEGIN { if (n > 0 && v == v + 0) printf "%.2f", v * s / n; else print "-" }'
}

declare -A cpu_us peak_b index_b
small=$((files / 5))
for count in "$small" "$files"; do
    folders=$((count / 10))
    tree="$trees/scale-$count"
    if [ ! -d "$tree" ]; then
        mkdir -p "$trees"
        python3 "$here/make_tree.py" "$tree" --files "$count" --folders "$folders" >&2
    fi
    echo
    echo "== $count files in $folders folders ($tree), median of $runs, warm"
    declare -A t c m
    while read -r label wall cpu kb; do
        t[$label]=$wall
        c[$label]=$cpu
        m[$label]=$kb
    done < <(interleaved_medians \
        quarn "'$quarn' --report --json '$tree'" \
        du "du -sb '$tree'" \
        twins "'$quarn' --report --dupmatch --json '$tree'" \
        find "find '$tree' -type f -printf '%f\t%s\t%T@\t%p\n' | sort")
    index=$(QUARN_BENCH_INDEX_BYTES=1 "$quarn" --report --dupmatch --json "$tree" 2>&1 >/dev/null |
        awk '/^twin index:/ {print $5}')
    printf "  %-28s %8s s wall %8s s CPU %9s KB peak\n" \
        "quarn --report" "${t[quarn]}" "${c[quarn]}" "${m[quarn]}" \
        "du -sb" "${t[du]}" "${c[du]}" "${m[du]}" \
        "quarn --report --dupmatch" "${t[twins]}" "${c[twins]}" "${m[twins]}" \
        "find | sort" "${t[find]}" "${c[find]}" "${m[find]}"
    printf "  folder report / du -sb    wall %s  CPU %s\n" \
        "$(ratio "${t[quarn]}" "${t[du]}")" "$(ratio "${c[quarn]}" "${c[du]}")"
    printf "  twin report / find|sort   wall %s  CPU %s\n" \
        "$(ratio "${t[twins]}" "${t[find]}")" "$(ratio "${c[twins]}" "${c[find]}")"
    cpu_us[report$count]=$(per_file "${c[quarn]}" 1000000 "$count")
    cpu_us[twins$count]=$(per_file "${c[twins]}" 1000000 "$count")
    peak_b[report$count]=$(per_file "${m[quarn]}" 1024 "$count")
    peak_b[twins$count]=$(per_file "${m[twins]}" 1024 "$count")
    index_b[$count]=$(per_file "${index:-nan}" 1 "$count")
    printf "  per file: folder report %s us CPU, %s B peak; twin report %s us CPU, %s B peak\n" \
        "${cpu_us[report$count]}" "${peak_b[report$count]}" "${cpu_us[twins$count]}" \
        "${peak_b[twins$count]}"
    printf "  twin index: %s bytes per file (target <= 48)\n" "${index_b[$count]}"
    unset t c m
    if [ "${REMOVE_TREES:-0}" = 1 ]; then
        rm -rf "$tree"
    fi
done

echo
echo "== growth per file from $small to $files files (1.00: linear)"
for key in report twins; do
    printf "  %-14s CPU %s  peak %s\n" "$key" \
        "$(ratio "${cpu_us[$key$files]}" "${cpu_us[$key$small]}")" \
        "$(ratio "${peak_b[$key$files]}" "${peak_b[$key$small]}")"
done
printf "  %-14s %s\n" "twin index" "$(ratio "${index_b[$files]}" "${index_b[$small]}")"
