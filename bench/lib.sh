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
