#!/usr/bin/env bash
# Checks that two builds of the program print the same reports: every
# headless output (folder report as text and JSON, the largest files, the
# twin report as text and JSON, verified and filtered, the export, and the
# report of an import) on generated trees and on a small tree of odd entries,
# with exit codes and error output. The export's time stamp and the free
# space in the status are masked.
#
#   bench/compare_reports.sh OLD-QUARN NEW-QUARN [FILES]
#
# FILES (default 50000) sizes the generated trees. Trees are made under
# /dev/shm when it is there. Prints one line per comparison and exits 1 when
# any differs.
set -uo pipefail
cd "$(dirname "$0")/.."
old=$(realpath "$1")
new=$(realpath "$2")
files=${3:-50000}
base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/quarn-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QUARN_INI="$work/quarn.ini"  # the defaults, whatever the user set

python3 bench/make_tree.py "$work/tree" --files "$files" >/dev/null
python3 bench/make_tree.py "$work/packages" --kind packages --files "$files" >/dev/null
python3 bench/make_twin_trees.py random "$work/random" --files "$files" >/dev/null
python3 bench/make_twin_trees.py modules "$work/modules" --files "$((files / 2))" >/dev/null

# Entries of every odd kind: links, a hard link, a fifo, hidden files, times
# before 1601 and before 1970, names that are not UTF-8, and sparse twins
# beyond 4 GiB.
odd="$work/odd"
mkdir -p "$odd/a/deep" "$odd/b" "$odd/.hidden" "$odd/$(printf 'bad\xff')"
printf 'same' >"$odd/a/twin.txt"
printf 'same' >"$odd/b/twin.txt"
printf 'diff' >"$odd/a/deep/twin.txt"
ln -s ../a "$odd/b/link-to-a"
ln -s missing "$odd/b/dangling"
ln "$odd/a/twin.txt" "$odd/.hidden/twin.txt"
mkfifo "$odd/b/fifo"
printf 'x' >"$odd/$(printf 'bad\xff')/$(printf 'n\xe9.txt')"
truncate -s 5G "$odd/a/big.img" "$odd/b/big.img"
touch -d '1969-07-20 20:17:00 UTC' "$odd/a/moon.txt" "$odd/b/moon.txt"
touch -d '1500-01-01 00:00:00 UTC' "$odd/a/old.txt" "$odd/b/old.txt" 2>/dev/null || true
touch -d '2020-01-01 00:00:00 UTC' "$odd/a/twin.txt" "$odd/b/twin.txt" "$odd/a/deep/twin.txt" \
    "$odd/a/big.img" "$odd/b/big.img"

failed=0
compare() {  # label, then the arguments
    local label=$1
    shift
    local code_old code_new
    (cd "$work" && "$old" "$@" >"$work/out.old" 2>"$work/err.old")
    code_old=$?
    (cd "$work" && "$new" "$@" >"$work/out.new" 2>"$work/err.new")
    code_new=$?
    # The export names the time it was made, and the status the free space
    # of the disk, which other programs change between the two runs.
    sed -i -E -e 's/"timestamp":[0-9]+/"timestamp":0/' \
        -e 's/\[free [0-9.]+ [KMGT]?B\]/[free -]/' "$work/out.old" "$work/out.new"
    if [ "$code_old" = "$code_new" ] && cmp -s "$work/out.old" "$work/out.new" &&
        cmp -s "$work/err.old" "$work/err.new"; then
        printf 'same     %-28s %s (exit %s, %s bytes)\n' "$label" "${*: -1}" "$code_new" \
            "$(stat -c %s "$work/out.new")"
    else
        printf 'DIFFERS  %-28s %s (exit %s / %s)\n' "$label" "${*: -1}" "$code_old" "$code_new"
        diff <(head -c 2000 "$work/out.old") <(head -c 2000 "$work/out.new") | head -10
        diff "$work/err.old" "$work/err.new" | head -5
        failed=1
    fi
}

for tree in tree packages random modules odd; do
    dir="$work/$tree"
    compare "folder text" --report "$dir"
    compare "folder json" --report --json "$dir"
    compare "largest 20 json" --report --largest 20 --json "$dir"
    compare "allocated json" --report --allocated --json "$dir"
    compare "exclude json" --report --json --exclude "*.js;node_modules" "$dir"
    compare "twins text" --report --dupmatch "$dir"
    compare "twins json" --report --dupmatch --json "$dir"
    compare "twins verified json" --report --dupmatch --verify --json "$dir"
    compare "twins filtered" --report --dupmatch --filter a --min-kb 1 "$dir"
    compare "export" --export - "$dir"
    "$new" --export "$work/$tree.json" "$dir" >/dev/null 2>&1
    compare "import folder json" --report --json --import "$work/$tree.json"
    compare "import twins json" --report --dupmatch --json --import "$work/$tree.json"
done
compare "missing folder" --report "$work/no-such-folder"
compare "damaged import" --report --import "$work/out.new"

exit "$failed"
