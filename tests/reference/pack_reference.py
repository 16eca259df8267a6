#!/usr/bin/env python3
"""Independent reader and writer of pack files, for cross-checks against the C++ toolkit.

A pack is a 40-byte header (magic "KVLSYS PackFile\\n\\x1a" and a NUL, zeros up to byte 32, the
member count and the directory size as 32-bit little-endian numbers), the front-coded directory
(per member: name length, bytes shared with the previous name, the rest of the name, data offset,
data size), one CRC-32 per member, then the members' data in directory order.

A module (build_pack, read_pack); only the standard library is used.
"""

import binascii
import struct

MAGIC = b"KVLSYS PackFile\n\x1a\x00"
HEADER_SIZE = 40


class PackError(Exception):
    pass


def normalize(name):
    """Upper-cases a-z only and turns '/' into '\\', as the pack stores names."""
    out = bytearray()
    for b in name:
        if 0x61 <= b <= 0x7A:
            b -= 0x20
        elif b == 0x2F:
            b = 0x5C
        out.append(b)
    return bytes(out)


def check_name(name):
    if not name:
        return "the name is empty"
    if len(name) > 255:
        return "the name is longer than 255 bytes"
    parts = name.split(b"\\")
    if any(p == b"" for p in parts):
        return "the name has an empty component (leading, trailing or doubled backslash)"
    if any(p in (b".", b"..") for p in parts):
        return 'the name has a "." or ".." component'
    if any(0x61 <= b <= 0x7A for b in name):
        return "the name has a lower-case letter"
    if b"\x00" in name:
        return "the name holds a NUL byte"
    return None


def shared_length(a, b):
    n = 0
    while n < len(a) and n < len(b) and a[n] == b[n]:
        n += 1
    return n


def encode_entry(name, previous, offset, size):
    shared = shared_length(previous, name)
    return bytes([len(name), shared]) + name[shared:] + struct.pack("<II", offset, size)


def build_pack(members):
    """members: list of (name bytes, data bytes). Returns the pack's bytes."""
    members = sorted(((normalize(n), d) for n, d in members), key=lambda m: m[0])
    names = [n for n, _ in members]
    for name in names:
        problem = check_name(name)
        if problem:
            raise PackError("member %r: %s" % (name, problem))
    directory_size = 0
    previous = b""
    for name in names:
        directory_size += 2 + len(name) - shared_length(previous, name) + 8
        previous = name
    offset = HEADER_SIZE + directory_size + 4 * len(members)
    directory = bytearray()
    previous = b""
    for name, data in members:
        directory += encode_entry(name, previous, offset, len(data))
        offset += len(data)
        previous = name
    header = MAGIC + bytes(32 - len(MAGIC)) + struct.pack("<II", len(members), len(directory))
    table = b"".join(struct.pack("<I", binascii.crc32(d) & 0xFFFFFFFF) for _, d in members)
    return header + bytes(directory) + table + b"".join(d for _, d in members)


def read_pack(pack):
    """Returns a list of (name, offset, size, stored crc); raises PackError on any fault."""
    if len(pack) < HEADER_SIZE or pack[:18] != MAGIC:
        raise PackError("not a pack file")
    count, directory_size = struct.unpack_from("<II", pack, 32)
    if HEADER_SIZE + directory_size > len(pack):
        raise PackError("the directory runs past the end of the pack")
    directory = pack[HEADER_SIZE:HEADER_SIZE + directory_size]
    entries = []
    previous = b""
    at = 0
    while at < len(directory):
        if len(directory) - at < 2:
            raise PackError("entry %d is cut off" % len(entries))
        total, shared = directory[at], directory[at + 1]
        if total == 0 or shared > len(previous) or shared >= total:
            raise PackError("entry %d: lengths %d/%d do not fit" % (len(entries), total, shared))
        end = at + 2 + total - shared + 8
        if end > len(directory):
            raise PackError("entry %d runs past the directory" % len(entries))
        name = previous[:shared] + directory[at + 2:at + 2 + total - shared]
        problem = check_name(name)
        if problem:
            raise PackError("member %r: %s" % (name, problem))
        if entries and name <= previous:
            raise PackError("member %r is out of order" % name)
        if shared < len(previous) and name[shared] == previous[shared]:
            raise PackError("member %r shares more than its shared length" % name)
        offset, size = struct.unpack_from("<II", directory, end - 8)
        entries.append([name, offset, size])
        previous = name
        at = end
    if count not in (0, len(entries)):
        raise PackError("the header counts %d members, the directory holds %d" % (count, len(entries)))
    table_at = HEADER_SIZE + directory_size
    if table_at + 4 * len(entries) > len(pack):
        raise PackError("the CRC table runs past the end of the pack")
    for i, entry in enumerate(entries):
        entry.append(struct.unpack_from("<I", pack, table_at + 4 * i)[0])
    return [tuple(e) for e in entries]

