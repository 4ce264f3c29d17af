#!/usr/bin/env python3
"""Makes the trees for the twin-file benchmark.

usage: make_twin_trees.py KIND DEST [--files N] [--mb M] [--seed S]

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
  photos    a photo library of about M megabytes (default 1024) of random
            bytes, files of 50 KB to 5 MB: camera folders of originals, of
            which about 30 % were imported again under new names and dates
            (a fifth of those twice), near-copies that differ from their
            original in the last byte or one middle byte, files of an
            original's size with other bytes (half of them with its first and
            last 64 KB), hard links to originals in an album, and empty
            .nomedia files. Only the originals and their renamed copies hold
            identical bytes; the counts it prints are what a search by
            content must find.
For random, sorted and packages, sizes are set by ftruncate (no data
blocks); twins are small so that a content-hashing peer reads little, other
files get sizes that no other file shares. Every file gets the same
last-write time, as package managers leave them. DEST must not exist; the
same arguments always make the same tree.
"""
import argparse
import hashlib
import math
import os
import random
import sys
import time

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


# Photo library: sizes spread as camera pictures are, bytes that no two
# files share unless one is a copy of the other.
PHOTO_MIN = 50 * 1000
PHOTO_MAX = 5 * 1000 * 1000
PHOTO_EDGE = 64 * 1024  # what a same-size other file shares with its original
PHOTO_START_NS = 1_577_836_800 * 1_000_000_000  # 2020-01-01
IMPORT_START_NS = 1_704_067_200 * 1_000_000_000  # 2024-01-01
HOUR_NS = 3600 * 1_000_000_000
DAY_NS = 24 * HOUR_NS


def photo_bytes(seed, key, size):
    # A keyed extendable hash: deterministic and many times faster than
    # random.randbytes.
    return hashlib.shake_128(b"%d/%s" % (seed, key.encode())).digest(size)


def write_photo(path, data, time_ns):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o644)
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view):]
    os.utime(fd, ns=(time_ns, time_ns))
    os.close(fd)


def make_photos(dest, megabytes, seed):
    rng = random.Random(seed)
    budget = megabytes * 1000 * 1000
    per_folder = 150
    os.makedirs(dest)
    written = 0
    originals = copies = sets = near = same_size = links = empties = 0
    linked_in_sets = 0
    index = 0
    while written < budget:
        size = int(math.exp(rng.uniform(math.log(PHOTO_MIN), math.log(PHOTO_MAX))))
        taken = PHOTO_START_NS + index * 7 * HOUR_NS + rng.randrange(HOUR_NS)
        camera = "%s/DCIM/%03dCAMRA" % (dest, 100 + index // per_folder)
        if index % per_folder == 0:
            write_photo(camera + "/.nomedia", b"", taken)
            empties += 1
        original = "%s/IMG_%05d.JPG" % (camera, index)
        data = photo_bytes(seed, "photo%d" % index, size)
        write_photo(original, data, taken)
        written += size
        originals += 1
        # Renamed copies: an import tool names them by date and puts them
        # in a folder per day; a backup of the phone names them its way.
        imported = rng.random() < 0.30
        copy_path = None
        if imported:
            sets += 1
            day = time.gmtime(taken // 1_000_000_000)
            stamp = time.strftime("%Y%m%d_%H%M%S", day)
            folder = "%s/Pictures/%s/%s" % (dest, time.strftime("%Y", day),
                                            time.strftime("%Y-%m-%d", day))
            copy_time = IMPORT_START_NS + index * HOUR_NS
            copy_path = "%s/%s_%d.jpg" % (folder, stamp, index)
            write_photo(copy_path, data, copy_time)
            written += size
            copies += 1
            if rng.random() < 0.20:
                write_photo("%s/Backup/phone/PXL_%s%03d.jpg" % (dest, stamp, index % 1000),
                            data, copy_time + DAY_NS)
                written += size
                copies += 1
        # Near-copies: one byte differs, so they must match nothing.
        roll = rng.random()
        if roll < 0.07:
            changed = bytearray(data)
            where = size - 1 if roll < 0.05 else size // 2
            changed[where] ^= 0xFF
            suffix = "edit" if roll < 0.05 else "crop"
            write_photo("%s/Edited/IMG_%05d_%s.jpg" % (dest, index, suffix), bytes(changed),
                        IMPORT_START_NS + index * HOUR_NS)
            written += size
            near += 1
        # Other files of the same size; half of them share the original's
        # first and last 64 KB, so that only the middle tells them apart.
        roll = rng.random()
        if roll < 0.05:
            other = bytearray(photo_bytes(seed, "scan%d" % index, size))
            if roll < 0.025 and size > 2 * PHOTO_EDGE:
                other[:PHOTO_EDGE] = data[:PHOTO_EDGE]
                other[-PHOTO_EDGE:] = data[-PHOTO_EDGE:]
            write_photo("%s/Scans/SCAN_%05d.jpg" % (dest, index), bytes(other), taken + DAY_NS)
            written += size
            same_size += 1
        # Hard links in an album: no data of their own, and no duplicate
        # unless the original has a copy. Half of those link the copy, whose
        # space then goes only with its last name.
        if rng.random() < 0.05:
            album = "%s/Albums/Favourites" % dest
            os.makedirs(album, exist_ok=True)
            target = copy_path if copy_path and rng.random() < 0.5 else original
            os.link(target, "%s/fav_%05d.jpg" % (album, index))
            links += 1
            linked_in_sets += 1 if imported else 0
        index += 1
    print("make_twin_trees: %d bytes in %d originals, %d renamed copies, %d near-copies, "
          "%d same-size others, %d hard links, %d empty files"
          % (written, originals, copies, near, same_size, links, empties))
    print("make_twin_trees: identical content: %d sets of %d files (%d more names by hard link)"
          % (sets, sets + copies, linked_in_sets))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind", choices=["random", "sorted", "packages", "modules", "photos"])
    parser.add_argument("dest")
    parser.add_argument("--files", type=int, default=1_000_000)
    parser.add_argument("--mb", type=int, default=1024)
    parser.add_argument("--seed", type=int, default=20261208)
    args = parser.parse_args()
    if os.path.exists(args.dest):
        sys.exit("make_twin_trees: %s exists" % args.dest)
    if args.kind == "packages":
        make_packages(args.dest, 20_000)
    elif args.kind == "modules":
        make_modules(args.dest, args.files, args.seed)
    elif args.kind == "photos":
        make_photos(args.dest, args.mb, args.seed)
    else:
        make_named_tree(args.dest, args.files, args.seed, args.kind == "sorted")


if __name__ == "__main__":
    main()
