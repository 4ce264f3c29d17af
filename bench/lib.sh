# Shared by the bench scripts: sourced, not run.

need_package() {  # command package
    if ! command -v "$1" >/dev/null 2>&1; then
        echo "installing $2" >&2
        if [ "$(id -u)" = 0 ]; then
            apt-get install -y "$2" >/dev/null
        else
            sudo apt-get install -y "$2" >/dev/null
        fi
    fi
}

# Readings from a /usr/bin/time -v log: wall seconds, peak resident KB and
# processor seconds (user + system).
wall_seconds() {  # log
    awk -F': ' '/Elapsed \(wall clock\)/ {
        n = split($2, p, ":"); s = 0
        for (i = 1; i <= n; i++) s = s * 60 + p[i]
        print s }' "$1"
}
peak_kb() {  # log
    awk -F': ' '/Maximum resident set size/ {print $2}' "$1"
}
cpu_seconds() {  # log
    awk -F': ' '/User time|System time/ {s += $2} END {print s}' "$1"
}

less_than() {  # a b: true when the number a is below b
    awk -v a="$1" -v b="$2" 'BEGIN {exit !(a < b)}'
}

# Runs a command $runs times (default 3) under /usr/bin/time -v after one
# warming run and prints "best-wall best-cpu largest-peak-KB"; "nan nan 0"
# when a run fails or outlasts $MEASURE_TIMEOUT seconds (default 1800).
# Knobs, set before the call as `knob=value measure ...`:
#   runs           runs that count
#   MEASURE_DIR    the folder the command runs in (default: the current one)
#   MEASURE_COLD=1 no warming run; the page cache is dropped before each
#                  run (root only)
measure() {  # command...
    local best="" bestcpu="" peak=0 log wall cpu kb
    local dir=${MEASURE_DIR:-.} limit=${MEASURE_TIMEOUT:-1800}
    log=$(mktemp)
    if [ "${MEASURE_COLD:-0}" != 1 ]; then
        (cd "$dir" && timeout "$limit" "$@" >/dev/null 2>&1) || true
    fi
    for _ in $(seq "${runs:-3}"); do
        if [ "${MEASURE_COLD:-0}" = 1 ]; then
            sync
            echo 3 >/proc/sys/vm/drop_caches
        fi
        if ! (cd "$dir" && /usr/bin/time -v timeout "$limit" "$@" >/dev/null 2>"$log"); then
            echo "failed or timed out: $*" >&2
            tail -3 "$log" >&2
            rm -f "$log"
            echo "nan nan 0"
            return
        fi
        wall=$(wall_seconds "$log")
        kb=$(peak_kb "$log")
        cpu=$(cpu_seconds "$log")
        if [ -z "$best" ] || less_than "$wall" "$best"; then best=$wall; fi
        if [ -z "$bestcpu" ] || less_than "$cpu" "$bestcpu"; then bestcpu=$cpu; fi
        [ "$kb" -gt "$peak" ] && peak=$kb
    done
    rm -f "$log"
    echo "$best $bestcpu $peak"
}

median() {  # numbers...: their median ("nan" when any is not a number)
    printf '%s\n' "$@" | sort -g | awk '
        $1 !~ /^[0-9.]+$/ { bad = 1 } { a[NR] = $1 }
        END { if (bad || NR == 0) print "nan"
              else if (NR % 2) print a[(NR + 1) / 2]
              else printf "%.3f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}

# Runs several commands in turn, round after round ($runs rounds, default 5),
# so that a machine whose load changes weighs on every command alike, and
# prints one line per command: "label median-wall median-cpu largest-peak-KB"
# (nan for a command that failed or outlasted $MEASURE_TIMEOUT). Each command
# is one shell command line. One warming round first, unless MEASURE_COLD=1,
# which drops the page cache before every run instead (root only).
#   usage: interleaved_medians LABEL COMMAND [LABEL COMMAND]...
interleaved_medians() {
    local -a labels=() commands=()
    while [ $# -ge 2 ]; do
        labels+=("$1")
        commands+=("$2")
        shift 2
    done
    local -A walls=() cpus=() peaks=()
    local log i round limit=${MEASURE_TIMEOUT:-1800} kb
    log=$(mktemp)
    if [ "${MEASURE_COLD:-0}" != 1 ]; then
        for i in "${!commands[@]}"; do
            timeout "$limit" sh -c "${commands[$i]}" >/dev/null 2>&1 || true
        done
    fi
    for round in $(seq "${runs:-5}"); do
        for i in "${!commands[@]}"; do
            if [ "${MEASURE_COLD:-0}" = 1 ]; then
                sync
                echo 3 >/proc/sys/vm/drop_caches
            fi
            if /usr/bin/time -v timeout "$limit" sh -c "${commands[$i]}" >/dev/null 2>"$log"; then
                walls[$i]+="$(wall_seconds "$log") "
                cpus[$i]+="$(cpu_seconds "$log") "
                kb=$(peak_kb "$log")
                [ "$kb" -gt "${peaks[$i]:-0}" ] && peaks[$i]=$kb
            else
                echo "failed or timed out (round $round): ${commands[$i]}" >&2
                walls[$i]+="nan "
                cpus[$i]+="nan "
            fi
        done
    done
    rm -f "$log"
    for i in "${!commands[@]}"; do
        # shellcheck disable=SC2086
        echo "${labels[$i]} $(median ${walls[$i]}) $(median ${cpus[$i]}) ${peaks[$i]:-0}"
    done
}
