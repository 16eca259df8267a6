#!/usr/bin/env python3
"""End-to-end tests of the vornpatch command-line tool.

Runs the tool (natively, or a Windows build through a runner such as scripts/wine-run.sh) on
trees and files made here, and checks its results byte for byte, its exit codes and its
messages. Groups are selected with --group; each ctest entry runs one group.
"""

import argparse
import binascii
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import traceback

OK, FAILURE, USAGE = 0, 1, 2
SKIPPED = 77  # the exit code ctest counts as a skip
PATCH_BLOCK_SIZE = 32768
SEAL_SIZE = 24  # the seal record between the stub and the container
VALID_METHODS = [b * 16 + l for b in (10, 11, 12) for l in range(1, 6)]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Tool:
    def __init__(self, path, runner):
        self.command = ([runner] if runner else []) + [path]

    def run(self, *args, env=None, stdin=None, timeout=600):
        merged = dict(os.environ)
        merged.update(env or {})
        merged = {k: v for k, v in merged.items() if v is not None}  # None unsets
        result = subprocess.run(self.command + [str(a) for a in args], capture_output=True,
                                env=merged, stdin=stdin, timeout=timeout)
        return result.returncode, result.stdout.decode("latin-1"), result.stderr.decode("latin-1")

    def ok(self, *args):
        code, out, err = self.run(*args)
        check(code == OK, "vornpatch %s: exit %d, expected 0\n%s%s" % (" ".join(map(str, args)), code, out, err))
        return out, err

    def fails(self, expected, *args):
        code, out, err = self.run(*args)
        check(code == expected, "vornpatch %s: exit %d, expected %d\n%s%s"
              % (" ".join(map(str, args)), code, expected, out, err))
        return err


# ---------------------------------------------------------------------------------------------
# Source trees.

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


# Every key that build requires, as the patcher looks them up.
PATCH_INI = b"[str]\r\nver=10001\r\nlang=English\r\n" + b"".join(
    b"%s=text of %s\r\n" % (k, k) for k in b"title welcome vornrun notvorn noneed wronglang copy "
                                         b"errcopy errnotcomplete done".split())


def make_tree(root, odd_names, reverse=False, seed=7):
    """A patch source: Patch.ini and a Files tree with nested folders, empty files, odd names and
    binary data around the block size. Returns {relative path: bytes} of Files."""
    rng = random.Random(seed)
    files = {
        "readme.txt": b"Vorn patch test\r\n" * 50,
        "empty.dat": b"",
        "data/zeros.bin": bytes(70000),
        "data/random.bin": bytes(rng.getrandbits(8) for _ in range(100003)),
        "data/exact_block.bin": bytes(rng.getrandbits(8) for _ in range(PATCH_BLOCK_SIZE)),
        "data/block_plus_one.bin": (b"abcabcabd" * 4000)[:PATCH_BLOCK_SIZE + 1],
        "data/deep/er/still/empty_too.txt": b"",
        "data/deep/er/still/tiny": b"x",
        "maps/Level 01 (final).map": bytes(range(256)) * 300,
        "maps/mixed.Case_name-1+2=3.txt": b"case",
        "maps/A_B.txt": b"underscore sorts after the separator",
        "maps/A.txt": b"dot sorts before the separator",
        "maps/A/inner.txt": b"a folder whose name is a prefix of files beside it",
    }
    if odd_names:
        files.update({
            "odd/sp ace & amp;semi,comma'quote.txt": b"odd",
            "odd/tilde~hash#percent%at@.bin": bytes([0xFF, 0x00, 0x80]) * 7,
            "odd/[brackets]{braces}.dat": b"[]{}",
        })
    items = sorted(files.items(), reverse=reverse)
    for name, data in items:
        write(os.path.join(root, "Files", *name.split("/")), data)
    os.makedirs(os.path.join(root, "Files", "empty_folder"), exist_ok=True)
    write(os.path.join(root, "Patch.ini"), PATCH_INI)
    return files


def host_name(name):
    """The file name the tool sees for a test name: UTF-8 bytes on POSIX."""
    return name.encode("utf-8").decode("latin-1")


def expected_members(files, prefix):
    """{member name: bytes} as the pack stores them: upper-cased ASCII, '\\' separators."""
    members = {}
    for name, data in files.items():
        raw = name.encode("utf-8")
        upper = bytes(c - 32 if 0x61 <= c <= 0x7A else c for c in raw).replace(b"/", b"\\")
        members[prefix + upper.decode("latin-1")] = data
    return members


def read_tree(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, root).replace(os.sep, "\\")
            with open(path, "rb") as f:
                found[os.fsencode(rel).decode("latin-1")] = f.read()
    return found


def listed(tool, target):
    out, _ = tool.ok("list", target)
    lines = out.splitlines()
    check(lines and "files," in lines[-1], "list ends without its total line: %r" % lines[-1:])
    entries = {}
    for line in lines[:-1]:
        size, name = line.split(None, 1)
        entries[name] = int(size)
    return entries


def make_stub(path, size=20000):
    data = bytearray(b"MZ" + bytes(size - 2))
    # The four letters alone, as a patcher's own code holds them: never a payload.
    data[1000:1004] = b"LZSS"
    write(path, bytes(data))


def payload_table(patch_bytes, offset):
    """Block table of the container at offset: (block size, method, [entries..., end])."""
    magic, length, block_size, method = struct.unpack_from("<4sIIB", patch_bytes, offset)
    check(magic == b"LZSS", "no container at %d" % offset)
    count = 1 if length == 0 else (length - 1) // block_size + 1
    table = list(struct.unpack_from("<%dI" % count, patch_bytes, offset + 14))
    table.append(len(patch_bytes) - offset)
    return length, block_size, method, table


# ---------------------------------------------------------------------------------------------
# Groups.

