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
  modules   about N files of real content in node_modules-style packages:
            one package in eight is installed twice, one in ten of those as
            another version whose files have the same sizes but other bytes;
            every package has a package.json, an index.js (sizes of these
            often coincide between packages, as in real trees) and a
            LICENSE of one size whose copyright line names one of a few
            hundred authors. About a third of the files have a twin of the
            same name, size and time; many of those differ in content.
For random, sorted and packages, sizes are set by ftruncate (no data
blocks); twins are small so that a content-hashing peer reads little, other
files get sizes that no other file shares. Every file gets the same
last-write time, as package managers leave them. DEST must not exist; the
same arguments always make the same tree.
"""
import argparse
import math
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


# Names that recur in every package, as in real node_modules trees; the
# other files of a package are named after it.
MODULE_FILES = ["package.json", "index.js"]
OWN_FILES = 13
LICENSE_TEXT = ("MIT License\n\nCopyright (c) 2020 %-24s\n\n" +
                "Permission is hereby granted, free of charge, to any person obtaining a copy "
                "of this software and associated documentation files. " * 8)


def write_file(path, data):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o644)
    os.write(fd, data)
    os.utime(fd, ns=(FIXED_TIME_NS, FIXED_TIME_NS))
    os.close(fd)


def module_size(rng):
    # Mostly small files, some larger ones.
    if rng.random() < 0.95:
        return int(math.exp(rng.uniform(math.log(50), math.log(8192))))
    return int(math.exp(rng.uniform(math.log(8192), math.log(65536))))


def make_modules(dest, files, seed):
    rng = random.Random(seed)
    authors = ["author%04d" % i for i in range(400)]
    per_package = len(MODULE_FILES) + 1 + OWN_FILES
    packages = max(1, files // per_package * 8 // 9)
    os.makedirs(dest)
    made = twice = 0
    for index in range(packages):
        prng = random.Random(seed * 1000003 + index)
        name = "pkg%05d" % index
        content = {}
        for rel in MODULE_FILES + ["lib/%s-%d.js" % (name, i) for i in range(OWN_FILES)]:
            content[rel] = prng.randbytes(module_size(prng))
        content["LICENSE"] = (LICENSE_TEXT % prng.choice(authors)).encode()
        places = ["%s/node_modules/%s" % (dest, name)]
        if index % 8 == 0:
            # Installed twice: nested below another package.
            host = "pkg%05d" % rng.randrange(packages)
            places.append("%s/node_modules/%s/node_modules/%s" % (dest, host, name))
            twice += 1
        for copy, place in enumerate(places):
            for rel, data in content.items():
                if copy == 1 and index % 80 == 0 and rel != "LICENSE":
                    # Another version: the same sizes, other bytes.
                    data = bytes(reversed(data))
                path = place + "/" + rel
                os.makedirs(os.path.dirname(path), exist_ok=True)
                write_file(path, data)
                made += 1
    print("make_twin_trees: %d files in %d packages, %d installed twice"
          % (made, packages, twice))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind", choices=["random", "sorted", "packages", "modules"])
    parser.add_argument("dest")
    parser.add_argument("--files", type=int, default=1_000_000)
    parser.add_argument("--seed", type=int, default=20261208)
    args = parser.parse_args()
    if os.path.exists(args.dest):
        sys.exit("make_twin_trees: %s exists" % args.dest)
    if args.kind == "packages":
        make_packages(args.dest, 20_000)
    elif args.kind == "modules":
        make_modules(args.dest, args.files, args.seed)
    else:
        make_named_tree(args.dest, args.files, args.seed, args.kind == "sorted")


if __name__ == "__main__":
    main()
