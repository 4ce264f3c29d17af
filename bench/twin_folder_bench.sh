#!/usr/bin/env bash
# Measures what finding twin folders adds to a content search: the step's
# time against the rest of the search, on a node_modules-like tree whose
# packages are installed twice, plus a few whole copies of large subtrees and
# many near-copies that differ in one file.
#
# usage: bench/twin_folder_bench.sh QUARN [FILES]
#   QUARN  the quarn executable (a Release build)
#   FILES  files of the tree (default 1000000)
#
# The tree (bench/make_twin_trees.py modules, under $TREES, default
# /work/bench-trees) is deleted afterwards unless KEEP_TREES=1. Each of RUNS
# runs (default 3) is `quarn --report --dupmatch --content --json --no-cache`,
# whose JSON says how long the search took (content_search_us) and its
# twin-folder step (twin_folder_us); the median share of the step is printed.
# The step reads no file: files_read is printed with and without twin
# folders to be found (the near-copies alone) to show it.
set -euo pipefail

quarn=$(realpath "${1:?usage: twin_folder_bench.sh QUARN [FILES]}")
files=${2:-1000000}
runs=${RUNS:-3}
trees=${TREES:-/work/bench-trees}
here=$(cd "$(dirname "$0")" && pwd)

export QUARN_INI=${QUARN_INI:-$(mktemp -d)/bench.ini}
tree="$trees/twin-folders-$files"
cleanup() {
    if [ "${KEEP_TREES:-0}" != 1 ]; then
        rm -rf "$tree"
    fi
}
trap cleanup EXIT

if [ ! -d "$tree" ]; then
    echo "making $tree ($files files)" >&2
    python3 "$here/make_twin_trees.py" modules "$tree" --files "$files" >/dev/null
    # Whole copies of the three largest packages, and near-copies of fifty
    # others with one byte more in one file.
    mapfile -t large < <(du -s "$tree"/node_modules/* | sort -rn | head -3 | cut -f2)
    mkdir -p "$tree/copies" "$tree/near"
    for folder in "${large[@]}"; do
        cp -a "$folder" "$tree/copies/$(basename "$folder")"
    done
    mapfile -t some < <(ls -d "$tree"/node_modules/* | head -50)
    for folder in "${some[@]}"; do
        near="$tree/near/$(basename "$folder")"
        cp -a "$folder" "$near"
        one=$(find "$near" -type f | head -1)
        printf 'x' >>"$one"
    done
fi

shares=()
for ((i = 0; i < runs; i++)); do
    "$quarn" --report --dupmatch --content --json --no-cache "$tree" >"$tree.json"
    read -r search step read folders < <(python3 -c '
import json, sys
d = json.load(open(sys.argv[1]))
print(d["content_search_us"], d["twin_folder_us"], d["files_read"], len(d["twin_folders"]))
' "$tree.json")
    share=$(awk -v a="$step" -v b="$search" 'BEGIN {printf "%.4f", a / (b - a)}')
    shares+=("$share")
    echo "run $((i + 1)): search $((search / 1000)) ms, twin folders $((step / 1000)) ms" \
        "(share $share), $folders sets of twin folders, $read files read"
done
rm -f "$tree.json"
median=$(printf '%s\n' "${shares[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')
echo "twin-folder step / rest of the content search: $median (median of $runs; target 0.10)"
