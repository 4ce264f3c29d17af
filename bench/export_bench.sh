#!/usr/bin/env bash
# Times the export of a tree against ncdu's export of the same warm tree, and
# the import of that export against the report's scan of the tree.
#
# usage: bench/export_bench.sh QUARN [TREE] [FILES] [FOLDERS]
#   QUARN    the quarn executable (build it with -DCMAKE_BUILD_TYPE=Release)
#   TREE     the tree to export; made by bench/make_tree.py when missing
#            (default /work/bench-trees/foldersize)
#   FILES    files of a new tree (default 1000000)
#   FOLDERS  folders of a new tree (default 100000)
#
# Every command runs RUNS times (default 3) after one warming run; the best
# wall and processor times count, peak memory is the largest maximum
# resident set size /usr/bin/time -v reports. Exports go to a file in
# $OUT (default a temporary folder), removed afterwards.
set -euo pipefail

quarn=${1:?usage: export_bench.sh QUARN [TREE] [FILES] [FOLDERS]}
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
out=${OUT:-$(mktemp -d)}
trap 'rm -f "$out/quarn.json" "$out/ncdu.json"' EXIT


count_files=$(find "$tree" ! -type d | wc -l)
count_folders=$(find "$tree" -type d | wc -l)
echo "tree: $tree ($count_files files, $count_folders folders), $runs runs each, best time"

read -r t_q c_q m_q < <(measure "$quarn" --export "$out/quarn.json" "$tree")
read -r t_n c_n m_n < <(measure ncdu -0 -o "$out/ncdu.json" "$tree")
read -r t_s c_s m_s < <(measure "$quarn" --report --json "$tree")
read -r t_i c_i m_i < <(measure "$quarn" --report --json --import "$out/quarn.json")
read -r t_p c_p m_p < <(measure "$quarn" --report --json --import "$out/ncdu.json")
size_q=$(stat -c %s "$out/quarn.json")
size_n=$(stat -c %s "$out/ncdu.json")

awk -v tq="$t_q" -v cq="$c_q" -v mq="$m_q" -v tn="$t_n" -v cn="$c_n" -v mn="$m_n" \
    -v ts="$t_s" -v cs="$c_s" -v ms="$m_s" -v ti="$t_i" -v ci="$c_i" -v mi="$m_i" \
    -v tp="$t_p" -v cp="$c_p" -v mp="$m_p" -v sq="$size_q" -v sn="$size_n" 'BEGIN {
    printf "                                     wall       cpu      peak\n"
    printf "quarn --export FILE TREE           %6.2f s  %6.2f s  %8d KB  (%d bytes)\n", tq, cq, mq, sq
    printf "ncdu -0 -o FILE TREE               %6.2f s  %6.2f s  %8d KB  (%d bytes)\n", tn, cn, mn, sn
    printf "quarn --report --json TREE         %6.2f s  %6.2f s  %8d KB\n", ts, cs, ms
    printf "quarn --report --json --import Q   %6.2f s  %6.2f s  %8d KB\n", ti, ci, mi
    printf "quarn --report --json --import N   %6.2f s  %6.2f s  %8d KB\n", tp, cp, mp
    printf "ratio export quarn/ncdu   wall %.2f  cpu %.2f  peak %.2f\n", tq / tn, cq / cn, mq / mn
    printf "ratio import/scan         wall %.2f  cpu %.2f  peak %.2f (import memory <= scan)\n",
           ti / ts, ci / cs, mi / ms
}'
