#!/usr/bin/env bash
# Times the search for files of identical content (whatever their names)
# against jdupes and rdfind, warm and cold, with and without the hash cache,
# checks that they find the same sets, and checks that --dedupe hardlink frees
# what it says and changes no file's bytes.
#
# usage: bench/content_bench.sh QUARN [FILES]
#   QUARN  the quarn executable (a Release build)
#   FILES  files of the node_modules-like tree (default 300000)
#
# Trees (bench/make_twin_trees.py, under $TREES, default /work/bench-trees,
# made when missing, deleted afterwards unless KEEP_TREES=1):
#   modules  node_modules-like packages of small files of real content,
#            some installed twice, LICENSE texts shared between packages
#   photos   a photo library of PHOTO_MB megabytes (default 1024) of files of
#            50 KB to 5 MB: renamed copies, near-copies that differ in one
#            byte, same-size other files, hard links, empty files
# Set TREE_KINDS to run one of them ("photos").
#
# Compared, on each tree:
#   quarn --report --dupmatch --content --json --no-cache
#   jdupes -r -q                (hard links are not duplicates, empty files
#                                neither: as quarn)
#   rdfind -dryrun true         (run in a scratch folder: it writes
#                                results.txt there)
# Warm: one warming run, then RUNS runs (default 3); cold (root only): the
# page cache dropped before each of COLD_RUNS runs (default 1). The best wall
# time counts, and the largest peak resident set. Ratios are quarn's over the
# peer's: below 1 quarn is faster or smaller.
# Then the search with its hash cache (a private XDG_CACHE_HOME filled by a
# first run), warm and cold against jdupes; a traced cached run (strace)
# that must open no file of the tree for reading; the sets each program
# found, compared as sets of inodes; and on a copy of the tree (cp -a, beside
# the tree) quarn --dedupe hardlink, after its --dry-run: the space it says it
# freed against what the dry run foresaw and what du says, and every file's
# bytes (sha1sum) before against after.
# Disk: each tree, then its copy for the dedupe check, removed at once.
set -euo pipefail

quarn=$(realpath "${1:?usage: content_bench.sh QUARN [FILES]}")
files=${2:-300000}
photo_mb=${PHOTO_MB:-1024}
# shellcheck disable=SC2034  # read by measure (bench/lib.sh)
runs=${RUNS:-3}
cold_runs=${COLD_RUNS:-1}
kinds=${TREE_KINDS:-modules photos}
trees=${TREES:-/work/bench-trees}
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=bench/lib.sh
source "$here/lib.sh"
need_package jdupes jdupes
need_package rdfind rdfind
need_package strace strace
need_package sha1sum coreutils
[ -x /usr/bin/time ] || need_package /usr/bin/time time

cold=0
if [ "$(id -u)" = 0 ] && [ -w /proc/sys/vm/drop_caches ]; then
    cold=1
fi

scratch=$(mktemp -d)
made=()  # trees this run made
copy=""
cleanup() {
    rm -rf "$scratch"
    [ -n "$copy" ] && rm -rf "$copy"
    if [ "${KEEP_TREES:-0}" != 1 ]; then
        for tree in "${made[@]}"; do
            rm -rf "$tree"
        done
    fi
}
trap cleanup EXIT
export QUARN_INI="$scratch/quarn.ini"  # missing: every setting at its default
export LC_ALL=C.UTF-8
# Even with --no-cache no run may see another's hashes, nor the user's.
export XDG_CACHE_HOME="$scratch/no-cache"
mkdir -p "$scratch/run" "$XDG_CACHE_HOME"

# A tree and its copy must fit with room to spare.
free_mb() { df -Pm "$1" | awk 'NR == 2 {print $4}'; }
mkdir -p "$trees"
# About 7 KB a file of the modules tree; the trees are made one at a time.
need_mb=$((files * 14 / 1000 + photo_mb * 21 / 10 + 1024))
if [ "$(free_mb "$trees")" -lt "$need_mb" ]; then
    echo "content_bench: $trees has $(free_mb "$trees") MB free; about $need_mb MB needed" >&2
    exit 2
fi

