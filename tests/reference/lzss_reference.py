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
    out = bytearray(capacity)
    produced = 0
    bit = 0

    def take(count):
        nonlocal bit
        value = 0
        for _ in range(count):
            byte = bit >> 3
            b = (coded[byte] >> (7 - (bit & 7))) & 1 if byte < len(coded) else 0
            value = value << 1 | b
            bit += 1
        return value

    if not coded:
        return bytes()
    while True:
        if take(1):
            if produced >= capacity:
                raise FormatError("block decodes past its size")
            out[produced] = take(8)
            produced += 1
        else:
            code = take(offset_bits)
            count = take(length_bits) + 2
            if produced + count > capacity:
                raise FormatError("block decodes past its size")
            if code:
                distance = (1 << offset_bits) - code
                if distance > produced:
                    raise FormatError("match reaches before the block")
                for _ in range(count):
                    out[produced] = out[produced - distance]
                    produced += 1
            else:
                produced += count
        if (bit >> 3) >= len(coded) - 1:
            break
    return bytes(out[:produced])


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


class BitWriter:
    def __init__(self):
        self.bits = []

    def put(self, value, count):
        for i in range(count - 1, -1, -1):
            self.bits.append((value >> i) & 1)

    def getvalue(self):
        bits = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))


def encode_block(block, method):
    """Naive greedy coder: at each position the longest match among recent candidates."""
    offset_bits, length_bits = method >> 4, method & 15
    window, longest = 1 << offset_bits, (1 << length_bits) + 1
    writer = BitWriter()
    chains = {}
    p = 0
    n = len(block)
    while p < n:
        best_length, best_distance = 0, 0
        limit = min(longest, n - p)
        if p > 0 and limit >= 2:
            for q in reversed(chains.get(block[p:p + 2], [])[-256:]):
                distance = p - q
                if distance >= window:
                    break
                length = 0
                while length < limit and block[q + length] == block[p + length]:
                    length += 1
                if length > best_length:
                    best_length, best_distance = length, distance
                    if length == limit:
                        break
        step = best_length if best_length >= 2 else 1
        if step == 1:
            writer.put(0x100 | block[p], 9)
        else:
            writer.put(0, 1)
            writer.put(window - best_distance, offset_bits)
            writer.put(best_length - 2, length_bits)
        for i in range(p, p + step):
            chains.setdefault(block[i:i + 2], []).append(i)
        p += step
    return writer.getvalue()


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
