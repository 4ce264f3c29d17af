#!/usr/bin/env bash
# Does the window stay responsive while it scans a big tree, and how much
# slower is its scan than the headless report's on the same tree?
#
# usage: bench/ui_responsiveness.sh QUARN [TREE]
#   QUARN  the quarn executable (a Release or RelWithDebInfo build)
#   TREE   the tree to scan; made by bench/make_tree.py (1,000,000 files,
#          100,000 folders) when missing (default /work/bench-trees/ui-responsiveness)
#
# The window runs under a virtual X server in its hidden --bench-ui mode: it
# scans TREE as the Scan command does and reports the longest gap between the
# ticks of a 5 ms timer on the interface thread (the worst stall) and the
# scan's wall time until the window has shown the end. Each side runs RUNS
# times (default 3) after a warming run; the best wall time counts, and the
# worst stall of all window runs. du -s runs as a peer for scale.
# Targets: no stall above 50 ms; the window's scan within 1.1x the report's.
set -euo pipefail

quarn=$(realpath "${1:?usage: ui_responsiveness.sh QUARN [TREE]}")
tree=${2:-/work/bench-trees/ui-responsiveness}
runs=${RUNS:-3}
here=$(cd "$(dirname "$0")" && pwd)

command -v xvfb-run >/dev/null 2>&1 || {
    echo "needs xvfb-run (apt-get install xvfb xauth)" >&2
    exit 2
}
if [ ! -d "$tree" ]; then
    mkdir -p "$(dirname "$tree")"
    python3 "$here/make_tree.py" "$tree" --files 1000000 --folders 100000
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The program's defaults, except that the bench must not touch the user's
# desktop entries.
printf '[SETTINGS]\nShellRun=0\n' >"$work/quarn.ini"
export QUARN_INI="$work/quarn.ini" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work"

now() { date +%s.%N; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a > b) ? a : b }'; }

"$quarn" --report "$tree" >/dev/null  # warm the cache
report_best="" du_best="" window_best="" worst_stall=""
for run in $(seq "$runs"); do
    start=$(now)
    "$quarn" --report "$tree" >/dev/null
    report_best=$(min "$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')" "$report_best")

    start=$(now)
    du -s "$tree" >/dev/null
    du_best=$(min "$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')" "$du_best")

    line=$(xvfb-run -a -s "-screen 0 1024x768x24" "$quarn" --bench-ui "$tree" 2>/dev/null |
        grep '^scan_wall_s=')
    wall=$(sed -E 's/.*scan_wall_s=([0-9.]+).*/\1/' <<<"$line")
    stall=$(sed -E 's/.*max_stall_ms=([0-9.]+).*/\1/' <<<"$line")
    echo "run $run: $line"
    window_best=$(min "$wall" "$window_best")
    worst_stall=$(max "$stall" "$worst_stall")
done

ratio=$(awk -v w="$window_best" -v r="$report_best" 'BEGIN { printf "%.2f", w / r }')
echo "tree:                $tree"
echo "load average:        $(cut -d' ' -f1-3 /proc/loadavg)"
echo "du -s (peer):        ${du_best}s"
echo "headless report:     ${report_best}s"
echo "window scan:         ${window_best}s  (${ratio}x the report; target <= 1.1x)"
echo "worst UI stall:      ${worst_stall} ms  (target <= 50 ms)"