make_tree() {  # kind path
    case $1 in
        modules) python3 "$here/make_twin_trees.py" modules "$2" --files "$files" ;;
        photos) python3 "$here/make_twin_trees.py" photos "$2" --mb "$photo_mb" ;;
        *) echo "content_bench: unknown tree kind $1" >&2; exit 2 ;;
    esac
}

measure_in() {  # warm|cold command...
    local mode=$1
    shift
    if [ "$mode" = cold ]; then
        runs=$cold_runs MEASURE_COLD=1 MEASURE_DIR="$scratch/run" measure "$@"
    else
        MEASURE_DIR="$scratch/run" measure "$@"
    fi
}

ratio() {  # a b
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'
}
mb() {  # KB
    awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'
}
row() {  # label seconds KB
    printf "  %-48s %8s s %8s MB\n" "$1" "$2" "$(mb "$3")"
}

# The sets each program found, as sets of inodes (hard links of one file are
# one member however a program lists them), compared with quarn's.
compare_sets() {  # tree quarn.json jdupes.txt rdfind-results.txt
    python3 - "$@" <<'EOF'
import json
import os
import sys

tree, quarn_json, jdupes_txt, rdfind_txt = sys.argv[1:5]


def inode(path):
    st = os.stat(path)
    return (st.st_dev, st.st_ino)


def summary(name, sets):
    paths = sum(len(s) for s in sets)
    inodes = [frozenset(inode(p) for p in s) for s in sets]
    kept = set(i for i in inodes if len(i) >= 2)
    copies = sum(len(i) - 1 for i in kept)
    return name, len(sets), paths, sum(len(i) for i in kept), copies, kept


quarn = []
for group in json.load(open(quarn_json, encoding="utf-8", errors="surrogateescape"))["groups"]:
    quarn.append([f["path"] for f in group["files"]])

jdupes = []
current = []
for line in open(jdupes_txt, encoding="utf-8", errors="surrogateescape"):
    line = line.rstrip("\n")
    if line:
        current.append(line)
    elif current:
        jdupes.append(current)
        current = []
if current:
    jdupes.append(current)

by_id = {}
for line in open(rdfind_txt, encoding="utf-8", errors="surrogateescape"):
    if line.startswith("#"):
        continue
    fields = line.rstrip("\n").split(" ", 7)
    by_id.setdefault(abs(int(fields[1])), []).append(fields[7])
rdfind = list(by_id.values())

results = [summary("quarn", quarn), summary("jdupes", jdupes), summary("rdfind", rdfind)]
print("  %-8s %8s %10s %10s %12s" % ("found", "sets", "paths", "inodes", "inodes - sets"))
for name, sets, paths, inodes, copies, _ in results:
    print("  %-8s %8d %10d %10d %12d" % (name, sets, paths, inodes, copies))
mine = results[0][5]
names = {}
for sets in (quarn, jdupes, rdfind):
    for s in sets:
        for p in s:
            names.setdefault(inode(p), p)
for name, _, _, _, _, theirs in results[1:]:
    only_quarn = mine - theirs
    only_peer = theirs - mine
    verdict = "the same sets" if not only_quarn and not only_peer else \
        "%d sets only quarn's, %d only %s's" % (len(only_quarn), len(only_peer), name)
    print("  quarn and %s: %s" % (name, verdict))
    for label, sets in (("only quarn", only_quarn), ("only " + name, only_peer)):
        for s in sorted(sets, key=lambda s: sorted(names[i] for i in s))[:3]:
            print("    %s: %s" % (label, " = ".join(sorted(os.path.relpath(names[i], tree)
                                                          for i in s))))
EOF
}

# Which files of the tree a traced run opened for anything but a handle
# (O_PATH): strace -y names the file behind each descriptor returned,
# however it was reached (a folder's handle, /proc/self/fd).
opened_for_reading() {  # tree trace
    python3 - "$@" <<'EOF'
import os
import re
import sys

tree, trace = sys.argv[1], sys.argv[2]
files = set()
for folder, _, names in os.walk(tree):
    for name in names:
        files.add(os.path.join(folder, name))
call = re.compile(r'^\d+\s+(?:openat|open)\(.*, ([A-Z_|]+)(?:, 0\d*)?\)\s+=\s+\d+<(.*)>$')
read = set()
pending = {}  # pid -> the first half of a call that another thread interrupted
for line in open(trace, encoding="utf-8", errors="surrogateescape"):
    line = line.rstrip("\n")
    pid = line.split(None, 1)[0]
    if line.endswith(" <unfinished ...>"):
        pending[pid] = line[:-len(" <unfinished ...>")]
        continue
    if " resumed>" in line:
        line = pending.pop(pid, "") + line.split(" resumed>", 1)[1]
    m = call.match(line)
    if m and "O_PATH" not in m.group(1) and m.group(2) in files:
        read.add(m.group(2))
print(len(read))
for path in sorted(read)[:5]:
    print("    e.g. %s" % path, file=sys.stderr)
EOF
}

