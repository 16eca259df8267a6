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


def shared_length(a, b):
    n = 0
    while n < len(a) and n < len(b) and a[n] == b[n]:
        n += 1
    return n


def build_pack(members, ranges=None, crcs=None):
    """The pack of members [(name, data)] in the given order, each name as stored and front-coded
    against the previous one; names are not checked, so that a pack can hold names the writers
    refuse. ranges [(offset, size)] and crcs replace the laid-out ones."""
    heads, previous = [], b""
    for name, _ in members:
        shared = shared_length(previous, name)
        heads.append(bytes([len(name), shared]) + name[shared:])
        previous = name
    offset = HEADER_SIZE + sum(len(h) + 8 for h in heads) + 4 * len(members)
    laid = []
    for _, data in members:
        laid.append((offset, len(data)))
        offset += len(data)
    directory = b"".join(h + struct.pack("<II", *r) for h, r in zip(heads, ranges or laid))
    header = MAGIC + bytes(32 - len(MAGIC)) + struct.pack("<II", len(members), len(directory))
    table = crcs or [binascii.crc32(d) & 0xFFFFFFFF for _, d in members]
    return header + directory + struct.pack("<%dI" % len(table), *table) + b"".join(d for _, d in members)


def read_pack(pack):
    """Returns a list of (name, offset, size, stored crc); raises PackError (or, where the pack
    ends too soon, IndexError or struct.error) on any fault."""
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
        total, shared = directory[at], directory[at + 1]
        if total == 0 or shared > len(previous) or shared >= total:
            raise PackError("entry %d: lengths %d/%d do not fit" % (len(entries), total, shared))
        end = at + 2 + total - shared + 8
        if end > len(directory):
            raise PackError("entry %d runs past the directory" % len(entries))
        name = previous[:shared] + directory[at + 2:at + 2 + total - shared]
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
    for i, entry in enumerate(entries):
        entry.append(struct.unpack_from("<I", pack, table_at + 4 * i)[0])
    return [tuple(e) for e in entries]