def test_roundtrip(tool, work, args):
    """build, list, verify and extract reproduce the source tree byte for byte."""
    src = os.path.join(work, "src")
    files = make_tree(src, odd_names=not args.runner)
    stub = os.path.join(work, "stub.exe")
    make_stub(stub)
    patch = os.path.join(work, "patch.exe")
    _, err = tool.ok("build", src, "-o", patch, "--stub", stub)
    check("empty_folder" in err, "the empty folder is not reported: %r" % err)
    check(not os.path.exists(patch + ".partial"), "temporary file left behind")
    with open(patch, "rb") as f:
        built = f.read()
    with open(stub, "rb") as f:
        check(built.startswith(f.read()), "the patch does not begin with the stub")

    members = expected_members(files, "FILES\\")
    members["PATCH.INI"] = open(os.path.join(src, "Patch.ini"), "rb").read()
    entries = listed(tool, patch)
    check(entries == {n: len(d) for n, d in members.items()},
          "list differs:\n%r\n%r" % (sorted(entries.items()), sorted(members.items())))
    out, _ = tool.ok("list", "-n", patch)
    names = out.splitlines()
    check(names == sorted(names, key=lambda n: n.encode("latin-1")), "list is not in directory order")

    out, _ = tool.ok("verify", patch)
    check("OK" in out and "patch executable" in out, "verify says: %r" % out)

    dest = os.path.join(work, "out")
    tool.ok("extract", patch, "-C", dest)
    check(read_tree(dest) == members, "extracted tree differs from the source")

    # The same tree as a bare pack and as a container holding it.
    pak = os.path.join(work, "files.pak")
    tool.ok("pack", os.path.join(src, "Files"), "-o", pak)
    check(listed(tool, pak) == {n: len(d) for n, d in expected_members(files, "").items()},
          "pack lists differently")
    tool.ok("verify", pak)
    lz = os.path.join(work, "files.lz")
    tool.ok("lzss", "compress", pak, lz, "--block-size", "4096", "--method", "0xB3")
    out, _ = tool.ok("verify", lz)
    check("LZSS container" in out and "0xB3" in out, "verify of the container says: %r" % out)
    dest2 = os.path.join(work, "out2")
    tool.ok("extract", lz, "-C", dest2)
    check(read_tree(dest2) == expected_members(files, ""), "container extract differs")
    back = os.path.join(work, "back.pak")
    tool.ok("lzss", "decompress", lz, back)
    check(open(back, "rb").read() == open(pak, "rb").read(), "decompress does not give the pack back")


def test_reproducible(tool, work, args):
    """Same inputs give byte-identical output, whatever order the folders list their files in."""
    stub = os.path.join(work, "stub.exe")
    make_stub(stub)
    outputs = []
    for i, reverse in enumerate((False, False, True)):
        src = os.path.join(work, "src%d" % i)
        make_tree(src, odd_names=not args.runner, reverse=reverse)
        out = os.path.join(work, "p%d.exe" % i)
        tool.ok("build", src, "-o", out, "--stub", stub, "--method", "0xA2")
        outputs.append(open(out, "rb").read())
    check(outputs[0] == outputs[1], "two builds of one tree differ")
    check(outputs[0] == outputs[2], "a tree written in another order builds differently")
    packs = []
    for i in range(2):
        out = os.path.join(work, "f%d.pak" % i)
        tool.ok("pack", os.path.join(work, "src%d" % (2 * i), "Files"), "-o", out)
        packs.append(open(out, "rb").read())
    check(packs[0] == packs[1], "two packs of one tree differ")


def test_usage(tool, work, args):
    """Wrong usage exits 2 with a hint; --help and --version exit 0."""
    src = os.path.join(work, "src")
    make_tree(src, odd_names=False)
    some = os.path.join(src, "Patch.ini")
    for bad in ([], ["frobnicate"], ["list"], ["list", "a", "b"], ["list", "--bogus", some],
                ["pack", src], ["pack", src, "-o"], ["build", src],
                ["build", src, "-o", "x.exe", "--method", "0xC6"],
                ["build", src, "-o", "x.exe", "--method", "0x91"],
                ["build", src, "-o", "x.exe", "--method", "fast"],
                ["lzss", "squash", some, "x"], ["lzss", "compress", some],
                ["lzss", "compress", some, "x", "--block-size", "0"],
                ["lzss", "decompress", some, "x", "--method", "0xC4"],
                ["extract", some], ["verify", "-q=1", some]):
        err = tool.fails(USAGE, *bad)
        check(err.strip(), "usage error without a message: %r" % bad)
    check(not os.path.exists("x.exe") and not os.path.exists("x"), "a usage error wrote a file")
    out, _ = tool.ok("--help")
    commands = ["build", "extract", "list", "lzss", "pack", "verify"]
    for command in commands:
        check(command in out, "top-level help lacks %s" % command)
        text, _ = tool.ok(command, "--help")
        check(text.startswith("Usage: vornpatch " + command), "%s --help: %r" % (command, text[:60]))
    out, _ = tool.ok("--version")
    check(out.startswith("vornpatch "), "--version: %r" % out)


def build_sample(tool, work, method="0xC4"):
    src = os.path.join(work, "src")
    files = make_tree(src, odd_names=False)
    stub = os.path.join(work, "stub.exe")
    make_stub(stub)
    patch = os.path.join(work, "patch.exe")
    tool.ok("build", src, "-o", patch, "--stub", stub, "--method", method)
    return src, files, stub, patch


