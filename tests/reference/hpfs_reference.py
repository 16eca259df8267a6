#!/usr/bin/env python3
"""Independent writer and reader of HPFS stores, for cross-checks with the C++ toolkit.

An HPFS store is a file of fixed-size blocks. Block 0 starts with a 32-byte header (all numbers
little-endian): magic "HPFS", blockSize, blockCount, maxBlocks, freeCount, freeListBlock,
rootHeaderSize, rootValue. A handle is the number of its root block: size (u32), depth (i16),
then from rootHeaderSize on P = (blockSize - rootHeaderSize) / 4 block numbers. With depth d
the root's pointers name index blocks of level 1, ..., whose entries (w = blockSize / 4 per
block) at level d name data blocks. Free blocks form a list: a list block holds the previous
list block in word 0 and free block numbers in words 1..w-1. A directory is a handle whose bytes
are entries: handle u32, flags u16 (1 = directory), name length u16, name.

Usage:
  hpfs_reference.py write FOLDER STORE [--block-size N] [--root-header N] [--max-blocks N]
                                       [--free N] [--min-depth D]
  hpfs_reference.py extract STORE FOLDER
  hpfs_reference.py check STORE        (every block used once or free once; exit 1 otherwise)
Standard library only.
"""

import argparse
import os
import struct
import sys

MAGIC = b"HPFS"
HEADER = struct.Struct("<4s7I")
MAX_DEPTH = 5


class FormatError(Exception):
    pass


# ----------------------------------------------------------------------------------------------
# Writer


