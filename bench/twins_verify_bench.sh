#!/usr/bin/env bash
# Times the twin report with content verification against jdupes and rdfind
# on the same warm node_modules-like tree.
#
# usage: bench/twins_verify_bench.sh QUARN [FILES]
#   QUARN  the quarn executable (a Release or RelWithDebInfo build)
#   FILES  files of the tree (default 300000)
#
# The tree (bench/make_twin_trees.py modules, under $TREES, default
# /work/bench-trees, deleted afterwards unless KEEP_TREES=1) holds packages of
# real content, a third of whose files have a twin of the same name, size and
# time; some of those twins differ in content. Peers:
#   jdupes -r -q          finds content duplicates of any name (reads more)
#   rdfind -dryrun true   the same, deciding as it goes (run in a scratch folder:
#                         it writes results.txt there)
# Every command runs RUNS times (default 3) after one warming run; the best
# wall time counts, and the largest peak resident set size. Then one traced
# run (strace) lists the files the verification opened for reading: none of
# them may lack a twin of the same name, size and time.
set -euo pipefail

quarn=$(realpath "${1:?usage: twins_verify_bench.sh QUARN [FILES]}")
files=${2:-300000}
runs=${RUNS:-3}
trees=${TREES:-/work/bench-trees}
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=bench/lib.sh
source "$here/lib.sh"
need_package jdupes jdupes
need_package rdfind rdfind
need_package strace strace
[ -x /usr/bin/time ] || need_package /usr/bin/time time

export QUARN_INI=${QUARN_INI:-$(mktemp -d)/bench.ini}
export LC_ALL=${LC_ALL:-C.UTF-8}
scratch=$(mktemp -d)
tree="$trees/twins-modules"
cleanup() {
    rm -rf "$scratch"
    if [ "${KEEP_TREES:-0}" != 1 ]; then
        rm -rf "$tree"
    fi
}
trap cleanup EXIT

if [ ! -d "$tree" ]; then
    mkdir -p "$trees"
    python3 "$here/make_twin_trees.py" modules "$tree" --files "$files" >&2
fi
count=$(find "$tree" -type f | wc -l)
bytes=$(find "$tree" -type f -printf '%s\n' | awk '{s += $1} END {print s}')

read -r scan_s _ scan_kb < <(MEASURE_DIR="$scratch" measure "$quarn" --report --dupmatch --json "$tree")
read -r q_s _ q_kb < <(MEASURE_DIR="$scratch" measure "$quarn" --report --dupmatch --verify --json "$tree")
read -r j_s _ j_kb < <(MEASURE_DIR="$scratch" measure jdupes -r -q "$tree")
read -r r_s _ r_kb < <(MEASURE_DIR="$scratch" measure rdfind -dryrun true "$tree")

printf '%-26s %9s %9s\n' command seconds peak_MB
printf '%-26s %9s %9.1f\n' "quarn scan" "$scan_s" "$(awk -v k="$scan_kb" 'BEGIN {print k / 1024}')"
printf '%-26s %9s %9.1f\n' "quarn scan + verify" "$q_s" "$(awk -v k="$q_kb" 'BEGIN {print k / 1024}')"
printf '%-26s %9s %9.1f\n' "jdupes -r -q" "$j_s" "$(awk -v k="$j_kb" 'BEGIN {print k / 1024}')"
printf '%-26s %9s %9.1f\n' "rdfind -dryrun true" "$r_s" "$(awk -v k="$r_kb" 'BEGIN {print k / 1024}')"
ratio_j=$(awk -v a="$q_s" -v b="$j_s" 'BEGIN {printf "%.2f", a / b}')
ratio_r=$(awk -v a="$q_s" -v b="$r_s" 'BEGIN {printf "%.2f", a / b}')
echo "tree: $count files, $bytes bytes"
echo "scan + verify / jdupes: $ratio_j (target at most 0.50)"
echo "scan + verify / rdfind: $ratio_r"

# What the verification found, and what it read.
(cd "$scratch" && "$quarn" --report --dupmatch --verify "$tree" | tail -1 | sed 's/^/status: /')
strace -f -qq -e trace=openat -o "$scratch/trace" "$quarn" --report --dupmatch --verify "$tree" \
    >/dev/null
find "$tree" -type f -printf '%f\t%s\t%T@\t%p\n' >"$scratch/files"
python3 - "$scratch/trace" "$scratch/files" <<'EOF'
import re
import sys
from collections import Counter

trace, listing = sys.argv[1], sys.argv[2]
key_of = {}
for line in open(listing, encoding="utf-8", errors="surrogateescape"):
    name, size, time, path = line.rstrip("\n").split("\t", 3)
    key_of[path] = (name, size, time)
twins = Counter(key_of.values())

opened = re.compile(r'^(\d+)\s+openat\(AT_FDCWD, "([^"]*)", ([A-Z_|]+)[^)]*\)\s+=\s+(\d+)')
handles = {}  # (pid, fd) -> path of an O_PATH handle
read = set()
for line in open(trace, encoding="utf-8", errors="surrogateescape"):
    m = opened.match(line)
    if not m:
        continue
    pid, path, flags, fd = m.group(1), m.group(2), m.group(3), m.group(4)
    if "O_PATH" in flags:
        handles[(pid, fd)] = path
    elif path.startswith("/proc/self/fd/"):
        source = handles.get((pid, path[len("/proc/self/fd/"):]))
        if source:
            read.add(source)
    elif "O_DIRECTORY" not in flags and path in key_of:
        read.add(path)
lonely = [p for p in read if twins[key_of.get(p)] < 2]
print("files opened for reading: %d; without a same-name, same-size, same-time twin: %d"
      % (len(read), len(lonely)))
sys.exit(1 if lonely else 0)
EOF
