#!/usr/bin/env python3
"""Makes the trees for the twin-file benchmark.

usage: make_twin_trees.py KIND DEST [--files N] [--seed S]

KIND is one of
  random    N files in N/1000 folders, each folder's files created in random
            name order; about one file in ten has a twin (same name, size and
            time) in another folder
  sorted    the same files, each folder's files created in name order
  packages  20,000 files named package.json in node_modules-style folders,
            every one of a different size

Sizes are set by ftruncate (no data blocks). Twins are small so that a
content-hashing peer reads little; other files get sizes that no other file
shares. Every file gets the same last-write time. DEST must not exist; the
same arguments always make the same tree.
"""
import argparse
import os
import random
import sys

FIXED_TIME_NS = 1_600_000_000 * 1_000_000_000


def make_file(path, size):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o644)
    os.ftruncate(fd, size)
    os.utime(fd, ns=(FIXED_TIME_NS, FIXED_TIME_NS))
    os.close(fd)


def make_named_tree(dest, files, seed, sort_names):
    rng = random.Random(seed)
    per_folder = 1000
    folders = max(1, files // per_folder)
    # Names: 90 % unique, 10 % in twin pairs that live in two folders.
    plan = [[] for _ in range(folders)]
    unique_sizes = rng.sample(range(10**6, 10**12), files)
    made = 0
    pair = 0
    while made < files:
        if rng.random() < 0.05 and made + 2 <= files:
            name = "twin%07d.dat" % pair
            size = rng.randrange(1, 4096)
            a = rng.randrange(folders)
            b = (a + 1 + rng.randrange(folders - 1)) % folders if folders > 1 else a
            if a == b:
                continue
            plan[a].append((name, size))
            plan[b].append((name, size))
            pair += 1
            made += 2
        else:
            plan[rng.randrange(folders)].append(("f%08x%d.dat" % (rng.getrandbits(32), made),
                                                 unique_sizes[made]))
            made += 1
    os.makedirs(dest)
    for index, entries in enumerate(plan):
        folder = "%s/d%04d" % (dest, index)
        os.mkdir(folder)
        if sort_names:
            entries.sort()
        else:
            rng.shuffle(entries)
        for name, size in entries:
            make_file("%s/%s" % (folder, name), size)
    print("make_twin_trees: %d files (%d twin pairs) in %d folders" % (files, pair, folders))


def make_packages(dest, count):
    os.makedirs(dest)
    for index in range(count):
        folder = "%s/node_modules/p%05d" % (dest, index)
        os.makedirs(folder)
        make_file(folder + "/package.json", 200 + index)
    print("make_twin_trees: %d package.json files" % count)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind", choices=["random", "sorted", "packages"])
    parser.add_argument("dest")
    parser.add_argument("--files", type=int, default=1_000_000)
    parser.add_argument("--seed", type=int, default=20261208)
    args = parser.parse_args()
    if os.path.exists(args.dest):
        sys.exit("make_twin_trees: %s exists" % args.dest)
    if args.kind == "packages":
        make_packages(args.dest, 20_000)
    else:
        make_named_tree(args.dest, args.files, args.seed, args.kind == "sorted")


if __name__ == "__main__":
    main()
