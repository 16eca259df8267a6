#!/usr/bin/env python3
"""Writes the committed seed corpora of the LZSS fuzz targets (run from anywhere)."""
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "reference"))
import lzss_reference as lz  # noqa: E402

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


if __name__ == "__main__":
    main()
