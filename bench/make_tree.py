#!/usr/bin/env python3
"""Makes a deterministic folder tree for the scan benchmarks.

usage: make_tree.py DEST [--kind tree|packages|flat] [--files N] [--folders M]
                         [--seed S] [--max-depth D]

DEST must not exist. Every file gets a size set by ftruncate, so a tree takes
almost no disk blocks but has real apparent sizes. The same arguments always
make the same tree.

  tree      M folders (DEST itself included) at random-ish depths: most new
            folders go below one of the last few made (deep chains), some
            below any earlier one (wide levels). N files are spread over the
            folders, each of 0 to 64 KiB.
  packages  about N files the way a JavaScript project's node_modules holds
            them: packages of a handful of files (package.json, index.js,
            README.md, LICENSE, lib/*.js) with their own nested node_modules,
            every file with the one time package managers give them, and
            licence texts of a few common sizes (so many same-named files are
            twins).
  flat      N files in DEST itself.
"""
import argparse
import os
import random
import sys

FLAGS = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC
PACKAGE_TIME_NS = 499_162_500 * 1_000_000_000  # 1985-10-26 08:15 UTC


def make_file(path, size, time_ns=None):
    fd = os.open(path, FLAGS, 0o644)
    os.ftruncate(fd, size)
    if time_ns is not None:
        os.utime(fd, ns=(time_ns, time_ns))
    os.close(fd)


def make_tree(args, rng):
    paths = [args.dest]
    depths = [0]
    os.makedirs(args.dest)
    for index in range(1, args.folders):
        while True:
            if rng.random() < 0.3:
                parent = rng.randrange(index)
            else:
                parent = index - 1 - rng.randrange(min(index, 16))
            if depths[parent] < args.max_depth:
                break
        path = "%s/d%d" % (paths[parent], index)
        os.mkdir(path)
        paths.append(path)
        depths.append(depths[parent] + 1)

    for index in range(args.files):
        folder = paths[rng.randrange(args.folders)]
        make_file("%s/f%d.dat" % (folder, index), rng.randrange(65536))
    print("make_tree: %d files in %d folders, deepest level %d" %
          (args.files, args.folders, max(depths)))


def make_packages(args, rng):
    licences = [1070, 1076, 1077, 1081, 11357]
    made = 0
    packages = 0
    # (folder holding a node_modules, nesting level), widest first
    pending = [(args.dest, 0)]
    os.makedirs(args.dest)
    while made < args.files:
        holder, level = pending.pop(0) if pending else (args.dest, 0)
        modules = holder + "/node_modules"
        os.makedirs(modules, exist_ok=True)
        for _ in range(rng.randrange(3, 12) if level < 4 else 0):
            if made >= args.files:
                break
            packages += 1
            package = "%s/pkg%d" % (modules, packages)
            os.mkdir(package)
            make_file(package + "/package.json", rng.randrange(400, 4000), PACKAGE_TIME_NS)
            make_file(package + "/index.js", rng.randrange(100, 20000), PACKAGE_TIME_NS)
            make_file(package + "/README.md", rng.randrange(500, 30000), PACKAGE_TIME_NS)
            make_file(package + "/LICENSE", rng.choice(licences), PACKAGE_TIME_NS)
            made += 4
            if rng.random() < 0.6:
                os.mkdir(package + "/lib")
                for index in range(rng.randrange(2, 20)):
                    make_file("%s/lib/m%d.js" % (package, index), rng.randrange(50, 40000),
                              PACKAGE_TIME_NS)
                    made += 1
            if rng.random() < 0.35:
                pending.append((package, level + 1))
    print("make_tree: %d files in %d packages" % (made, packages))


def make_flat(args, rng):
    os.makedirs(args.dest)
    for index in range(args.files):
        make_file("%s/f%d.dat" % (args.dest, index), rng.randrange(65536))
    print("make_tree: %d files in one folder" % args.files)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dest")
    parser.add_argument("--kind", choices=["tree", "packages", "flat"], default="tree")
    parser.add_argument("--files", type=int, default=1_000_000)
    parser.add_argument("--folders", type=int, default=100_000)
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument("--max-depth", type=int, default=24)
    args = parser.parse_args()
    if os.path.exists(args.dest):
        sys.exit("make_tree: %s exists" % args.dest)
    rng = random.Random(args.seed)
    {"tree": make_tree, "packages": make_packages, "flat": make_flat}[args.kind](args, rng)


if __name__ == "__main__":
    main()
