#!/usr/bin/env python3
"""Writes the committed seed corpora of the LZSS and copy fuzz targets (run from anywhere)."""
import os
import random
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "reference"))
import lzss_reference as lz  # noqa: E402
import pack_reference as pack  # noqa: E402

METHODS = lz.VALID_METHODS


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    rng = random.Random(1)
    text = b"".join(rng.choice([b"patch ", b"file ", b"[str]\r\n", b"Version=0x0001000A\r\n",
                                b"game ", b"|"]) for _ in range(300))[:1500]
    noise = bytes(rng.randrange(256) for _ in range(700))
    # Decoder: selector (index into the valid methods), capacity (big-endian u16), coded block.
    write("fuzz_lzss_decode", "abcabcabc_c4", bytes([13, 0, 64]) + lz.encode_block(b"abcabcabc", 0xC4))
    write("fuzz_lzss_decode", "aaa_a1", bytes([0, 0, 3]) + lz.encode_block(b"aaa", 0xA1))
    for index, method in enumerate(METHODS):
        block = text[: 300 + 60 * index]
        write("fuzz_lzss_decode", "text_%02x" % method,
              bytes([index, len(block) >> 8, len(block) & 255]) + lz.encode_block(block, method))
    write("fuzz_lzss_decode", "invalid_method", bytes([0xF7, 0, 16]) + b"\xb0\xbf\xf0")
    # Stream: whole containers.
    write("fuzz_lzss_file", "empty", lz.encode_container(b"", 256, 0xC4, 0x61))
    write("fuzz_lzss_file", "text_c4", lz.encode_container(text, 512, 0xC4, 0x61))
    write("fuzz_lzss_file", "text_a1", lz.encode_container(text[:900], 256, 0xA1))
    write("fuzz_lzss_file", "mixed_b3",
          lz.encode_container(text[:400] + noise[:300] + bytes(300) + text[:200], 256, 0xB3))
    write("fuzz_lzss_file", "raw_only", lz.encode_container(noise, 128, 0xC5))
    # The patcher's copy: trees under FILES, sound and with names that have empty components.
    write("fuzz_copy", "tree.pack", pack.build_pack([
        (b"FILES/A/B.TXT", b"b"), (b"FILES/A/C/D.TXT", b"d"), (b"FILES/E.TXT", b""),
        (b"PATCH.INI", b"[str]")]))
    write("fuzz_copy", "empty_components.pack", crafted_pack([
        b"FILES\\A\\\\B", b"FILES\\C\\", b"FILES\\D\\E"]))


def crafted_pack(names):
    """A pack of sorted names the writers refuse, each holding its name as data."""
    names = sorted(names)
    heads, previous = [], b""
    for name in names:
        shared = pack.shared_length(previous, name)
        heads.append(bytes([len(name), shared]) + name[shared:])
        previous = name
    at = pack.HEADER_SIZE + sum(len(h) + 8 for h in heads) + 4 * len(names)
    directory = b""
    for head, name in zip(heads, names):
        directory += head + struct.pack("<II", at, len(name))
        at += len(name)
    header = pack.MAGIC.ljust(32, b"\0") + struct.pack("<II", len(names), len(directory))
    crcs = b"".join(struct.pack("<I", zlib.crc32(n)) for n in names)
    return header + directory + crcs + b"".join(names)


if __name__ == "__main__":
    main()
