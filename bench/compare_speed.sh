#!/usr/bin/env bash
# How much faster or slower a new build is than an old one, on the same warm
# trees in one run: the folder walk, the twin report, the verified twin
# report, and the window's scan (its hidden --bench-ui mode, under a virtual
# X server). Old and new run in turn (old, new, old, new, ...) so that drift
# of the machine hits both; the median of each side and the ratio new/old of
# the medians are printed, for wall time and peak memory.
#
#   bench/compare_speed.sh OLD-QUARN NEW-QUARN [FILES]
#
# FILES (default 500000) sizes the folder tree; the twin trees get FILES/2.
# RUNS (default 5) pairs count after one warming pair. Trees are made under
# $TREES (default /dev/shm when it is there) and removed afterwards.
set -uo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh
old=$(realpath "$1")
new=$(realpath "$2")
files=${3:-500000}
runs=${RUNS:-5}
trees=${TREES:-/dev/shm}
[ -d "$trees" ] && [ -w "$trees" ] || trees=${TMPDIR:-/tmp}
work=$(mktemp -d "$trees/quarn-speed.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QUARN_INI="$work/quarn.ini"

python3 bench/make_tree.py "$work/tree" --files "$files" >/dev/null
python3 bench/make_twin_trees.py random "$work/twins" --files "$((files / 2))" >/dev/null
python3 bench/make_twin_trees.py modules "$work/modules" --files "$((files / 4))" >/dev/null

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# One timed run: prints "wall peak-KB".
timed() {
    local log
    log=$(mktemp)
    /usr/bin/time -v "$@" >/dev/null 2>"$log" || true
    echo "$(wall_seconds "$log") $(peak_kb "$log")"
    rm -f "$log"
}

compare() {  # label, then the arguments after the program
    local label=$1
    shift
    local o n
    : >"$work/old.times"
    : >"$work/new.times"
    timed "$old" "$@" >/dev/null
    timed "$new" "$@" >/dev/null
    for _ in $(seq "$runs"); do
        timed "$old" "$@" >>"$work/old.times"
        timed "$new" "$@" >>"$work/new.times"
    done
    o=$(cut -d' ' -f1 "$work/old.times" | median)
    n=$(cut -d' ' -f1 "$work/new.times" | median)
    local om nm
    om=$(cut -d' ' -f2 "$work/old.times" | median)
    nm=$(cut -d' ' -f2 "$work/new.times" | median)
    awk -v l="$label" -v o="$o" -v n="$n" -v om="$om" -v nm="$nm" 'BEGIN {
        printf "%-24s wall old %7.3f s  new %7.3f s  new/old %.3f   peak old %7.1f MB  new %7.1f MB  new/old %.3f\n",
               l, o, n, n / o, om / 1024, nm / 1024, nm / om }'
}

compare "folder walk" --report --json "$work/tree"
compare "twin report" --report --dupmatch --json "$work/twins"
compare "verified twin report" --report --dupmatch --verify --json "$work/modules"

# The window's own reading of its scan: from the Scan command until the end
# is shown, and the longest stall of the interface thread meanwhile.
window_run() {  # program
    xvfb-run -a "$1" --bench-ui "$work/tree" 2>/dev/null |
        sed -n -E 's/.*scan_wall_s=([0-9.]+) max_stall_ms=([0-9.]+).*/\1 \2/p'
}
if command -v xvfb-run >/dev/null 2>&1; then
    : >"$work/old.ui"
    : >"$work/new.ui"
    window_run "$old" >/dev/null
    window_run "$new" >/dev/null
    for _ in $(seq "$runs"); do
        window_run "$old" >>"$work/old.ui"
        window_run "$new" >>"$work/new.ui"
    done
    o=$(cut -d' ' -f1 "$work/old.ui" | median)
    n=$(cut -d' ' -f1 "$work/new.ui" | median)
    os=$(cut -d' ' -f2 "$work/old.ui" | sort -g | tail -1)
    ns=$(cut -d' ' -f2 "$work/new.ui" | sort -g | tail -1)
    awk -v o="$o" -v n="$n" -v os="$os" -v ns="$ns" 'BEGIN {
        printf "%-24s scan old %7.3f s  new %7.3f s  new/old %.3f   worst stall old %.1f ms  new %.1f ms\n",
               "window scan", o, n, n / o, os, ns }'
fi
