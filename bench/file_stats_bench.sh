#!/usr/bin/env bash
# What keeping the largest files and the file types costs the folder scan:
# the folder report with --largest 1000 against the same report without
# (which keeps neither), on the same warm tree, with du -sb as the peer that
# shows how steady the machine was.
#
# usage: bench/file_stats_bench.sh QUARN [TREE] [FILES] [FOLDERS]
#   QUARN    the quarn executable (build it with -DCMAKE_BUILD_TYPE=Release)
#   TREE     the tree to scan; made by bench/make_tree.py when missing
#            (default /work/bench-trees/walk-tree)
#   FILES    files of a new tree (default 1000000)
#   FOLDERS  folders of a new tree (default 100000)
#
# Runs are interleaved (without, with, du; RUNS times, default 5) after one
# warming run of each, so that a change in the machine's load hits all of
# them alike; the best processor time (user + system) and wall time count.
# Target: with / without under 1.05.
set -euo pipefail

quarn=${1:?usage: file_stats_bench.sh QUARN [TREE] [FILES] [FOLDERS]}
tree=${2:-/work/bench-trees/walk-tree}
files=${3:-1000000}
folders=${4:-100000}
runs=${RUNS:-5}
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=bench/lib.sh
source "$here/lib.sh"
[ -x /usr/bin/time ] || need_package /usr/bin/time time

if [ ! -d "$tree" ]; then
    mkdir -p "$(dirname "$tree")"
    python3 "$here/make_tree.py" "$tree" --files "$files" --folders "$folders"
fi
export QUARN_INI=${QUARN_INI:-$(mktemp -d)/bench.ini}

declare -A best_wall best_cpu
log=$(mktemp)
trap 'rm -f "$log"' EXIT

run() {  # name command...
    local name=$1 wall cpu
    shift
    /usr/bin/time -v "$@" >/dev/null 2>"$log" || { cat "$log" >&2; exit 1; }
    wall=$(wall_seconds "$log")
    cpu=$(cpu_seconds "$log")
    if [ -z "${best_wall[$name]:-}" ] || less_than "$wall" "${best_wall[$name]}"; then
        best_wall[$name]=$wall
    fi
    if [ -z "${best_cpu[$name]:-}" ] || less_than "$cpu" "${best_cpu[$name]}"; then
        best_cpu[$name]=$cpu
    fi
}

without=("$quarn" --report --json "$tree")
with=("$quarn" --report --json --largest 1000 "$tree")
"${without[@]}" >/dev/null
"${with[@]}" >/dev/null
du -sb "$tree" >/dev/null
for _ in $(seq "$runs"); do
    run without "${without[@]}"
    run with "${with[@]}"
    run du du -sb "$tree"
done

echo "tree: $tree, $runs interleaved runs each, best time"
awk -v w0="${best_wall[without]}" -v c0="${best_cpu[without]}" \
    -v w1="${best_wall[with]}" -v c1="${best_cpu[with]}" \
    -v wd="${best_wall[du]}" -v cd="${best_cpu[du]}" 'BEGIN {
    printf "                                      wall       cpu\n"
    printf "quarn --report --json                %6.2f s  %6.2f s\n", w0, c0
    printf "quarn --report --json --largest 1000 %6.2f s  %6.2f s\n", w1, c1
    printf "du -sb                               %6.2f s  %6.2f s\n", wd, cd
    printf "ratio with/without  wall %.3f  cpu %.3f  (target < 1.05)\n", w1 / w0, c1 / c0
    printf "ratio without/du    wall %.2f  cpu %.2f\n", w0 / wd, c0 / cd
}'
