#!/usr/bin/env python3
"""Cross-checks of HPFS stores between the vornpatch tool and the independent Python reader and
writer: stores made by either side are read, checked and extracted by the other."""

import argparse
import filecmp
import os
import random
import struct
import subprocess
import sys
import tempfile


def run(tool, *args, expect=0):
    result = subprocess.run([tool] + list(args), capture_output=True, text=True)
    if result.returncode != expect:
        raise AssertionError("%s %s: exit %d, expected %d\n%s%s" % (
            tool, " ".join(args), result.returncode, expect, result.stdout, result.stderr))
    return result.stdout


def same_tree(a, b):
    compare = filecmp.dircmp(a, b)
    if compare.left_only or compare.right_only or compare.diff_files or compare.funny_files:
        raise AssertionError("trees differ: %s %s %s" % (
            compare.left_only, compare.right_only, compare.diff_files))
    for name in compare.common_files:
        if not filecmp.cmp(os.path.join(a, name), os.path.join(b, name), shallow=False):
            raise AssertionError("file differs: " + name)
    for name in compare.common_dirs:
        same_tree(os.path.join(a, name), os.path.join(b, name))


def make_tree(root):
    rng = random.Random(7)
    os.makedirs(os.path.join(root, "LOCAL", "sub", "deeper"))
    with open(os.path.join(root, "LOCAL", "strings.ini"), "wb") as f:
        f.write(b"[objects]\r\npeon=peasant\r\n")
    with open(os.path.join(root, "LOCAL", "sub", "deeper", "big.bin"), "wb") as f:
        f.write(bytes(rng.randrange(256) for _ in range(150000)))
    with open(os.path.join(root, "LOCAL", "sub", "empty.txt"), "wb"):
        pass
    for i in range(30):
        with open(os.path.join(root, "file%02d.dat" % i), "wb") as f:
            f.write(bytes([i]) * (i * 37))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--reference", required=True)
    args = parser.parse_args()
    tool, ref = args.tool, [sys.executable, args.reference]
    with tempfile.TemporaryDirectory() as work:
        tree = os.path.join(work, "tree")
        make_tree(tree)
        for geometry in (["--block-size", "64", "--root-header", "32"],
                         ["--block-size", "4096"], ["--block-size", "512", "--lzss"]):
            store = os.path.join(work, "made.wdt")
            run(tool, "hpfs", "create", tree, "-o", store, *geometry)
            run(tool, "verify", store)
            plain = store
            if "--lzss" in geometry:
                plain = os.path.join(work, "made.plain")
                run(tool, "lzss", "decompress", store, plain)
            subprocess.run(ref + ["check", plain], check=True, capture_output=True)
            out = os.path.join(work, "ref_out_%s" % geometry[1])
            subprocess.run(ref + ["extract", plain, out], check=True)
            same_tree(tree, out)
            out = os.path.join(work, "tool_out_%s" % geometry[1])
            run(tool, "extract", store, "-C", out)
            same_tree(tree, out)

        # Stores from the reference writer: deep trees and a free list inside the store.
        for bs, rhs, free, depth in ((64, 60, 50, 2), (128, 16, 3, 1), (4096, 32, 0, 0)):
            store = os.path.join(work, "ref.wdt")
            subprocess.run(ref + ["write", tree, store, "--block-size", str(bs), "--root-header",
                                  str(rhs), "--free", str(free), "--min-depth", str(depth)],
                           check=True)
            run(tool, "verify", store)
            out = os.path.join(work, "from_ref_%d" % bs)
            run(tool, "extract", store, "-C", out)
            same_tree(tree, out)

        # Damage is found: a free-list entry that names a block in use.
        subprocess.run(ref + ["write", tree, store, "--block-size", "64", "--free", "5"],
                       check=True)
        data = bytearray(open(store, "rb").read())
        free_list = struct.unpack_from("<I", data, 20)[0]
        struct.pack_into("<I", data, free_list * 64 + 4, struct.unpack_from("<I", data, 28)[0])
        open(store, "wb").write(bytes(data))
        message = subprocess.run([tool, "verify", store], capture_output=True, text=True)
        assert message.returncode == 1 and "listed twice" in message.stderr, message.stderr
        run(tool, "hpfs", "create", os.path.join(work, "missing"), "-o", store, expect=1)
    print("hpfs cross-checks passed")


if __name__ == "__main__":
    main()