sums() {  # folder: every file's sha1, by path below the folder
    (cd "$1" && find . -type f -print0 | sort -z | xargs -0 -r sha1sum)
}

dedupe_check() {  # tree
    local tree=$1 before_b before_k after_b after_k freed json
    copy="$tree.dedupe-copy"
    rm -rf "$copy"
    cp -a "$tree" "$copy"
    sync
    sums "$copy" >"$scratch/sums.before"
    before_b=$(du -sb "$copy" | cut -f1)
    before_k=$(du -s --block-size=1 "$copy" | cut -f1)
    json="$scratch/dedupe.json"
    "$quarn" --dedupe hardlink --dry-run --json "$copy" >"$scratch/dry.json" ||
        echo "  quarn --dedupe --dry-run exited with $?"
    "$quarn" --dedupe hardlink --json "$copy" >"$json" || echo "  quarn --dedupe exited with $?"
    sync
    after_b=$(du -sb "$copy" | cut -f1)
    after_k=$(du -s --block-size=1 "$copy" | cut -f1)
    sums "$copy" >"$scratch/sums.after"
    freed=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["bytes_freed"])' "$json")
    python3 - "$scratch/dry.json" "$json" <<'EOF'
import json
import sys
dry, real = (json.load(open(path)) for path in sys.argv[1:3])
for name, d in (("--dedupe hardlink --dry-run:", dry), ("--dedupe hardlink:", real)):
    print("  quarn %-28s %d replaced, %d skipped, %d failed; bytes_freed %d"
          % (name, d["replaced"], d["skipped"], d["failed"], d["bytes_freed"]))
if dry["bytes_freed"] != real["bytes_freed"]:
    print("  the dry run's bytes_freed differs from the real run's by %d"
          % (real["bytes_freed"] - dry["bytes_freed"]))
EOF
    echo "  du -sb (apparent):    $before_b -> $after_b, less $((before_b - after_b))"
    echo "  du -s (blocks, B):    $before_k -> $after_k, less $((before_k - after_k))"
    awk -v q="$freed" -v d=$((before_k - after_k)) 'BEGIN {
        diff = q > d ? q - d : d - q
        base = d > 0 ? d : 1
        printf "  freed: quarn %d, du %d: %s (%.3f %% apart)\n", q, d,
            (diff <= 0.01 * base ? "agree within 1 %" : "DISAGREE"), 100 * diff / base }'
    if cmp -s "$scratch/sums.before" "$scratch/sums.after"; then
        echo "  contents: every file's sha1 the same after as before ($(wc -l <"$scratch/sums.after") files)"
    else
        echo "  contents: CHANGED: $(diff "$scratch/sums.before" "$scratch/sums.after" | grep -c '^[<>]') lines differ"
    fi
    local left
    left=$(jdupes -r -q "$copy" 2>/dev/null | awk 'NF == 0 {n++} END {print n + 0}')
    echo "  after: jdupes finds $left sets; quarn finds" \
        "$("$quarn" --report --dupmatch --content --json --no-cache "$copy" |
            python3 -c 'import json, sys; print(len(json.load(sys.stdin)["groups"]))') sets"
    rm -rf "$copy"
    copy=""
}

mkdir "$scratch/empty"
read -r _ _ base_kb < <(MEASURE_DIR="$scratch/run" measure "$quarn" --report --dupmatch --content \
    --json --no-cache "$scratch/empty")
echo "quarn $("$quarn" --version 2>/dev/null | head -1); $(nproc) processors;" \
    "cold runs: $([ $cold = 1 ] && echo yes || echo "no (not root)");" \
    "quarn's peak on an empty folder: $(mb "$base_kb") MB"
