#!/usr/bin/env python3
"""Builds one benchmark tree at ROOT (which must not exist) and prints its folder count, root
included, and its file count.

Shapes:
  flat N     N empty folders in the root
  deep N     a chain of N folders below the root, each named "d"
  bushy      10 x 10 x 10 folders; a file in 100 of the 1,000 leaves, picked at random
  random N   N folders, each placed under a folder picked at random among those made before it
             (a random recursive tree: about ln N levels deep, a few wide folders); a file in
             one folder in twenty, picked at random
Random choices come from SEED, so a tree can be made again exactly."""

import os
import random
import sys


def put_file(folder):
    with open(os.path.join(folder, "keep.txt"), "w") as f:
        f.write("kept\n")


def flat(root, n, rng):
    for i in range(n):
        os.mkdir(os.path.join(root, "n%05d" % i))
    return n, 0


def deep(root, n, rng):
    folder = root
    for i in range(n):
        folder = os.path.join(folder, "d")
        os.mkdir(folder)
    return n, 0


def bushy(root, n, rng):
    leaves = []
    for a in range(10):
        for b in range(10):
            for c in range(10):
                leaf = os.path.join(root, "a%d" % a, "b%d" % b, "c%d" % c)
                os.makedirs(leaf)
                leaves.append(leaf)
    for leaf in rng.sample(leaves, 100):
        put_file(leaf)
    return 1110, 100


def random_tree(root, n, rng):
    folders = [root]
    for i in range(n):
        folder = os.path.join(rng.choice(folders), "n%d" % i)
        os.mkdir(folder)
        folders.append(folder)
    with_file = rng.sample(folders[1:], n // 20)
    for folder in with_file:
        put_file(folder)
    return n, len(with_file)


SHAPES = {"flat": flat, "deep": deep, "bushy": bushy, "random": random_tree}


def main():
    if len(sys.argv) != 5 or sys.argv[1] not in SHAPES:
        sys.exit("usage: make_tree.py flat|deep|bushy|random N SEED ROOT")
    shape, n, seed, root = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    os.mkdir(root)
    folders, files = SHAPES[shape](root, n, random.Random(seed))
    print(folders + 1, files)


if __name__ == "__main__":
    main()
