#!/usr/bin/env bash
# What drawing the treemap costs beside the scan it pictures: `quarn
# --treemap` at 1600x1000 against the same command at 16x16 (the same scan
# and snapshot, next to no layout or paint), on the same warm tree, with
# du -sb as the peer that shows how steady the machine was.
#
# usage: bench/treemap_bench.sh QUARN [TREE] [FILES] [FOLDERS]
#   QUARN    the quarn executable (build it with -DCMAKE_BUILD_TYPE=Release)
#   TREE     the tree to scan; made by bench/make_tree.py when missing
#            (default /work/bench-trees/walk-tree)
#
# Runs are interleaved (small, full, du; RUNS times, default 3) after one
# warming run of each; the best wall time counts. Layout and paint take
# full - small.
set -euo pipefail

quarn=${1:?usage: treemap_bench.sh QUARN [TREE] [FILES] [FOLDERS]}
tree=${2:-/work/bench-trees/walk-tree}
files=${3:-1000000}
folders=${4:-100000}
runs=${RUNS:-3}
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=bench/lib.sh
source "$here/lib.sh"
[ -x /usr/bin/time ] || need_package /usr/bin/time time

if [ ! -d "$tree" ]; then
    mkdir -p "$(dirname "$tree")"
    python3 "$here/make_tree.py" "$tree" --files "$files" --folders "$folders"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUARN_INI=${QUARN_INI:-$work/bench.ini}
log=$work/time.log

declare -A best_wall
run() {  # name command...
    local name=$1 wall
    shift
    /usr/bin/time -v "$@" >/dev/null 2>"$log" || { cat "$log" >&2; exit 1; }
    wall=$(wall_seconds "$log")
    if [ -z "${best_wall[$name]:-}" ] || less_than "$wall" "${best_wall[$name]}"; then
        best_wall[$name]=$wall
    fi
}

for round in $(seq 0 "$runs"); do
    [ "$round" = 0 ] && unset best_wall && declare -A best_wall  # warming run
    run small "$quarn" --treemap "$work/small.png" --size 16x16 "$tree"
    run full "$quarn" --treemap "$work/full.png" --size 1600x1000 "$tree"
    run du du -sb "$tree"
done

small=${best_wall[small]}
full=${best_wall[full]}
du=${best_wall[du]}
draw=$(awk -v f="$full" -v s="$small" 'BEGIN {d = f - s; if (d < 0) d = 0; printf "%.2f", d}')
echo "tree: $tree"
echo "scan + snapshot (16x16):      ${small} s"
echo "scan + treemap (1600x1000):   ${full} s"
echo "layout + paint:               ${draw} s"
echo "du -sb:                       ${du} s"
awk -v f="$full" -v s="$small" -v d="$du" 'BEGIN {
    printf "treemap / scan:             %.3f\n", f / s
    printf "(layout + paint) / scan:    %.3f\n", (f - s) / s
    printf "scan / du:                  %.2f\n", s / d
    printf "treemap / du:               %.2f\n", f / d }'
