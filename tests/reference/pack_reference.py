#!/usr/bin/env python3
"""Independent reader and writer of pack files, for cross-checks against the C++ toolkit.

A pack is a 40-byte header (magic "KVLSYS PackFile\\n\\x1a" and a NUL, zeros up to byte 32, the
member count and the directory size as 32-bit little-endian numbers), the front-coded directory
(per member: name length, bytes shared with the previous name, the rest of the name, data offset,
data size), one CRC-32 per member, then the members' data in directory order.

Usage:
  pack_reference.py list PACK              one line per member: offset size crc32 name
  pack_reference.py extract PACK FOLDER    writes every member below FOLDER
  pack_reference.py write FOLDER PACK      packs every file below FOLDER
  pack_reference.py verify PACK            checks directory, ranges and CRCs; exit 1 when bad
  pack_reference.py selftest               checks this script against known bytes and itself
Only the standard library is used.
"""

import binascii
import os
import struct
import sys
import tempfile

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
    for i, name in enumerate(names):
        problem = check_name(name)
        if problem:
            raise PackError("member %r: %s" % (name, problem))
        if i and names[i - 1] == name:
            raise PackError("member %r appears twice" % name)
    name_set = set(names)
    for name in names:
        parts = name.split(b"\\")
        for k in range(1, len(parts)):
            if b"\\".join(parts[:k]) in name_set:
                raise PackError("member %r is also a directory" % b"\\".join(parts[:k]))
    directory_size = 0
    previous = b""
    for name in names:
        directory_size += 2 + len(name) - shared_length(previous, name) + 8
        previous = name
    offset = HEADER_SIZE + directory_size + 4 * len(members)
    if offset + sum(len(d) for _, d in members) > 0xFFFFFFFF:
        raise PackError("the pack would reach 4 GiB")
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


def verify_pack(pack):
    entries = read_pack(pack)
    previous_end = HEADER_SIZE + struct.unpack_from("<I", pack, 36)[0] + 4 * len(entries)
    for name, offset, size, crc in entries:
        if offset < previous_end:
            raise PackError("member %r begins inside earlier data" % name)
        if offset + size > len(pack):
            raise PackError("member %r runs past the end of the pack" % name)
        if binascii.crc32(pack[offset:offset + size]) & 0xFFFFFFFF != crc:
            raise PackError("member %r: CRC-32 mismatch" % name)
        previous_end = offset + size
    return entries


def pack_folder(folder):
    members = []
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for f in sorted(files):
            path = os.path.join(root, f)
            relative = os.path.relpath(path, folder).replace(os.sep, "\\")
            with open(path, "rb") as handle:
                members.append((os.fsencode(relative), handle.read()))
    return build_pack(members)


def extract(pack, folder):
    for name, offset, size, _ in verify_pack(pack):
        parts = [os.fsdecode(p) for p in name.split(b"\\")]
        target = os.path.join(folder, *parts)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as handle:
            handle.write(pack[offset:offset + size])


def selftest():
    # The documented entry: A\B.TXT at offset 385 with 16 bytes.
    entry = encode_entry(b"A\\B.TXT", b"", 385, 16)
    assert entry == bytes.fromhex("07 00 41 5C 42 2E 54 58 54 81 01 00 00 10 00 00 00"), entry.hex()
    assert encode_entry(b"A\\C.TXT", b"A\\B.TXT", 0, 0)[:7] == b"\x07\x02C.TXT"
    assert binascii.crc32(b"123456789") == 0xCBF43926
    with tempfile.TemporaryDirectory() as temp:
        source = os.path.join(temp, "in")
        tree = {"Patch.ini": b"[str]\n", "Files/a.txt": b"alpha", "Files/Sub/b.bin": bytes(range(256)),
                "Files/empty": b"", "Files/Sub!.txt": b"!"}
        for relative, data in tree.items():
            path = os.path.join(source, *relative.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as handle:
                handle.write(data)
        pack = pack_folder(source)
        names = [e[0] for e in verify_pack(pack)]
        assert names == sorted(normalize(n.encode()) for n in tree), names
        out = os.path.join(temp, "out")
        extract(pack, out)
        for relative, data in tree.items():
            with open(os.path.join(out, *normalize(relative.encode()).decode().split("\\")), "rb") as h:
                assert h.read() == data, relative
        damaged = bytearray(pack)
        damaged[-1] ^= 1
        try:
            verify_pack(bytes(damaged))
            raise AssertionError("a damaged member passed")
        except PackError:
            pass
        for bad in ([(b"A", b""), (b"a", b"")], [(b"A", b""), (b"A\\B", b"")], [(b"..\\X", b"")]):
            try:
                build_pack(bad)
                raise AssertionError("refused names were packed: %r" % bad)
            except PackError:
                pass
    print("pack_reference selftest: ok")


def main(argv):
    if len(argv) == 2 and argv[1] == "selftest":
        selftest()
        return 0
    try:
        if len(argv) == 3 and argv[1] == "list":
            with open(argv[2], "rb") as handle:
                for name, offset, size, crc in read_pack(handle.read()):
                    sys.stdout.buffer.write(b"%d %d %08X %s\n" % (offset, size, crc, name))
            return 0
        if len(argv) == 3 and argv[1] == "verify":
            with open(argv[2], "rb") as handle:
                verify_pack(handle.read())
            print("ok")
            return 0
        if len(argv) == 4 and argv[1] == "extract":
            with open(argv[2], "rb") as handle:
                extract(handle.read(), argv[3])
            return 0
        if len(argv) == 4 and argv[1] == "write":
            pack = pack_folder(argv[2])
            with open(argv[3], "wb") as handle:
                handle.write(pack)
            return 0
    except PackError as error:
        print("error: %s" % error, file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
