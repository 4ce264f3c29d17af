#!/ usr / bin / env python3
"""Makes a deterministic folder tree for the scan benchmarks.

usage: make_tree.py DEST [--files N] [--folders M] [--seed S] [--max-depth D]

DEST must not exist. M folders (DEST itself included) get random-ish depths:
most new folders go below one of the last few made (deep chains), some
below any earlier one (wide levels). N files are spread over the folders,
each with a size from 0 to 64 KiB set by ftruncate, so the tree takes
almost no disk blocks but has real apparent sizes. The same arguments
always make the same tree.
"""
import argparse
import os
import random
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dest")
    parser.add_argument("--files", type=int, default=1_000_000)
    parser.add_argument("--folders", type=int, default=100_000)
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument("--max-depth", type=int, default=24)
    args = parser.parse_args()
    if os.path.exists(args.dest):
        sys.exit("make_tree: %s exists" % args.dest)

    rng = random.Random(args.seed)
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

    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC
    for index in range(args.files):
        folder = paths[rng.randrange(args.folders)]
        fd = os.open("%s/f%d.dat" % (folder, index), flags, 0o644)
        os.ftruncate(fd, rng.randrange(65536))
        os.close(fd)
    print("make_tree: %d files in %d folders, deepest level %d" %
          (args.files, args.folders, max(depths)))


if __name__ == "__main__":
    main()