def test_corruption(tool, work, args):
    """Damaged patches and packs make verify exit 1 naming the fault."""
    _, files, stub, patch = build_sample(tool, work)
    built = open(patch, "rb").read()
    offset = os.path.getsize(stub) + SEAL_SIZE
    length, block_size, method, table = payload_table(built, offset)

    def damaged(name, data):
        path = os.path.join(work, name)
        write(path, data)
        return tool.fails(FAILURE, "verify", path)

    coded = [i for i in range(len(table) - 1)
             if 0 < table[i + 1] - table[i] < min(block_size, length - i * block_size)]
    check(len(coded) >= 3, "the sample has too few coded blocks: %r" % coded)
    for i in coded[1:3]:
        data = bytearray(built)
        data[offset + (table[i] + table[i + 1]) // 2] ^= 0x5A
        err = damaged("flip%d.exe" % i, bytes(data))
        check("block %d" % i in err or "CRC" in err, "a flipped byte in block %d is reported as %r" % (i, err))

    err = damaged("cut.exe", built[:offset + table[len(table) // 2]])
    check("cut short" in err, "truncation is reported as %r" % err)

    # Cuts anywhere, and bytes that no block check reads: the seal catches them.
    def flipped(at):
        return built[:at] + bytes([built[at] ^ 1]) + built[at + 1:]
    raw = [i for i in range(len(table) - 1)
           if table[i + 1] - table[i] == min(block_size, length - i * block_size)]
    for name, data in (("record-cut", built[:offset - 14]), ("last-cut", built[:offset + table[-2]]),
                       ("short", built[:-1]), ("record", flipped(offset - 9)),
                       ("spare", flipped(offset + 13)), ("raw", flipped(offset + table[raw[0]] + 9))):
        damaged(name + ".exe", data)

    data = bytearray(built)
    struct.pack_into("<I", data, offset + 14 + 4 * 2, table[1] - 1)
    err = damaged("table.exe", bytes(data))
    check("entry 1" in err, "a decreasing block table is reported as %r" % err)

    # A pack with one wrong CRC and one with a changed member byte.
    pak = os.path.join(work, "f.pak")
    tool.ok("pack", os.path.join(work, "src", "Files"), "-o", pak)
    good = open(pak, "rb").read()
    directory_size = struct.unpack_from("<I", good, 36)[0]
    data = bytearray(good)
    data[40 + directory_size] ^= 1
    err = damaged("crc.pak", bytes(data))
    check("CRC" in err or "crc" in err, "a bad CRC is reported as %r" % err)
    data = bytearray(good)
    data[-1] ^= 0xFF
    err = damaged("member.pak", bytes(data))
    check("CRC" in err or "crc" in err, "a changed member byte is reported as %r" % err)

    # Not a target at all, and a patch executable without a payload.
    err = damaged("plain.txt", b"just some text\n" * 100)
    check("not a" in err, "an unknown file is reported as %r" % err)
    err = damaged("stub_only.exe", open(stub, "rb").read())
    check("payload" in err, "a stub without payload is reported as %r" % err)


def test_build_refusals(tool, work, args):
    """build never overwrites its inputs and leaves no file behind when it fails."""
    src, _, stub, patch = build_sample(tool, work)
    stub_bytes = open(stub, "rb").read()
    err = tool.fails(FAILURE, "build", src, "-o", stub, "--stub", stub)
    check("stub" in err and open(stub, "rb").read() == stub_bytes, "build overwrote its stub: %r" % err)
    ini = os.path.join(src, "Patch.ini")
    ini_bytes = open(ini, "rb").read()
    err = tool.fails(FAILURE, "build", src, "-o", ini, "--stub", stub)
    check("refusing" in err and open(ini, "rb").read() == ini_bytes, "build overwrote Patch.ini: %r" % err)
    member = os.path.join(src, "Files", "readme.txt")
    member_bytes = open(member, "rb").read()
    tool.fails(FAILURE, "build", src, "-o", member, "--stub", stub)
    check(open(member, "rb").read() == member_bytes, "build overwrote a source file")

    os.remove(ini)
    out = os.path.join(work, "never.exe")
    err = tool.fails(FAILURE, "build", src, "-o", out, "--stub", stub)
    check("Patch.ini" in err, "a missing Patch.ini is reported as %r" % err)
    check(not os.path.exists(out) and not os.path.exists(out + ".partial"), "a failed build left a file")
    write(ini, ini_bytes)

    # A built patch used as stub would hide the new payload behind the old one.
    err = tool.fails(FAILURE, "build", src, "-o", out, "--stub", patch)
    check("seal record in front of a container" in err, "a stub holding a payload is reported as %r" % err)
    err = tool.fails(FAILURE, "build", src, "-o", out, "--stub", os.path.join(work, "missing.exe"))
    check("missing.exe" in err, "a missing stub is reported as %r" % err)

    # Names that differ only in letter case would become one member.
    write(os.path.join(src, "Files", "README.TXT"), b"other")
    err = tool.fails(FAILURE, "build", src, "-o", out, "--stub", stub)
    check("README.TXT" in err and "case" in err, "a case clash is reported as %r" % err)
    os.remove(os.path.join(src, "Files", "README.TXT"))
    check(not os.path.exists(out), "a failed build left its output")

    # The patcher's temporaries end so; a member of that name would be taken for one.
    write(os.path.join(src, "Files", "readme.txt.VP~"), b"x")
    err = tool.fails(FAILURE, "build", src, "-o", out, "--stub", stub)
    check("readme.txt.VP~" in err and ".vp~" in err, "a .vp~ member is reported as %r" % err)
    os.remove(os.path.join(src, "Files", "readme.txt.VP~"))


def sparse(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.truncate(size)


def test_limits(tool, work, args):
    """Files, packs and patches beyond the formats' 32-bit positions (4 GiB and more) are refused
    before any data is read, and so are targets of that size. Sparse files: no disk space used."""
    big = os.path.join(work, "big.bin")
    sparse(big, 1 << 32)
    for command in (["lzss", "compress", big, os.path.join(work, "big.lz")], ["list", big]):
        err = tool.fails(FAILURE, *command)
        check("%d bytes" % (1 << 32) in err and "4 GiB" in err, "%s: a 4 GiB file is reported as %r"
              % (command[0], err))
    os.remove(big)
    check(not os.path.exists(os.path.join(work, "big.lz")), "a refused compress left its output")

    src = os.path.join(work, "src")
    make_tree(src, odd_names=False)
    stub = os.path.join(work, "stub.exe")
    make_stub(stub)
    sparse(os.path.join(src, "Files", "big.bin"), 1 << 32)
    err = tool.fails(FAILURE, "build", src, "-o", os.path.join(work, "p.exe"), "--stub", stub)
    check("big.bin" in err and "4 GiB" in err, "a 4 GiB member is reported as %r" % err)
    os.remove(os.path.join(src, "Files", "big.bin"))

    # Members that fit one by one but not together.
    for i in range(2):
        sparse(os.path.join(src, "Files", "half%d.bin" % i), 2200 << 20)
    err = tool.fails(FAILURE, "pack", os.path.join(src, "Files"), "-o", os.path.join(work, "f.pak"))
    check("pack would be too large" in err, "an oversized pack is reported as %r" % err)
    err = tool.fails(FAILURE, "build", src, "-o", os.path.join(work, "p.exe"), "--stub", stub)
    check("too large" in err, "an oversized patch is reported as %r" % err)
    for name in ("p.exe", "p.exe.partial", "f.pak", "f.pak.partial"):
        check(not os.path.exists(os.path.join(work, name)), "a refused run left %s" % name)


class Skipped(Exception):
    pass


def test_large(tool, work, args):
    """A member of 3.5 GiB, sparse but for marks at the 2 GiB edges, survives build, list, verify
    and extract: positions from 2 to 4 GiB once stopped the seek or read as position 0."""
    src = os.path.join(work, "src")
    make_tree(src, odd_names=False)
    size = 3584 << 20
    marks = (0, (1 << 31) - 1, 1 << 31, 3 << 30, size - 1)
    big = os.path.join(src, "Files", "big.bin")
    with open(big, "wb") as f:
        f.truncate(size)
        for at in marks:
            f.seek(at)
            f.write(bytes([(at >> 24) ^ 0x5A]))
    if os.stat(big).st_blocks * 512 > 1 << 30:
        raise Skipped("the file system under %s does not hold sparse files" % work)
    if shutil.disk_usage(work).free < 2 * size:
        raise Skipped("extracting needs %d free bytes under %s" % (2 * size, work))
    stub = os.path.join(work, "stub.exe")
    make_stub(stub)
    patch = os.path.join(work, "p.exe")
    tool.ok("build", src, "-o", patch, "--stub", stub)
    check(listed(tool, patch).get("FILES\\BIG.BIN") == size, "list gives another size")
    tool.ok("verify", patch)
    dest = os.path.join(work, "out")
    tool.ok("extract", patch, "-C", dest)
    back = os.path.join(dest, "FILES", "BIG.BIN")
    check(os.path.getsize(back) == size, "extracted %d bytes" % os.path.getsize(back))
    with open(back, "rb") as f:
        for at in marks:
            f.seek(at)
            check(f.read(1) == bytes([(at >> 24) ^ 0x5A]), "the byte at %d differs" % at)


def hostile_rows():
    """(what, change to a fresh source tree, build options, exit code, message fragment)."""
    def fifo(src):
        os.mkfifo(os.path.join(src, "Files", "data", "pipe"))

    def link(target, name="data/link"):
        return lambda src: os.symlink(target, os.path.join(src, "Files", *name.split("/")))

    def touch(*names):
        return lambda src: [write(os.path.join(src, "Files", n), b"x") for n in names]

    def ini(data):
        return lambda src: write(os.path.join(src, "Patch.ini"), data)

    def relink(name):
        def change(src):
            moved = os.path.join(os.path.dirname(src), "moved-" + name)
            os.rename(os.path.join(src, name), moved)
            os.symlink(moved, os.path.join(src, name))
        return change

    no_done = PATCH_INI.replace(b"done=", b"dne=")
    return [
        ("a named pipe", fifo, [], FAILURE, "named pipe"),
        ("a link to a file outside", link("/etc/hostname"), [], FAILURE, "symbolic link"),
        ("a link to a folder outside", link("/usr/share"), [], FAILURE, "symbolic link"),
        ("Patch.ini as a link", relink("Patch.ini"), [], FAILURE, "symbolic link"),
        ("Files as a link", relink("Files"), [], FAILURE, "symbolic link"),
        ("a followed link", link("/etc/hostname"), ["--follow-links"], OK, None),
        ("a followed loop", link("../..", "data/deep/up"), ["--follow-links"], FAILURE,
         "deep/up: leads back to"),
        ("a followed link to itself", link("link"), ["--follow-links"], FAILURE, "loop of links"),
        ("a followed dangling link", link("/no/such/file"), ["--follow-links"], FAILURE, "nowhere"),
        ("a backslash in a name", touch("back\\slash.txt"), [], FAILURE, "separator"),
        ("a non-ASCII name", touch("\u00dcn\u00efc\u00f6d\u00e9.txt"), [], FAILURE, "--codepage"),
        ("a name code page 1252 lacks", touch("\u65e5\u672c.dat"), ["--codepage", "1252"], FAILURE,
         "lacks"),
        ("names a Windows folder takes for one", touch("\u00e9.txt", "\u00c9.TXT"),
         ["--codepage", "1252"], FAILURE, "Windows folder"),
        ("a two-byte character with a '\\' byte", touch("\u8868.txt"), ["--codepage", "932"],
         FAILURE, "separator"),
        ("a two-byte character with a letter byte", touch("\u4e0d.txt"), ["--codepage", "932"],
         FAILURE, "upper-cases"),
        ("an unknown code page", None, ["--codepage", "99999"], USAGE, "code page"),
        ("an empty Patch.ini", ini(b""), [], FAILURE, "no section [str]"),
        ("a binary Patch.ini", ini(bytes(range(256)) * 8), [], FAILURE, "NUL bytes"),
        ("a Patch.ini with a byte-order mark", ini(b"\xef\xbb\xbf" + PATCH_INI), [], FAILURE,
         "byte-order mark"),
        ("a Patch.ini without done", ini(no_done), [], FAILURE, "looks up: done"),
        ("the same, allowed", ini(no_done), ["--allow-missing-keys"], OK, "looks up: done"),
        ("a version without digits", ini(PATCH_INI.replace(b"ver=10001", b"ver=v1.01")), [],
         FAILURE, "hexadecimal"),
    ]


def test_hostile(tool, work, args):
    """build refuses hostile and careless source trees with the path and the reason, within
    seconds, and leaves no output behind."""
    stub = os.path.join(work, "stub.exe")
    make_stub(stub)
    for i, (what, change, options, code, fragment) in enumerate(hostile_rows()):
        src = os.path.join(work, "case%d" % i, "src")
        make_tree(src, odd_names=False)
        if change:
            change(src)
        out = os.path.join(work, "case%d" % i, "p.exe")
        got, _, err = tool.run("build", src, "-o", out, "--stub", stub, *options, timeout=60)
        check(got == code, "%s: exit %d, expected %d\n%s" % (what, got, code, err))
        check(fragment is None or fragment in err, "%s is reported as %r" % (what, err))
        check(os.path.exists(out) == (code == OK) and not os.path.exists(out + ".partial"),
              "%s: the output is %s" % (what, "missing" if code == OK else "left behind"))
    # A pipe opened without waiting for a writer once compressed as an empty file.
    os.mkfifo(os.path.join(work, "pipe"))
    out = os.path.join(work, "pipe.lz")
    err = tool.fails(FAILURE, "lzss", "compress", os.path.join(work, "pipe"), out)
    check("named pipe" in err and not os.path.exists(out), "a pipe is compressed: %r" % err)


def test_codepage(tool, work, args):
    """Names converted into a code page by build come back through list and extract with the
    same code page, and as the code page's bytes without it."""
    stub = os.path.join(work, "stub.exe")
    make_stub(stub)
    for page, name, shown in ((1252, "Dossier \u00e9t\u00e9/\u00dcn\u00efc\u00f6d\u00e9.txt",
                               "DOSSIER \u00e9T\u00e9\\\u00dcN\u00efC\u00f6D\u00e9.TXT"),
                              (932, "\u65e5\u672c/\u8aac\u660e.dat", "\u65e5\u672c\\\u8aac\u660e.DAT")):
        src = os.path.join(work, "src%d" % page)
        make_tree(src, odd_names=False)
        write(os.path.join(src, "Files", *name.split("/")), b"converted")
        patch = os.path.join(work, "p%d.exe" % page)
        tool.ok("build", src, "-o", patch, "--stub", stub, "--codepage", page)
        out, _ = tool.ok("list", "-n", "--codepage", page, patch)
        check(host_name("FILES\\" + shown) in out.splitlines(), "%d: list shows %r" % (page, out))
        out, _ = tool.ok("list", "-n", patch)
        stored = "FILES\\" + shown.encode("cp%d" % page).decode("latin-1")
        check(stored in out.splitlines(), "%d: list without the code page shows %r" % (page, out))
        if page == 932:  # its byte 0x90 is no character in 1252: the row once came out empty
            out, _ = tool.ok("list", "-n", "--codepage", 1252, patch)
            check(stored in out.splitlines(), "a name 1252 cannot read is listed as %r" % out)
        dest = os.path.join(work, "out%d" % page)
        tool.ok("extract", "--codepage", page, patch, "-C", dest)
        with open(os.path.join(dest, "FILES", *shown.split("\\")), "rb") as f:
            check(f.read() == b"converted", "%d: the extracted file differs" % page)


def test_progress(tool, work, args):
    """The progress bar appears on a terminal and never in redirected output."""
    src = os.path.join(work, "src")
    make_tree(src, odd_names=False)
    pak = os.path.join(work, "f.pak")
    _, err = tool.ok("pack", os.path.join(src, "Files"), "-o", pak)
    check("\r" not in err and "[" not in err, "progress drawn into a pipe: %r" % err)
    import pty
    pid, fd = pty.fork()
    if pid == 0:
        os.environ["VORNPATCH_PROGRESS_DELAY_MS"] = "0"
        os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
        os.execv(tool.command[0], tool.command + ["pack", os.path.join(src, "Files"), "-o", pak])
    seen = b""
    while True:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    _, status = os.waitpid(pid, 0)
    check(os.WEXITSTATUS(status) == 0, "pack on a terminal failed: %r" % seen)
    check(b"packing [" in seen and b"%" in seen, "no progress bar on a terminal: %r" % seen)


def test_smoke(tool, work, args):
    """A short run for slow runners (Wine): build, list, verify, extract, and one failure of each
    kind."""
    src, files, stub, patch = build_sample(tool, work)
    members = expected_members(files, "FILES\\")
    members["PATCH.INI"] = open(os.path.join(src, "Patch.ini"), "rb").read()
    check(listed(tool, patch) == {n: len(d) for n, d in members.items()}, "list differs")
    out, _ = tool.ok("verify", patch)
    check("OK" in out, "verify says: %r" % out)
    dest = os.path.join(work, "out")
    tool.ok("extract", patch, "-C", dest)
    check(read_tree(dest) == members, "extracted tree differs from the source")
    tool.fails(USAGE, "build", src, "-o", "x.exe", "--method", "0xC6")
    # The patcher itself, where the build placed it beside the tool as the default stub.
    beside = os.path.join(os.path.dirname(args.tool), "vornpatch-stub.exe")
    if os.path.exists(beside):
        real = os.path.join(work, "real.exe")
        tool.ok("build", src, "-o", real)
        out, _ = tool.ok("verify", real)
        check("payload at offset %d" % (os.path.getsize(beside) + SEAL_SIZE) in out,
              "the payload is not found right behind the patcher: %r" % out)
    built = open(patch, "rb").read()
    cut = os.path.join(work, "cut.exe")
    write(cut, built[:len(built) // 2])
    err = tool.fails(FAILURE, "verify", cut)
    check("cut short" in err, "truncation is reported as %r" % err)


def test_stubs(tool, work, args):
    """Where build takes its stub from when --stub is not given: VORNPATCH_STUB, beside the tool,
    ../share/vornpatch from the tool's folder, and the configured patcher for the tool in its
    build folder. A stub the user names is never replaced by another one."""
    src = os.path.join(work, "src")
    files = make_tree(src, odd_names=False)
    stubs = {"option": os.path.join(work, "option.exe"), "env": os.path.join(work, "env.exe"),
             "beside": os.path.join(work, "bin", "vornpatch-stub.exe"),
             "share": os.path.join(work, "share", "vornpatch", "vornpatch-stub.exe")}
    missing = os.path.join(work, "missing.exe")
    copy = os.path.join(work, "bin", "vornpatch")
    os.makedirs(os.path.dirname(copy))
    shutil.copy2(args.tool, copy)
    # present stubs, --stub, VORNPATCH_STUB, the stub used or the text of the failure
    cases = [
        ({"option", "env", "beside", "share"}, stubs["option"], stubs["env"], "option"),
        ({"env", "beside", "share"}, None, stubs["env"], "env"),
        ({"beside", "share"}, None, None, "beside"),
        ({"share"}, None, "", "share"),
        ({"beside", "share"}, None, missing, "missing.exe"),
        ({"beside"}, missing, None, "missing.exe"),
        (set(), None, None, stubs["share"]),
    ]
    for present, option, env, expected in cases:
        for i, (name, path) in enumerate(sorted(stubs.items())):
            if os.path.exists(path):
                os.remove(path)
            if name in present:
                make_stub(path, size=20000 + 512 * i)
        patch = os.path.join(work, "patch.exe")
        extra = ["--stub", option] if option else []
        code, out, err = Tool(copy, "").run("build", src, "-o", patch, "-q", *extra,
                                            env={"VORNPATCH_STUB": env})
        case = "stubs %s, --stub %s, VORNPATCH_STUB %r" % (sorted(present), option, env)
        if expected in stubs:
            check(code == OK and not out, "%s: exit %d, output %r%s" % (case, code, out, err))
            with open(patch, "rb") as f, open(stubs[expected], "rb") as stub:
                check(f.read().startswith(stub.read()), "%s: the patch does not begin with "
                      "the %s stub" % (case, expected))
            os.remove(patch)
        else:
            check(code == FAILURE and expected in err, "%s: exit %d, says %r" % (case, code, err))
            check(not os.path.exists(patch), "%s: a failed build left its output" % case)

    # The summary for pipelines: valid JSON whatever bytes the output's name holds, and the
    # figures of the files written.
    make_stub(stubs["option"])
    odd = os.path.join(work, os.fsdecode(b'pa"tch\xff\x01.exe'))
    out, _ = tool.ok("build", src, "-o", odd, "--stub", stubs["option"], "--json")
    summary = json.loads(out)
    figures = {"output": os.fsencode(odd).decode("latin-1"), "members": len(files) + 1,
               "stub_bytes": os.path.getsize(stubs["option"]), "patch_bytes": os.path.getsize(odd)}
    check(all(summary[k] == v for k, v in figures.items()) and
          summary["payload_bytes"] == summary["patch_bytes"] - summary["stub_bytes"],
          "the summary %r does not match %r" % (summary, figures))

    # The tool in its build folder falls back to the configured patcher.
    if not args.tree_stub:
        return
    code, out, err = tool.run("build", src, "-o", patch, "--json", env={"VORNPATCH_STUB": None})
    if os.path.exists(args.tree_stub):
        check(code == OK and json.loads(out)["stub"] == args.tree_stub,
              "the configured patcher is not used: exit %d, %r%s" % (code, out, err))
    else:
        check(code == FAILURE and args.tree_stub in err,
              "the configured patcher is not among the places looked at: %r" % err)


def load_reference(args, name):
    sys.path.insert(0, args.reference)
    try:
        return __import__(name)
    finally:
        sys.path.pop(0)


def reference_sample(seed):
    """Data that exercises literals, short and long matches and incompressible stretches."""
    rng = random.Random(seed)
    text = b"".join(rng.choice([b"vorn ", b"patch ", b"level ", b"\r\n", b"aaaaaaaaaaaaaaaa"])
                    for _ in range(1500))
    return text[:6000] + bytes(rng.getrandbits(8) for _ in range(3000)) + bytes(2000) + text[6000:9000]


def test_reference(tool, work, args):
    """The tool and the independent Python codecs read each other's containers and packs."""
    lzss = load_reference(args, "lzss_reference")
    data = reference_sample(11)
    source = os.path.join(work, "sample.bin")
    write(source, data)
    for method in VALID_METHODS:
        ours = os.path.join(work, "ours_%02X.lz" % method)
        tool.ok("lzss", "compress", source, ours, "--method", "0x%02X" % method, "--block-size", "4096")
        coded = open(ours, "rb").read()
        check(coded[12] == method, "method byte 0x%02X stored as 0x%02X" % (method, coded[12]))
        check(lzss.decode_container(coded) == data, "method 0x%02X: the reference decodes "
              "the tool's container differently" % method)
        theirs = os.path.join(work, "theirs_%02X.lz" % method)
        write(theirs, lzss.encode_container(data, block_size=4096, method=method, spare=0x61))
        back = os.path.join(work, "back_%02X.bin" % method)
        tool.ok("lzss", "decompress", theirs, back)
        check(open(back, "rb").read() == data, "method 0x%02X: the tool decodes the reference's "
              "container differently" % method)
        out, _ = tool.ok("verify", theirs)
        check("not a pack" in out, "verify of a container of plain data says %r" % out)

    # A pack inside a reference container, and the tool's pack inside one.
    src = os.path.join(work, "src")
    files = make_tree(src, odd_names=False)
    pak = os.path.join(work, "f.pak")
    tool.ok("pack", os.path.join(src, "Files"), "-o", pak)
    wrapped = os.path.join(work, "f.lz")
    write(wrapped, lzss.encode_container(open(pak, "rb").read(), method=0xC4))
    tool.ok("verify", wrapped)
    dest = os.path.join(work, "out")
    tool.ok("extract", wrapped, "-C", dest)
    check(read_tree(dest) == expected_members(files, ""), "a reference container's pack extracts differently")

    # Packs: the reference reads the tool's, the tool reads the reference's.
    pack_ref = load_reference(args, "pack_reference")
    entries = pack_ref.verify_pack(open(pak, "rb").read())
    check({n.decode("latin-1"): size for n, _, size, _ in entries} == listed(tool, pak),
          "the reference lists the tool's pack differently")
    theirs = os.path.join(work, "theirs.pak")
    write(theirs, pack_ref.build_pack([(n.encode("utf-8"), d) for n, d in files.items()]))
    tool.ok("verify", theirs)
    dest = os.path.join(work, "out_theirs")
    tool.ok("extract", theirs, "-C", dest)
    check(read_tree(dest) == expected_members(files, ""), "the reference's pack extracts differently")
    check(open(theirs, "rb").read() == open(pak, "rb").read(),
          "the tool and the reference pack one tree into different bytes")


def crafted_pack(pack_ref, members, count=None, cut=0, ranges=None, crcs=None):
    """A pack with directories and names the writers refuse: members [(name, data)] in the given
    order, front-coded against the previous name (a duplicate keeps its last byte). ranges
    [(offset, size)] and crcs replace the laid-out ones; count replaces the header's; the
    directory loses its last `cut` bytes."""
    heads, previous = [], b""
    for name, _ in members:
        shared = min(pack_ref.shared_length(previous, name), len(name) - 1)
        heads.append(bytes([len(name), shared]) + name[shared:])
        previous = name
    offset = pack_ref.HEADER_SIZE + sum(len(h) + 8 for h in heads) - cut + 4 * len(members)
    laid = []
    for _, data in members:
        laid.append((offset, len(data)))
        offset += len(data)
    directory = b"".join(h + struct.pack("<II", *r) for h, r in zip(heads, ranges or laid))
    directory = directory[:len(directory) - cut]
    header = pack_ref.MAGIC + bytes(32 - len(pack_ref.MAGIC))
    header += struct.pack("<II", len(members) if count is None else count, len(directory))
    table = crcs or [binascii.crc32(d) & 0xFFFFFFFF for _, d in members]
    return header + directory + struct.pack("<%dI" % len(table), *table) + b"".join(d for _, d in members)


def raw_container(blocks, length, block_size):
    """A container of blocks stored raw (bytes) or empty (None: reads as zeros)."""
    table, position = [], 14 + 4 * len(blocks)
    for block in blocks:
        table.append(position)
        position += len(block or b"")
    return (b"LZSS" + struct.pack("<II", length, block_size) + bytes([0xC4, 0]) +
            struct.pack("<%dI" % len(blocks), *table) + b"".join(b or b"" for b in blocks))


def zero_bomb(pack_ref, length, right_crc):
    """One member of `length` - 100 zero bytes in a container of empty 32 KiB blocks."""
    size = length - 100
    crc = binascii.crc32(bytes(size)) & 0xFFFFFFFF if right_crc else 0
    head = crafted_pack(pack_ref, [(b"BOMB.DAT", b"")], ranges=[(100, size)], crcs=[crc])
    count = (length - 1) // 32768 + 1
    return raw_container([head.ljust(32768, b"\0")] + [None] * (count - 1), length, 32768)


def test_hostile_targets(tool, work, args):
    """Hostile and careless targets: each row is a target, the command run on it, its exit code,
    a fragment of its message, how the case folder is prepared (extract writes into case/out,
    beside case/outside) and the files there afterwards besides the target and outside/kept."""
    ref = load_reference(args, "pack_reference")
    good = (b"SAFE\\FILE.TXT", b"harmless")
    one_mib = bytes(range(256)) * 4096
    many = [(b"M%03d" % i, b"") for i in range(200)]
    tiny = raw_container([b"abc" * 20 + b"abcd"], 0xDFFFFFFF, 0xE0000000)  # 82 bytes
    # BIG.DAT runs from block 0 into block 1, which is stored with more bytes than a block.
    damaged = bytearray(raw_container([bytes(4096), bytes(5000), None], 3 * 4096, 4096))
    member = crafted_pack(ref, [(b"BIG.DAT", one_mib[:9000])])[:-5000]
    damaged[26:26 + len(member)] = member

    def link(at, to):
        return lambda case: os.symlink(os.path.join(case, to), os.path.join(case, at))

    def old_file(case):
        write(os.path.join(case, "out", "BIG.DAT"), b"old")

    rows = [
        ("doubled backslash", crafted_pack(ref, [(b"A\\\\B", b"x"), good]), "list", FAILURE,
         "doubled backslash", None, {}),
        ("leading backslash", crafted_pack(ref, [(b"\\X", b"x"), good]), "extract", FAILURE,
         "begins with a backslash", None, {}),
        ("lone backslash", crafted_pack(ref, [(b"\\", b"x")]), "list", FAILURE, "backslash", None,
         {}),
        ("huge block size", tiny, "verify", FAILURE, "block size 3758096384", None, {}),
        ("huge block size", tiny, "list", FAILURE, "block size 3758096384", None, {}),
        ("bomb, wrong CRC", zero_bomb(ref, 64 << 20, False), "extract", FAILURE, "CRC-32", None,
         {}),
        ("bomb, right CRC", zero_bomb(ref, 64 << 20, True), "extract", OK, "", None,
         {"out/BOMB.DAT": bytes((64 << 20) - 100)}),
        ("200 members on one MiB", crafted_pack(ref, many, ranges=[(len(crafted_pack(ref, many)),
                                                                    1 << 20)] * 200) + one_mib,
         "extract", FAILURE, "begin inside the previous member's", None, {}),
        ("unsorted", crafted_pack(ref, [(b"B", b"b"), (b"A", b"a")]), "list", FAILURE,
         "not after", None, {}),
        ("duplicate", crafted_pack(ref, [(b"A", b"a"), (b"A", b"a")]), "extract", FAILURE,
         "a duplicate of", None, {}),
        ("cut directory", crafted_pack(ref, [(b"A", b"a"), (b"B", b"b")], cut=3), "list",
         FAILURE, "past the end of the directory", None, {}),
        ("wrong count", crafted_pack(ref, [(b"A", b"a")], count=2), "list", FAILURE,
         "counts 2 members", None, {}),
        ("lower case", crafted_pack(ref, [(b"Lower.TXT", b"x")]), "extract", FAILURE,
         "lower-case", None, {}),
        ("file is a folder", crafted_pack(ref, [(b"A", b"x"), (b"A\\B", b"y")]), "list",
         FAILURE, "is also its directory", None, {}),
        ("escape sequence", crafted_pack(ref, [(b"\x1b[2J\xc2\x9b1M.TXT", b"x")]), "list", OK,
         "\\x1B[2J\\xC2\\x9B1M.TXT", None, {}),
        ("escape sequence", crafted_pack(ref, [(b"\x1b[2J.TXT", b"x")]), "extract", FAILURE,
         "\\x1B[2J.TXT", None, {}),
        ("read fails part-way", bytes(damaged), "extract", FAILURE, "cannot read member",
         old_file, {"out/BIG.DAT": b"old"}),
        ("folder is a link", crafted_pack(ref, [(b"LINK\\A.TXT", b"x")]), "extract", FAILURE,
         "symbolic link", link("out/LINK", "outside"), {}),
        ("file is a link", crafted_pack(ref, [(b"LINK", b"x")]), "extract", FAILURE,
         "symbolic link", link("out/LINK", "outside/kept"), {"out/LINK": b"outside"}),
        ("stale temporary is a link", crafted_pack(ref, [(b"A.TXT", b"new")]), "extract", OK, "",
         link("out/A.TXT.vp~", "outside/kept"), {"out/A.TXT": b"new"}),
    ]
    for i, bad in enumerate([b"..\\EVIL.TXT", b"A\\..\\..\\EVIL.TXT", b"C:EVIL.TXT",
                             b"A\\.\\EVIL.TXT", b"A/../../EVIL.TXT", b"A\\EV\x01IL.TXT"]):
        target = crafted_pack(ref, sorted([good, (bad, b"escaped")]))
        rows.append(("escape %d" % i, target, "extract", FAILURE, "EV", None, {}))
        rows.append(("escape %d" % i, target, "verify", FAILURE, "EV", None, {}))
    for index, (name, data, command, code, says, prepare, stays) in enumerate(rows):
        case = os.path.join(work, "case%02d" % index)
        write(os.path.join(case, "outside", "kept"), b"outside")
        os.makedirs(os.path.join(case, "out"))
        if prepare:
            prepare(case)
        write(os.path.join(case, "target"), data)
        extra = ["-C", os.path.join(case, "out")] if command == "extract" else []
        result, out, err = tool.run(command, os.path.join(case, "target"), *extra)
        where = "%s: %s exits %d saying %r" % (name, command, result, (out + err)[-300:])
        check(result == code and says in out + err and "\x1b" not in out + err, where)
        expected = dict(stays, **{"target": data, "outside/kept": b"outside"})
        found = {f.replace(os.sep, "/"): open(os.path.join(case, f), "rb").read()
                 for r, _, fs in os.walk(case) for f in
                 [os.path.relpath(os.path.join(r, n), case) for n in fs]}
        check(found == expected, "%s; afterwards: %r" % (where, sorted(found)))


def test_signed(tool, work, args):
    """Patches signed after building, the tool's and one of an independent writer's, still
    verify and extract as before, and their signature holds."""
    lzss, pack_ref = load_reference(args, "lzss_reference"), load_reference(args, "pack_reference")
    src = os.path.join(work, "src")
    files = make_tree(src, odd_names=False)
    members = expected_members(files, "FILES\\")
    members["PATCH.INI"] = open(os.path.join(src, "Patch.ini"), "rb").read()
    small = {"PATCH.INI": b"[str]\r\n", "FILES\\A.TXT": b"vorn " * 300, "FILES\\B.BIN": bytes(range(256)) * 9}
    # Real executables to sign, a PE32 and a PE32+ one.
    stubs = []
    for arch in ("i686", "x86_64"):
        stub = os.path.join(work, "stub-%s.exe" % arch)
        subprocess.run(["%s-w64-mingw32-gcc" % arch, "-x", "c", "-", "-o", stub], check=True,
                       input=b"int main(void) { return 0; }\n", capture_output=True)
        stubs.append(stub)
    patch, foreign = os.path.join(work, "patch.exe"), os.path.join(work, "foreign.exe")
    tool.ok("build", src, "-o", patch, "--stub", stubs[0])
    write(foreign, open(stubs[1], "rb").read() + lzss.encode_container(
        pack_ref.build_pack([(n.encode(), d) for n, d in small.items()])))
    key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=vornpatch test"], check=True, capture_output=True)
    for unsigned, expected in ((patch, members), (foreign, small)):
        signed = unsigned + ".signed.exe"
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", unsigned, "-out", signed],
                       check=True, capture_output=True)
        result = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed], capture_output=True)
        check(result.returncode == 0, "the signature of %s does not verify: %r" % (signed, result.stdout[-300:]))
        out, _ = tool.ok("verify", signed)
        check("signed" in out and "not part of the payload" in out, "verify of %s says %r" % (signed, out))
        dest = signed + ".out"
        tool.ok("extract", signed, "-C", dest)
        check(read_tree(dest) == expected, "%s extracts differently" % signed)


def test_coders(tool, work, args):
    """The optimal coder (default) never codes larger than --fast; --method auto picks the
    smallest method for a one-block input; every choice decompresses to the input."""
    rng = random.Random(11)
    words = [b"vorn ", b"patch ", b"the ", b"file ", b"block ", b"\r\n", b"data "]
    text = b"".join(rng.choice(words) for _ in range(9000))
    binary = bytes(rng.choice((0, 0, 0xFF, 0x8B, rng.randrange(256))) for _ in range(40000))
    for name, data in (("mixed", text + binary + text[:5000]), ("block", (text + binary)[:32768])):
        src = os.path.join(work, name + ".bin")
        write(src, data)
        sizes = {}
        for label, extra in (("default", []), ("fast", ["--fast"]), ("auto", ["--method", "auto"])):
            lz = os.path.join(work, "%s-%s.lz" % (name, label))
            tool.ok("lzss", "compress", src, lz, *extra)
            back = os.path.join(work, "%s-%s.back" % (name, label))
            tool.ok("lzss", "decompress", lz, back)
            check(open(back, "rb").read() == data, "%s %s does not decompress to the input" % (name, label))
            sizes[label] = os.path.getsize(lz)
        check(sizes["default"] <= sizes["fast"],
              "%s: the default coder gives %d bytes, --fast %d" % (name, sizes["default"], sizes["fast"]))
    fixed = []
    for method in [0xA1 + 16 * b + l for b in range(3) for l in range(5)]:
        lz = os.path.join(work, "block-%02X.lz" % method)
        tool.ok("lzss", "compress", os.path.join(work, "block.bin"), lz, "--method", "0x%02X" % method)
        fixed.append(os.path.getsize(lz))
    check(sizes["auto"] == min(fixed), "auto gives %d bytes, the best method %d" % (sizes["auto"], min(fixed)))


GROUPS = {
    "hostile_targets": test_hostile_targets,
    "reference": test_reference,
    "signed": test_signed,
    "smoke": test_smoke,
    "roundtrip": test_roundtrip,
    "reproducible": test_reproducible,
    "usage": test_usage,
    "corruption": test_corruption,
    "refusals": test_build_refusals,
    "limits": test_limits,
    "hostile": test_hostile,
    "codepage": test_codepage,
    "large": test_large,
    "progress": test_progress,
    "coders": test_coders,
    "stubs": test_stubs,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runner", default="")
    parser.add_argument("--reference", default="", help="folder of the Python reference codecs")
    parser.add_argument("--tree-stub", default="", help="the patcher the tool was configured with")
    parser.add_argument("--group", action="append", choices=sorted(GROUPS), required=True)
    args = parser.parse_args()
    tool = Tool(args.tool, args.runner)
    failures = 0
    skipped = False
    for name in args.group:
        work = tempfile.mkdtemp(prefix="vornpatch-%s-" % name)
        try:
            GROUPS[name](tool, work, args)
            print("PASS %s" % name)
        except Skipped as reason:
            print("SKIP %s: %s" % (name, reason))
            skipped = True
        except Failure as failure:
            failures += 1
            print("FAIL %s: %s" % (name, failure))
        except Exception:
            failures += 1
            print("ERROR %s:\n%s" % (name, traceback.format_exc()))
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else SKIPPED if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