for kind in $kinds; do
    tree="$trees/content-$kind"
    generated=""
    if [ ! -d "$tree" ]; then
        made+=("$tree")
        generated=$(make_tree "$kind" "$tree")
    fi
    count=$(find "$tree" -type f | wc -l)
    bytes=$(find "$tree" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
    echo
    echo "== $kind: $count files, $bytes bytes ($tree)"
    [ -n "$generated" ] && echo "${generated//make_twin_trees: /  made: }"

    search=("$quarn" --report --dupmatch --content --json)
    modes=warm
    [ $cold = 1 ] && modes="warm cold"
    for mode in $modes; do
        declare -A t m
        read -r 't[q]' _ 'm[q]' < <(measure_in "$mode" "${search[@]}" --no-cache "$tree")
        read -r 't[j]' _ 'm[j]' < <(measure_in "$mode" jdupes -r -q "$tree")
        read -r 't[r]' _ 'm[r]' < <(measure_in "$mode" rdfind -dryrun true "$tree")
        echo "-- $mode"
        row "quarn --report --dupmatch --content --no-cache" "${t[q]}" "${m[q]}"
        row "jdupes -r -q" "${t[j]}" "${m[j]}"
        row "rdfind -dryrun true" "${t[r]}" "${m[r]}"
        echo "  quarn / jdupes: time $(ratio "${t[q]}" "${t[j]}"), peak memory $(ratio "${m[q]}" "${m[j]}")"
        echo "  quarn / rdfind: time $(ratio "${t[q]}" "${t[r]}"), peak memory $(ratio "${m[q]}" "${m[r]}")"
        echo "  quarn's peak net of its empty-folder run: $(mb $((m[q] - base_kb))) MB"
        unset t m
    done

    # The second search with the cache: the first one fills it.
    cache="$scratch/cache-$kind"
    mkdir -p "$cache"
    XDG_CACHE_HOME="$cache" "${search[@]}" "$tree" >/dev/null
    echo "-- with the hash cache ($(du -sb "$cache" | cut -f1) bytes after the first run)"
    for mode in $modes; do
        read -r qc_s _ qc_kb < <(XDG_CACHE_HOME="$cache" measure_in "$mode" "${search[@]}" "$tree")
        read -r j_s _ j_kb < <(measure_in "$mode" jdupes -r -q "$tree")
        row "quarn second run, $mode" "$qc_s" "$qc_kb"
        row "jdupes -r -q, $mode" "$j_s" "$j_kb"
        echo "  quarn cached / jdupes, $mode: time $(ratio "$qc_s" "$j_s"), peak memory $(ratio "$qc_kb" "$j_kb")"
    done
    XDG_CACHE_HOME="$cache" strace -f -qq -y -e trace=openat,open -o "$scratch/trace" \
        "${search[@]}" "$tree" >/dev/null
    read_count=$(opened_for_reading "$tree" "$scratch/trace")
    echo "  traced cached run: $read_count files of the tree opened for reading" \
        "($([ "$read_count" = 0 ] && echo "none, as it should" || echo "SHOULD BE NONE"))"
    # The same count without the cache shows that the trace sees the reads.
    strace -f -qq -y -e trace=openat,open -o "$scratch/trace" \
        "${search[@]}" --no-cache "$tree" >/dev/null
    echo "  traced run without the cache: $(opened_for_reading "$tree" "$scratch/trace" 2>/dev/null)" \
        "files opened for reading"
    rm -f "$scratch/trace"

    # The sets found.
    echo "-- sets of identical content"
    (cd "$scratch/run" && "${search[@]}" --no-cache "$tree" >"$scratch/quarn.json")
    (cd "$scratch/run" && jdupes -r -q "$tree" >"$scratch/jdupes.txt")
    (cd "$scratch/run" && rdfind -dryrun true "$tree" >/dev/null)
    compare_sets "$tree" "$scratch/quarn.json" "$scratch/jdupes.txt" "$scratch/run/results.txt"

    echo "-- dedupe by hard links on a copy"
    dedupe_check "$tree"

    if [ "${KEEP_TREES:-0}" != 1 ] && [[ " ${made[*]} " == *" $tree "* ]]; then
        rm -rf "$tree"
    fi
done
