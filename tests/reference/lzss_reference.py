#!/usr/bin/env python3
"""Independent implementation of the LZSS container format, for cross-checks with the toolkit.

Container: "LZSS", u32 uncompressed length, u32 block size, method byte (16 * B + L), spare
byte, a table of u32 block positions, then the stored blocks without gaps (all little-endian).
A block whose stored length S is at least its raw length R is stored raw; S < R means coded
(S = 0: zeros). A coded block is a bit stream, most significant bit first: literal = 1 + 8 bits;
match = 0 + B bits O + L bits n, copying n + 2 bytes from 2^B - O bytes back (O = 0 skips).

A module (decode_container, encode_container); standard library only.
"""
import struct

VALID_METHODS = [b << 4 | l for b in (10, 11, 12) for l in range(1, 6)]


class FormatError(Exception):
    pass


def decode_block(coded, method, capacity):
    """Decodes one coded block, reading bit by bit (bits past the end read as zero)."""
    if method not in VALID_METHODS:
        raise FormatError("no such bit lengths: 0x%02X" % method)
    offset_bits, length_bits = method >> 4, method & 15
    bits = "".join("{:08b}".format(b) for b in coded) + "0" * 64
    out, bit = bytearray(), 0

    def take(count):
        nonlocal bit
        bit += count
        return int(bits[bit - count:bit], 2)

    while coded:
        if take(1):
            if len(out) >= capacity:
                raise FormatError("block decodes past its size")
            out.append(take(8))
        else:
            code, count = take(offset_bits), take(length_bits) + 2
            if len(out) + count > capacity:
                raise FormatError("block decodes past its size")
            distance = (1 << offset_bits) - code
            if code and distance > len(out):
                raise FormatError("match reaches before the block")
            for _ in range(count):
                out.append(out[-distance] if code else 0)
        if (bit >> 3) >= len(coded) - 1:
            break
    return bytes(out)


def decode_container(data):
    if len(data) < 14 or data[:4] != b"LZSS":
        raise FormatError("not an LZSS container")
    length, block_size = struct.unpack_from("<II", data, 4)
    method = data[12]
    if block_size == 0:
        raise FormatError("block size 0")
    count = 1 if length == 0 else (length - 1) // block_size + 1
    if 14 + 4 * count > len(data):
        raise FormatError("block table cut short")
    table = list(struct.unpack_from("<%dI" % count, data, 14)) + [len(data)]
    out = bytearray()
    for i in range(count):
        raw = block_size if i + 1 < count else length - block_size * (count - 1)
        start, end = table[i], table[i + 1]
        stored = (end - start) & 0xFFFFFFFF
        if stored >= raw:
            if stored > block_size:
                raise FormatError("block %d: stored length %d above the block size" % (i, stored))
            if start + raw > len(data):
                raise FormatError("block %d runs past the end" % i)
            out += data[start:start + raw]
        else:
            if end > len(data):
                raise FormatError("block %d runs past the end" % i)
            block = decode_block(data[start:end], method, block_size)
            block = block[:raw]
            out += block + bytes(raw - len(block))
    return bytes(out)


def encode_block(block, method):
    """Naive greedy coder: at each position the longest match the window holds, the most recent
    of its length (a match of n bytes exists only where one of n - 1 does)."""
    offset_bits, length_bits = method >> 4, method & 15
    window, longest = 1 << offset_bits, (1 << length_bits) + 1
    value, count, p = 0, 0, 0
    while p < len(block):
        length, distance = 1, 0
        for n in range(2, min(longest, len(block) - p) + 1):
            q = block.rfind(block[p:p + n], max(0, p - window + 1), p + n - 1)
            if q < 0:
                break
            length, distance = n, p - q
        if length == 1:
            value, count = value << 9 | 0x100 | block[p], count + 9
        else:
            value = (value << (1 + offset_bits) | (window - distance)) << length_bits | (length - 2)
            count += 1 + offset_bits + length_bits
        p += length
    pad = -count % 8
    return (value << pad).to_bytes((count + pad) // 8, "big")


def encode_container(data, block_size=0x8000, method=0xC4, spare=0):
    if method not in VALID_METHODS:
        raise FormatError("no such bit lengths: 0x%02X" % method)
    if block_size <= 0:
        raise FormatError("block size must be positive")
    count = 1 if not data else (len(data) - 1) // block_size + 1
    stored = []
    for i in range(count):
        raw = data[i * block_size:(i + 1) * block_size]
        coded = encode_block(raw, method)
        stored.append(coded if len(coded) < len(raw) else raw)
    position = 14 + 4 * count
    table = []
    for block in stored:
        table.append(position)
        position += len(block)
    header = b"LZSS" + struct.pack("<IIBB", len(data), block_size, method, spare)
    return header + struct.pack("<%dI" % count, *table) + b"".join(stored)
