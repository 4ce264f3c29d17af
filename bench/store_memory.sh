#!/usr/bin/env bash
# What does the folder tree cost in memory? The peak resident memory of the
# folder report on a big tree, less the same report on an empty folder (the
# program's own start-up), per folder; gdu, which also keeps the whole tree
# in memory (ncdu's export streams it), measured the same way in the same
# run as the peer.
#
# usage: bench/store_memory.sh QUARN [TREE]
#   QUARN  the quarn executable (build it with -DCMAKE_BUILD_TYPE=Release)
#   TREE   the tree to scan; made by bench/make_tree.py (1,000,000 files in
#          100,000 folders) when missing (default /work/bench-trees/foldersize)
#
# Each side runs RUNS times (default 3) after a warming run; the largest peak
# counts. Target: under 120 bytes per folder for quarn.
set -euo pipefail

quarn=$(realpath "${1:?usage: store_memory.sh QUARN [TREE]}")
tree=${2:-/work/bench-trees/foldersize}
runs=${RUNS:-3}
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=bench/lib.sh
source "$here/lib.sh"
need_package gdu gdu
[ -x /usr/bin/time ] || need_package /usr/bin/time time

if [ ! -d "$tree" ]; then
    mkdir -p "$(dirname "$tree")"
    python3 "$here/make_tree.py" "$tree" --files 1000000 --folders 100000
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/empty"
# The program's defaults, wherever the bench is run from.
printf '[SETTINGS]\n' >"$work/quarn.ini"
export QUARN_INI="$work/quarn.ini"

# the largest peak resident KB of RUNS runs
peak() {
    local most=0 kb
    "$@" >/dev/null 2>&1 || true  # warm the cache and the binary
    for _ in $(seq "$runs"); do
        /usr/bin/time -v "$@" >/dev/null 2>"$work/log" || { cat "$work/log" >&2; exit 1; }
        kb=$(peak_kb "$work/log")
        [ "$kb" -gt "$most" ] && most=$kb
    done
    echo "$most"
}

folders=$(find "$tree" -type d | wc -l)
items=$("$quarn" --report "$tree" | wc -l)
q_tree=$(peak "$quarn" --report --json "$tree")
q_empty=$(peak "$quarn" --report --json "$work/empty")
n_tree=$(peak gdu -n -p -c "$tree")
n_empty=$(peak gdu -n -p -c "$work/empty")

awk -v folders="$folders" -v items="$((items - 1))" \
    -v qt="$q_tree" -v qe="$q_empty" -v nt="$n_tree" -v ne="$n_empty" 'BEGIN {
    q = (qt - qe) * 1024 / folders
    n = (nt - ne) * 1024 / folders
    printf "tree: %d folders, %d items in the folder tree\n", folders, items
    printf "                          tree        empty    net per folder\n"
    printf "quarn --report --json  %8d KB  %8d KB  %6.0f bytes  (target < 120)\n", qt, qe, q
    printf "gdu -n -p -c           %8d KB  %8d KB  %6.0f bytes\n", nt, ne, n
    printf "ratio quarn/gdu (net)  %.4f\n", q / n
}'
