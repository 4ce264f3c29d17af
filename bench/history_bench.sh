#!/usr/bin/env bash
# Scan history: what comparing two exports costs next to one import of such
# a file, what keeping a scan adds to the scan, and how much smaller a kept
# (zstd) export is than the plain one.
#
# usage: bench/history_bench.sh QUARN [TREE] [FILES] [FOLDERS]
#   QUARN    the quarn executable (build it with -DCMAKE_BUILD_TYPE=Release)
#   TREE     the tree to scan; made by bench/make_tree.py when missing
#            (default /work/bench-trees/history)
#   FILES    files of a new tree (default 1000000)
#   FOLDERS  folders of a new tree (default 100000)
#
# The earlier scan is the tree's export; the later one is the same export
# with every hundredth file grown by 4 KiB and one folder of new files, made
# from the JSON, so the tree itself is never changed. Every command runs
# RUNS times (default 3) after one warming run; the best wall and processor
# times count, peak memory is the largest maximum resident set size.
set -euo pipefail

quarn=${1:?usage: history_bench.sh QUARN [TREE] [FILES] [FOLDERS]}
tree=${2:-/work/bench-trees/history}
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
out=${OUT:-$(mktemp -d)}
trap 'rm -rf "$out"' EXIT
export XDG_DATA_HOME=$out/data
export QUARN_INI=$out/bench.ini
printf '[SETTINGS]\nKeepScans=0\n' >"$QUARN_INI"

"$quarn" --export "$out/earlier.json" "$tree"
python3 - "$out/earlier.json" "$out/later.json" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8", errors="surrogateescape").read()
count = 0
def grow(match):
    global count
    count += 1
    if count % 100:
        return match.group(0)
    return '"asize":%d' % (int(match.group(1)) + 4096)
text = re.sub(r'"asize":(\d+)', grow, text)
# A new folder of 100 files at the end of the root.
new = ',[{"name":"bench-new-folder"}' + "".join(
    ',{"name":"n%d","asize":%d}' % (i, 1000 + i) for i in range(100)) + "]"
# Before the root's "]" and the document's.
text = text.rstrip()
assert text.endswith("]]")
open(sys.argv[2], "w", encoding="utf-8", errors="surrogateescape").write(text[:-2] + new + "]]")
PY

count_files=$(find "$tree" ! -type d | wc -l)
echo "tree: $tree ($count_files files), $runs runs each, best time"

read -r t_i c_i m_i < <(measure "$quarn" --report --json --import "$out/later.json")
read -r t_c c_c m_c < <(measure "$quarn" --report --json --since "$out/earlier.json" --import "$out/later.json")
read -r t_s c_s m_s < <(measure "$quarn" --report --json "$tree")
printf '[SETTINGS]\nKeepScans=1000\n' >"$QUARN_INI"
read -r t_k c_k m_k < <(measure "$quarn" --report --json --save "$tree")
kept=$(ls "$XDG_DATA_HOME"/quarn/scans/*.json.zst | head -1)
size_plain=$(stat -c %s "$out/earlier.json")
size_kept=$(stat -c %s "$kept")

awk -v ti="$t_i" -v ci="$c_i" -v mi="$m_i" -v tc="$t_c" -v cc="$c_c" -v mc="$m_c" \
    -v ts="$t_s" -v cs="$c_s" -v ms="$m_s" -v tk="$t_k" -v ck="$c_k" -v mk="$m_k" \
    -v sp="$size_plain" -v sk="$size_kept" 'BEGIN {
    printf "                                            wall       cpu      peak\n"
    printf "--report --json --import LATER            %6.2f s  %6.2f s  %8d KB\n", ti, ci, mi
    printf "--report --json --since EARLIER --import  %6.2f s  %6.2f s  %8d KB\n", tc, cc, mc
    printf "--report --json TREE                      %6.2f s  %6.2f s  %8d KB\n", ts, cs, ms
    printf "--report --json --save TREE               %6.2f s  %6.2f s  %8d KB\n", tk, ck, mk
    printf "ratio comparison (added to the import) / import   wall %.2f  cpu %.2f (at most 1)\n",
           (tc - ti) / ti, (cc - ci) / ci
    printf "ratio peak memory comparing / import              %.2f (at most 2)\n", mc / mi
    printf "ratio scan kept / scan                            wall %.3f  cpu %.3f (at most 1.05)\n",
           tk / ts, ck / cs
    printf "ratio kept zstd size / plain export size          %.3f (%d / %d bytes; at most 0.25)\n",
           sk / sp, sk, sp
}'
