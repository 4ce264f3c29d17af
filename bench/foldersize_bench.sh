#!/usr/bin/env bash
# Times the folder-size report against du and ncdu on the same warm tree.
#
# usage: bench/foldersize_bench.sh QUARN [TREE] [FILES] [FOLDERS]
#   QUARN    the quarn executable (build it with -DCMAKE_BUILD_TYPE=Release)
#   TREE     the tree to scan; made by bench/make_tree.py when missing
#            (default /work/bench-trees/foldersize)
#   FILES    files of a new tree (default 1000000)
#   FOLDERS  folders of a new tree (default 100000)
#
# Every tool runs RUNS times (default 3) after one warming run; the best
# wall time and the best processor time (user + system) count. On a machine
# shared with other work the processor time is the steadier measure. Peak memory is the maximum resident set size that
# /usr/bin/time -v reports; "net" subtracts quarn's own size on an empty
# folder, so that it measures what the tree costs.
set -euo pipefail

quarn=${1:?usage: foldersize_bench.sh QUARN [TREE] [FILES] [FOLDERS]}
tree=${2:-/work/bench-trees/foldersize}
files=${3:-1000000}
folders=${4:-100000}
runs=${RUNS:-3}
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=bench/lib.sh
source "$here/lib.sh"
need_package ncdu ncdu
[ -x /usr/bin/time ] || need_package /usr/bin/time time

if [ ! -d "$tree" ]; then
    mkdir -p "$(dirname "$tree")"
    python3 "$here/make_tree.py" "$tree" --files "$files" --folders "$folders"
fi
export QUARN_INI=${QUARN_INI:-$(mktemp -d)/bench.ini}
empty=$(mktemp -d)
trap 'rmdir "$empty"' EXIT

count_folders=$(find "$tree" -type d | wc -l)
count_files=$(find "$tree" ! -type d | wc -l)
echo "tree: $tree ($count_files files, $count_folders folders), $runs runs each, best time"

read -r t_quarn c_quarn m_quarn < <(measure "$quarn" --report --json "$tree")
read -r t_du c_du m_du < <(measure du -sb "$tree")
read -r t_ncdu c_ncdu m_ncdu < <(measure ncdu -0 -o /dev/null "$tree")
read -r _ _ m_base < <(measure "$quarn" --report --json "$empty")

awk -v tq="$t_quarn" -v tdu="$t_du" -v tn="$t_ncdu" \
    -v cq="$c_quarn" -v cdu="$c_du" -v cn="$c_ncdu" \
    -v mq="$m_quarn" -v mdu="$m_du" -v mn="$m_ncdu" -v mb="$m_base" \
    -v folders="$count_folders" 'BEGIN {
    printf "                        wall       cpu      peak\n"
    printf "quarn --report --json  %6.2f s  %6.2f s  %8d KB\n", tq, cq, mq
    printf "du -sb                 %6.2f s  %6.2f s  %8d KB\n", tdu, cdu, mdu
    printf "ncdu -0 -o /dev/null   %6.2f s  %6.2f s  %8d KB\n", tn, cn, mn
    printf "quarn on an empty folder               %8d KB\n", mb
    printf "ratio quarn/du    wall %.2f  cpu %.2f  (target <= 1.1)\n", tq / tdu, cq / cdu
    printf "ratio quarn/ncdu  wall %.2f  cpu %.2f\n", tq / tn, cq / cn
    printf "peak bytes per folder %.0f (net of the empty run %.0f; target < 300)\n",
           mq * 1024 / folders, (mq - mb) * 1024 / folders
}'