class Writer:
    def __init__(self, block_size, root_header, max_blocks):
        if block_size % 4 or block_size < 64:
            raise ValueError("block size must be a multiple of 4, at least 64")
        if root_header % 4 or root_header < 8 or root_header > block_size - 4:
            raise ValueError("root header size must be a multiple of 4 in 8..blockSize-4")
        self.bs = block_size
        self.rhs = root_header
        self.w = block_size // 4
        self.p = (block_size - root_header) // 4
        self.max_blocks = max_blocks
        self.blocks = {}  # number -> bytearray
        self.count = 1
        self.free_count = 0
        self.free_list = 0
        self.root_value = 0

    def take(self):
        if self.count >= self.max_blocks:
            raise ValueError("store is full (maxBlocks)")
        n = self.count
        self.count += 1
        self.blocks[n] = bytearray(self.bs)
        return n

    def release(self, b):
        """Puts a block (not the last one) on the free list, as the block file does."""
        self.blocks[b] = bytearray(self.bs)
        if self.free_count == 0:
            self.free_list = b
        else:
            p = (self.free_count - 1) % self.w
            if p < self.w - 1:
                struct.pack_into("<I", self.blocks[self.free_list], 4 * (p + 1), b)
            else:
                struct.pack_into("<I", self.blocks[b], 0, self.free_list)
                self.free_list = b
        self.free_count += 1

    def capacity(self, depth):
        return self.p * self.w ** depth

    def handle(self, data, min_depth=0):
        root = self.take()
        n = -(-len(data) // self.bs)
        depth = min_depth
        while n > self.capacity(depth):
            depth += 1
        if depth > MAX_DEPTH:
            raise ValueError("data too large for this block size")
        if n == 0:
            depth = 0
        level = []
        for i in range(n):
            b = self.take()
            chunk = data[i * self.bs:(i + 1) * self.bs]
            self.blocks[b][:len(chunk)] = chunk
            level.append(b)
        for _ in range(depth):
            parents = []
            for i in range(0, len(level), self.w):
                b = self.take()
                group = level[i:i + self.w]
                struct.pack_into("<%dI" % len(group), self.blocks[b], 0, *group)
                parents.append(b)
            level = parents
        assert len(level) <= self.p
        block = self.blocks[root]
        struct.pack_into("<Ih", block, 0, len(data), depth)
        if level:
            struct.pack_into("<%dI" % len(level), block, self.rhs, *level)
        return root

    def directory(self, folder, min_depth):
        entries = bytearray()
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            raw = os.fsencode(name)
            if os.path.isdir(path):
                handle, flags = self.directory(path, min_depth), 1
            else:
                with open(path, "rb") as f:
                    handle, flags = self.handle(f.read(), min_depth), 0
            entries += struct.pack("<IHH", handle, flags, len(raw)) + raw
        return self.handle(bytes(entries))

    def image(self):
        out = bytearray(self.count * self.bs)
        out[:HEADER.size] = HEADER.pack(MAGIC, self.bs, self.count, self.max_blocks,
                                        self.free_count, self.free_list, self.rhs,
                                        self.root_value)
        for n, block in self.blocks.items():
            out[n * self.bs:(n + 1) * self.bs] = block
        return bytes(out)


def write_store(folder, store, block_size=4096, root_header=32, max_blocks=0x7FFFFFFF,
                free=0, min_depth=0):
    writer = Writer(block_size, root_header, max_blocks)
    # Blocks taken first and released, so that the store starts with a non-empty free list
    # whose blocks lie among the used ones.
    spare = [writer.take() for _ in range(free)]
    writer.root_value = writer.directory(folder, min_depth)
    for b in spare:
        writer.release(b)
    with open(store, "wb") as f:
        f.write(writer.image())
    return writer


# ----------------------------------------------------------------------------------------------
# Reader


class Store:
    def __init__(self, data):
        if len(data) < HEADER.size:
            raise FormatError("shorter than the header")
        (magic, self.bs, self.count, self.max_blocks, self.free_count, self.free_list,
         self.rhs, self.root) = HEADER.unpack_from(data)
        if magic != MAGIC:
            raise FormatError("no HPFS magic")
        if self.bs % 4 or self.bs < 32 or self.rhs % 4 or self.rhs < 8 or self.rhs > self.bs - 4:
            raise FormatError("bad geometry")
        if self.count == 0 or self.count > -(-len(data) // self.bs):
            raise FormatError("block count beyond the file")
        self.data = data + bytes(self.count * self.bs - len(data)) if len(data) < \
            self.count * self.bs else data
        self.w = self.bs // 4
        self.p = (self.bs - self.rhs) // 4
        self.used = {}  # block -> what uses it

    def block(self, n):
        if n == 0 or n >= self.count:
            raise FormatError("block %d outside the store" % n)
        return self.data[n * self.bs:(n + 1) * self.bs]

    def words(self, n, first, count):
        return struct.unpack_from("<%dI" % count, self.block(n), 4 * first)

    def mark(self, n, what):
        if n in self.used:
            raise FormatError("block %d used twice (%s, %s)" % (n, self.used[n], what))
        self.used[n] = what

    def read_handle(self, handle, mark=False):
        root = self.block(handle)
        size, depth = struct.unpack_from("<Ih", root, 0)
        if not 0 <= depth <= MAX_DEPTH:
            raise FormatError("handle %d: depth %d" % (handle, depth))
        n = -(-size // self.bs)
        if n > self.p * self.w ** depth:
            raise FormatError("handle %d: size beyond its depth" % handle)
        if mark:
            self.mark(handle, "root of %d" % handle)
        out = bytearray()

        def walk(numbers, level):
            for b in numbers:
                if len(out) >= size:
                    return
                if level == depth:
                    if mark:
                        self.mark(b, "data of %d" % handle)
                    out.extend(self.block(b))
                else:
                    if mark:
                        self.mark(b, "index of %d" % handle)
                    walk(self.words(b, 0, self.w), level + 1)

        walk(self.words(handle, self.rhs // 4, self.p), 0)
        if len(out) < size:
            raise FormatError("handle %d: tree too small for its size" % handle)
        return bytes(out[:size])

    def entries(self, handle, mark=False):
        raw = self.read_handle(handle, mark)
        at = 0
        while at < len(raw):
            if len(raw) - at < 8:
                raise FormatError("directory %d: truncated entry" % handle)
            child, flags, length = struct.unpack_from("<IHH", raw, at)
            if len(raw) - at - 8 < length:
                raise FormatError("directory %d: entry runs past its end" % handle)
            yield raw[at + 8:at + 8 + length], child, flags
            at += 8 + length

    def walk(self, mark=False, handle=None, prefix=b"", depth=0):
        """Yields (path, handle, is_directory) for every entry below a directory."""
        if depth > 64:
            raise FormatError("directories nested too deep (a cycle?)")
        if handle is None:
            handle = self.root
        for name, child, flags in self.entries(handle, mark):
            path = prefix + b"\\" + name if prefix else name
            yield path, child, bool(flags & 1)
            if flags & 1:
                yield from self.walk(mark, child, path, depth + 1)
            elif mark:
                self.read_handle(child, True)

    def free_blocks(self):
        blocks = []
        f, current = self.free_count, self.free_list
        while f > 0:
            p = (f - 1) % self.w
            words = self.words(current, 0, p + 1)
            blocks.extend(reversed(words[1:p + 1]))
            blocks.append(current)
            f -= p + 1
            current = words[0]
        return blocks

    def check(self):
        list(self.walk(mark=True))
        for b in self.free_blocks():
            self.mark(b, "free")
        missing = [n for n in range(1, self.count) if n not in self.used]
        if missing:
            raise FormatError("blocks neither used nor free: %s" % missing[:20])


def open_store(path):
    with open(path, "rb") as f:
        return Store(f.read())


def safe_name(name):
    if not name or name in (b".", b"..") or any(c in name for c in b"/\\:\0"):
        raise FormatError("unsafe name %r" % name)
    return os.fsdecode(name)


def extract(store, folder):
    def go(handle, target, depth):
        if depth > 64:
            raise FormatError("directories nested too deep")
        os.makedirs(target, exist_ok=True)
        for name, child, flags in store.entries(handle):
            path = os.path.join(target, safe_name(name))
            if flags & 1:
                go(child, path, depth + 1)
            else:
                with open(path, "wb") as f:
                    f.write(store.read_handle(child))

    go(store.root, folder, 0)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    for command, words in (("write", ("folder", "store")), ("extract", ("store", "folder")),
                           ("check", ("store",))):
        part = sub.add_parser(command)
        for word in words:
            part.add_argument(word)
    for option, default in (("--block-size", 4096), ("--root-header", 32),
                            ("--max-blocks", 0x7FFFFFFF), ("--free", 0), ("--min-depth", 0)):
        sub.choices["write"].add_argument(option, type=int, default=default)
    args = parser.parse_args(argv)
    try:
        if args.command == "write":
            write_store(args.folder, args.store, args.block_size, args.root_header,
                        args.max_blocks, args.free, args.min_depth)
        elif args.command == "extract":
            extract(open_store(args.store), args.folder)
        else:
            open_store(args.store).check()
            print("ok")
    except (FormatError, ValueError, OSError) as error:
        print("error: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
