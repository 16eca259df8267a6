#!/usr/bin/env python3
"""End-to-end tests of the vornpatch command-line tool.

Runs the tool (natively, or a Windows build through a runner such as scripts/wine-run.sh) on
trees and files made here, and checks its results byte for byte, its exit codes and its
messages. A group is selected with --group; each ctest entry runs one.
"""

import argparse
import binascii
import json
import os
import random
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "reference"))
from pack_reference import build_pack, read_pack  # noqa: E402  (independent of the C++ code)

OK, FAILURE, USAGE = 0, 1, 2
METHODS = [b * 16 + l for b in (10, 11, 12) for l in range(1, 6)]
SEAL_SIZE = 24  # the seal record between the stub and the container


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Tool:
    def __init__(self, path, runner):
        self.command = ([runner] if runner else []) + [path]

    def run(self, *args, env=None, timeout=600):
        merged = {k: v for k, v in dict(os.environ, **(env or {})).items() if v is not None}
        result = subprocess.run(self.command + [str(a) for a in args], capture_output=True,
                                env=merged, timeout=timeout)
        return result.returncode, result.stdout.decode("latin-1"), result.stderr.decode("latin-1")

    def ok(self, *args):
        return self.fails(OK, "", *args)

    def fails(self, expected, fragment, *args, timeout=600):
        """Runs the tool, expecting this exit code and this fragment in its error output."""
        code, out, err = self.run(*args, timeout=timeout)
        check(code == expected and fragment in err, "vornpatch %s: exit %d, expected %d with %r\n%s%s"
              % (" ".join(map(str, args)), code, expected, fragment, out, err))
        return out, err


def write(path, data, size=None):
    """Writes data to path, its folders made; size extends it as a sparse file."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
        f.truncate(size)


def read(path):
    with open(path, "rb") as f:
        return f.read()


# Every key that build requires, as the patcher looks them up.
PATCH_INI = b"[str]\r\nver=10001\r\nlang=English\r\n" + b"".join(
    b"%s=text of %s\r\n" % (k, k) for k in b"title welcome vornrun notvorn noneed wronglang copy "
                                         b"errcopy errnotcomplete done".split())


def make_tree(root, odd_names=False, reverse=False):
    """A patch source: Patch.ini and a Files tree with nested folders, empty files, odd names and
    binary data around the block size. Returns {relative path: bytes} of Files."""
    rng = random.Random(7)
    files = {
        "readme.txt": b"Vorn patch test\r\n" * 50, "empty.dat": b"", "data/zeros.bin": bytes(70000),
        "data/random.bin": bytes(rng.getrandbits(8) for _ in range(100003)),
        "data/block_plus_one.bin": (b"abcabcabd" * 4000)[:32769], "data/deep/er/tiny": b"x",
        "maps/Level 01 (final).map": bytes(range(256)) * 300,
        "maps/A_B.txt": b"underscore sorts after the separator", "maps/A.txt": b"dot sorts before it",
        "maps/A/inner.txt": b"a folder whose name is a prefix of files beside it",
    }
    if odd_names:
        files.update({"odd/sp ace & amp;semi,comma'quote.txt": b"odd",
                      "odd/tilde~hash#percent%at@[brackets]{braces}.bin": bytes([0xFF, 0x00, 0x80]) * 7})
    for name, data in sorted(files.items(), reverse=reverse):
        write(os.path.join(root, "Files", *name.split("/")), data)
    os.makedirs(os.path.join(root, "Files", "empty_folder"), exist_ok=True)
    write(os.path.join(root, "Patch.ini"), PATCH_INI)
    return files


def members(files, prefix="FILES\\", ini=False):
    """{member name: bytes} as the pack stores them: upper-cased ASCII, '\\' separators."""
    found = {prefix + name.upper().replace("/", "\\"): data for name, data in files.items()}
    if ini:
        found["PATCH.INI"] = PATCH_INI
    return found


def read_tree(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            rel = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "\\")
            found[os.fsencode(rel).decode("latin-1")] = read(os.path.join(folder, name))
    return found


def listed(tool, target):
    lines = tool.ok("list", target)[0].splitlines()
    check(lines and "files," in lines[-1], "list ends without its total line: %r" % lines[-1:])
    # Member lines only: the lines below a coded member give its coding.
    return {line[14:]: int(line[:12]) for line in lines[:-1] if line[:12].strip().isdigit()}


def make_stub(path, size=20000):
    # The four letters alone, as a patcher's own code holds them: never a payload.
    write(path, b"MZ" + bytes(998) + b"LZSS" + bytes(size - 1004))
    return path


def sample(tool, work, odd_names=False):
    src = os.path.join(work, "src")
    files = make_tree(src, odd_names)
    stub = make_stub(os.path.join(work, "stub.exe"))
    patch = os.path.join(work, "patch.exe")
    _, err = tool.ok("build", src, "-o", patch, "--stub", stub, "--codec", "lzss")
    check("empty_folder" in err and not os.path.exists(patch + ".partial"), "build says %r" % err)
    return src, files, stub, patch


def test_roundtrip(tool, work, args):
    """build, list, verify and extract reproduce the source tree byte for byte, and pack lists it;
    one tree gives the same bytes whatever order its folders list their files in; the patcher the
    build placed beside the tool is found. Through a slow runner (Wine), the part before the pack."""
    src, files, stub, patch = sample(tool, work, odd_names=not args.runner)
    check(read(patch).startswith(read(stub)), "the patch does not begin with the stub")
    expected = members(files, ini=True)
    check(listed(tool, patch) == {n: len(d) for n, d in expected.items()}, "list differs")
    names = tool.ok("list", "-n", patch)[0].splitlines()
    check(names == sorted(names, key=lambda n: n.encode("latin-1")), "list is not in directory order")
    out, _ = tool.ok("verify", patch)
    check("OK (patch executable; payload at offset %d;" % (os.path.getsize(stub) + SEAL_SIZE) in out, out)
    tool.ok("extract", patch, "-C", os.path.join(work, "out"))
    check(read_tree(os.path.join(work, "out")) == expected, "extracted tree differs from the source")
    beside = os.path.join(os.path.dirname(args.tool), "vornpatch-stub.exe")
    if os.path.exists(beside):
        tool.ok("build", src, "-o", os.path.join(work, "real.exe"))
        out, _ = tool.ok("verify", os.path.join(work, "real.exe"))
        check("payload at offset %d" % (os.path.getsize(beside) + SEAL_SIZE) in out, out)
    if args.runner:
        return
    pak = os.path.join(work, "files.pak")
    tool.ok("pack", os.path.join(src, "Files"), "-o", pak)
    check(listed(tool, pak) == {n: len(d) for n, d in members(files, "").items()}, "pack lists differently")
    make_tree(os.path.join(work, "again"), odd_names=True, reverse=True)
    tool.ok("build", os.path.join(work, "again"), "-o", patch + "2", "--stub", stub, "--codec", "lzss")
    tool.ok("pack", os.path.join(work, "again", "Files"), "-o", pak + "2")
    check(read(patch + "2") == read(patch) and read(pak + "2") == read(pak), "builds of one tree differ")


def test_usage(tool, work, args):
    """Wrong usage exits 2 with a message and writes nothing; --help and --version exit 0."""
    src = os.path.join(work, "src")
    make_tree(src)
    some = os.path.join(src, "Patch.ini")
    for bad in ([], ["frobnicate"], ["list"], ["list", "a", "b"], ["list", "--bogus", some],
                ["pack", src, "-o"], ["build", src], ["build", src, "-o", "x.exe", "--method", "0xC6"],
                ["build", src, "-o", "x.exe", "--method", "fast"], ["lzss", "squash", some, "x"],
                ["lzss", "compress", some, "x", "--block-size", "0"],
                ["lzss", "decompress", some, "x", "--method", "0xC4"], ["extract", some],
                ["verify", "-q=1", some], ["hpfs", "create", src, "-o", "x", "--root-header", "4096"]):
        _, err = tool.fails(USAGE, "", *bad)
        check(err.strip(), "usage error without a message: %r" % bad)
    check(not os.path.exists("x.exe") and not os.path.exists("x"), "a usage error wrote a file")
    for command in ["build", "extract", "list", "lzss", "pack", "verify"]:
        check(tool.ok(command, "--help")[0].startswith("Usage: vornpatch " + command), "help of %s" % command)
    check(tool.ok("--version")[0].startswith("vornpatch "), "--version")
    tool.fails(FAILURE, "--help: cannot open", "list", "--", "--help")  # after "--", a name


def flipped(data, offset, mask=1):
    return data[:offset] + bytes([data[offset] ^ mask]) + data[offset + 1:]


def test_corruption(tool, work, args):
    """Damaged patches and packs make verify exit 1 naming the fault."""
    _, _, stub, patch = sample(tool, work)
    built, at = read(patch), os.path.getsize(stub) + SEAL_SIZE
    length, block_size = struct.unpack_from("<II", built, at + 4)
    count = (length - 1) // block_size + 1
    table = list(struct.unpack_from("<%dI" % count, built, at + 14)) + [len(built) - at]
    stored = [table[i + 1] - table[i] == min(block_size, length - i * block_size) for i in range(count)]
    coded = [i for i in range(count) if not stored[i] and table[i + 1] > table[i]]
    check(len(coded) >= 3, "the sample has too few coded blocks: %r" % coded)
    summary = tool.ok("verify", patch)[0]
    check("%d coded, %d raw" % (len(coded), sum(stored)) in summary, "verify counts: %r" % summary)
    pak = os.path.join(work, "f.pak")
    tool.ok("pack", os.path.join(work, "src", "Files"), "-o", pak)
    good = read(pak)
    rows = [(flipped(built, at + (table[i] + table[i + 1]) // 2, 0x5A), "is damaged: ") for i in coded[1:3]]
    rows += [(built[:at + table[count // 2]], "cut short"),
             (built[:at + 22] + struct.pack("<I", table[1] - 1) + built[at + 26:], "entry 1"),
             (flipped(good, 40 + struct.unpack_from("<I", good, 36)[0]), "CRC"),
             (b"just some text\n" * 100, "not a"), (read(stub), "payload")]
    # Cuts anywhere, and bytes that no block check reads: the seal catches them.
    rows += [(built[:at - 14], "no payload found"), (built[:-1], "cut short"), (flipped(built, at - 9), "sealed"),
             (flipped(built, at + 13), "seal gives"), (flipped(built, at + table[stored.index(True)] + 9), "CRC-32")]
    for i, (data, fragment) in enumerate(rows):
        write(os.path.join(work, "bad%d" % i), data)
        tool.fails(FAILURE, fragment, "verify", os.path.join(work, "bad%d" % i))


def test_limits(tool, work, args):
    """Files of 4 GiB (the formats' positions are 32-bit) and members that fit one by one but not
    together are refused before any data is read, and leave nothing behind. Sparse files."""
    src = os.path.join(work, "src")
    make_tree(src)
    big = os.path.join(src, "Files", "big.bin")
    write(big, b"", 1 << 32)
    tool.fails(FAILURE, "%d bytes" % (1 << 32), "lzss", "compress", big, os.path.join(work, "p.exe"))
    tool.fails(FAILURE, "4 GiB", "list", big)
    tool.fails(FAILURE, "big.bin", "build", src, "-o", os.path.join(work, "p.exe"),
               "--stub", make_stub(os.path.join(work, "stub.exe")))
    for i in range(2):
        write(os.path.join(src, "Files", "big%d.bin" % i), b"", 2200 << 20)
    os.remove(big)
    tool.fails(FAILURE, "pack would be too large", "pack", os.path.join(src, "Files"), "-o", os.path.join(work, "f.pak"))
    check(sorted(os.listdir(work)) == ["src", "stub.exe"], "a refused run left %r" % os.listdir(work))


def hostile_rows(work):
    """(what, change to a fresh source tree, build options, exit code, message fragment)."""
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
        ("a named pipe", lambda src: os.mkfifo(os.path.join(src, "Files", "data", "pipe")), [], FAILURE,
         "named pipe"),
        ("a link to a folder outside", link("/usr/share"), [], FAILURE, "symbolic link"),
        ("Patch.ini as a link", relink("Patch.ini"), [], FAILURE, "symbolic link"),
        ("Files as a link", relink("Files"), [], FAILURE, "symbolic link"),
        ("a followed link", link("/etc/hostname"), ["--follow-links"], OK, ""),
        ("a followed loop", link("../..", "data/deep/up"), ["--follow-links"], FAILURE, "deep/up: leads back to"),
        ("a followed link to itself", link("link"), ["--follow-links"], FAILURE, "loop of links"),
        ("a followed dangling link", link("/no/such/file"), ["--follow-links"], FAILURE, "nowhere"),
        ("a backslash in a name", touch("back\\slash.txt"), [], FAILURE, "separator"),
        ("a device name", touch("data/com7.txt"), [], FAILURE, "device name"),
        ("a name like a device's", touch("data/com0.txt"), [], OK, ""),
        ("a non-ASCII name", touch("\u00dcn\u00efc\u00f6d\u00e9.txt"), [], FAILURE, "--codepage"),
        ("a name code page 1252 lacks", touch("\u65e5\u672c.dat"), ["--codepage", "1252"], FAILURE, "lacks"),
        ("names a Windows folder takes for one", touch("\u00e9.txt", "\u00c9.TXT"), ["--codepage", "1252"],
         FAILURE, "Windows folder"),
        ("a two-byte character with a '\\' byte", touch("\u8868.txt"), ["--codepage", "932"], FAILURE,
         "separator"),
        ("a two-byte character with a letter byte", touch("\u4e0d.txt"), ["--codepage", "932"], FAILURE,
         "upper-cases"),
        ("an unknown code page", None, ["--codepage", "99999"], USAGE, "code page"),
        ("no Patch.ini", lambda src: os.remove(os.path.join(src, "Patch.ini")), [], FAILURE, "Patch.ini"),
        ("an empty Patch.ini", ini(b""), [], FAILURE, "no section [str]"),
        ("a binary Patch.ini", ini(bytes(range(256)) * 8), [], FAILURE, "NUL bytes"),
        ("a Patch.ini with a byte-order mark", ini(b"\xef\xbb\xbf" + PATCH_INI), [], FAILURE, "byte-order mark"),
        ("a Patch.ini without done", ini(no_done), [], FAILURE, "--allow-missing-keys"),
        ("the same, allowed", ini(no_done), ["--allow-missing-keys"], OK, "looks up: done"),
        ("a version without digits", ini(PATCH_INI.replace(b"ver=10001", b"ver=v1.01")), [], FAILURE,
         "hexadecimal"),
        # Names that differ in case only would become one member; one named like the patcher's
        # temporaries would be taken for a stopped run's.
        ("names differing in case", touch("README.TXT"), [], FAILURE, "case"),
        ("a temporary's name", touch("readme.txt.VP~"), [], FAILURE, ".vp~"),
        # A built patch as stub would hide the new payload behind the old one.
        ("a patch as stub", None, ["--stub", os.path.join(work, "sealed.exe")], FAILURE,
         "seal record in front of a container"),
        # Anything beside Patch.ini and Files is left out with a word, a folder too.
        ("a folder beside Files", lambda src: os.makedirs(os.path.join(src, "Zoo")), [], OK, "Zoo: ignored"),
    ]


def test_hostile(tool, work, args):
    """build refuses hostile and careless source trees with the path and the reason, within
    seconds, and leaves no output behind; it never overwrites its inputs."""
    src, _, stub, patch = sample(tool, work)
    os.rename(patch, os.path.join(work, "sealed.exe"))
    for target, fragment in ((stub, "stub"), (os.path.join(src, "Patch.ini"), "refusing"),
                             (os.path.join(src, "Files", "readme.txt"), "")):
        before = read(target)
        tool.fails(FAILURE, fragment, "build", src, "-o", target, "--stub", stub)
        check(read(target) == before, "build overwrote %s" % target)
    for i, (what, change, options, code, fragment) in enumerate(hostile_rows(work)):
        src, out = os.path.join(work, "case%d" % i, "src"), os.path.join(work, "case%d" % i, "p.exe")
        make_tree(src)
        if change:
            change(src)
        options = options if "--stub" in options else options + ["--stub", stub]
        tool.fails(code, fragment, "build", src, "-o", out, *options, timeout=60)
        check(os.path.exists(out) == (code == OK) and not os.path.exists(out + ".partial"),
              "%s: the output is %s" % (what, "missing" if code == OK else "left behind"))
    # A pipe opened without waiting for a writer once compressed as an empty file.
    os.mkfifo(os.path.join(work, "pipe"))
    tool.fails(FAILURE, "named pipe", "lzss", "compress", os.path.join(work, "pipe"), os.path.join(work, "pipe.lz"))
    check(not os.path.exists(os.path.join(work, "pipe.lz")), "a pipe is compressed")


def test_codepage(tool, work, args):
    """Names converted into a code page by build come back through list and extract with the
    same code page, and as the code page's bytes without it."""
    stub = make_stub(os.path.join(work, "stub.exe"))
    for page, name, shown in ((1252, "Dossier \u00e9t\u00e9/\u00dcn\u00efc\u00f6d\u00e9.txt",
                               "DOSSIER \u00e9T\u00e9\\\u00dcN\u00efC\u00f6D\u00e9.TXT"),
                              (932, "\u65e5\u672c/\u8aac\u660e.dat", "\u65e5\u672c\\\u8aac\u660e.DAT")):
        src, patch = os.path.join(work, "src%d" % page), os.path.join(work, "p%d.exe" % page)
        make_tree(src)
        write(os.path.join(src, "Files", *name.split("/")), b"converted")
        tool.ok("build", src, "-o", patch, "--stub", stub, "--codepage", page, "--codec", "lzss")
        out, _ = tool.ok("list", "-n", "--codepage", page, patch)
        check(("FILES\\" + shown).encode("utf-8").decode("latin-1") in out.splitlines(), "%d: %r" % (page, out))
        stored = "FILES\\" + shown.encode("cp%d" % page).decode("latin-1")
        check(stored in tool.ok("list", "-n", patch)[0].splitlines(), "%d: list without the code page" % page)
        if page == 932:  # its byte 0x90 is no character in 1252: the row once came out empty
            check(stored in tool.ok("list", "-n", "--codepage", 1252, patch)[0].splitlines(), "932 as 1252")
        tool.ok("extract", "--codepage", page, patch, "-C", os.path.join(work, "out%d" % page))
        check(read(os.path.join(work, "out%d" % page, "FILES", *shown.split("\\"))) == b"converted",
              "%d: the extracted file differs" % page)


def test_progress(tool, work, args):
    """The progress bar appears on a terminal and never in redirected output."""
    src = os.path.join(work, "src")
    make_tree(src)
    command = tool.command + ["pack", os.path.join(src, "Files"), "-o", os.path.join(work, "f.pak")]
    _, err = tool.ok(*command[len(tool.command):])
    check("\r" not in err and "[" not in err, "progress drawn into a pipe: %r" % err)
    # script(1) gives the tool a terminal for its error output; its standard output stays out.
    shown = subprocess.run(["script", "-qec", shlex.join(command) + " >/dev/null", "/dev/null"],
                           stdin=subprocess.DEVNULL, capture_output=True,
                           env=dict(os.environ, VORNPATCH_PROGRESS_DELAY_MS="0"))
    check(shown.returncode == 0 and b"packing [" in shown.stdout and b"%" in shown.stdout,
          "no progress bar on a terminal: %r" % shown.stdout)


def test_stubs(tool, work, args):
    """Where build takes its stub from when --stub is not given: VORNPATCH_STUB, beside the tool,
    ../share/vornpatch from the tool's folder, and the configured patcher for the tool in its
    build folder. A stub the user names is never replaced by another one."""
    src = os.path.join(work, "src")
    files = make_tree(src)
    stubs = {"option": os.path.join(work, "option.exe"), "env": os.path.join(work, "env.exe"),
             "beside": os.path.join(work, "bin", "vornpatch-stub.exe"),
             "share": os.path.join(work, "share", "vornpatch", "vornpatch-stub.exe")}
    missing, copy = os.path.join(work, "missing.exe"), os.path.join(work, "bin", "vornpatch")
    patch = os.path.join(work, "patch.exe")
    os.makedirs(os.path.dirname(copy))
    shutil.copy2(args.tool, copy)
    # present stubs, --stub, VORNPATCH_STUB, the stub used or the text of the failure
    for present, option, env, expected in [
            ({"option", "env", "beside", "share"}, stubs["option"], stubs["env"], "option"),
            ({"env", "beside", "share"}, None, stubs["env"], "env"), ({"beside", "share"}, None, None, "beside"),
            ({"share"}, None, "", "share"), ({"beside", "share"}, None, missing, "missing.exe"),
            ({"beside"}, missing, None, "missing.exe"), (set(), None, None, stubs["share"])]:
        for i, (name, path) in enumerate(sorted(stubs.items())):
            if os.path.exists(path):
                os.remove(path)
            if name in present:
                make_stub(path, size=20000 + 512 * i)
        code, out, err = Tool(copy, "").run("build", src, "-o", patch, "-q", *(["--stub", option] if option else []),
                                            env={"VORNPATCH_STUB": env})
        case = "stubs %s, --stub %s, VORNPATCH_STUB %r: exit %d, %r%r" % (sorted(present), option, env, code, out, err)
        if expected in stubs:
            check(code == OK and not out and read(patch).startswith(read(stubs[expected])), case)
            os.remove(patch)
        else:
            check(code == FAILURE and expected in err and not os.path.exists(patch), case)
    # The summary for pipelines: valid JSON whatever bytes the output's name holds, and the
    # figures of the files written.
    make_stub(stubs["option"])
    odd = os.path.join(work, os.fsdecode(b'pa"tch\xff\x01.exe'))
    summary = json.loads(tool.ok("build", src, "-o", odd, "--stub", stubs["option"], "--json", "--codec", "lzss")[0])
    figures = {"output": os.fsencode(odd).decode("latin-1"), "members": len(files) + 1,
               "stub_bytes": os.path.getsize(stubs["option"]), "patch_bytes": os.path.getsize(odd),
               "payload_bytes": os.path.getsize(odd) - os.path.getsize(stubs["option"])}
    check(all(summary[k] == v for k, v in figures.items()), "the summary %r" % summary)
    # The tool in its build folder falls back to the configured patcher.
    if args.tree_stub:
        code, out, err = tool.run("build", src, "-o", patch, "--json", env={"VORNPATCH_STUB": None})
        if os.path.exists(args.tree_stub):
            check(code == OK and json.loads(out)["stub"] == args.tree_stub, "configured patcher: %r%s" % (out, err))
        else:
            check(code == FAILURE and args.tree_stub in err, "configured patcher not looked at: %r" % err)


def raw_container(blocks, length, block_size):
    """A container of blocks stored raw (bytes) or empty (None: reads as zeros)."""
    table, position = [], 14 + 4 * len(blocks)
    for block in blocks:
        table.append(position)
        position += len(block or b"")
    return (b"LZSS" + struct.pack("<II", length, block_size) + bytes([0xC4, 0]) +
            struct.pack("<%dI" % len(blocks), *table) + b"".join(b or b"" for b in blocks))


def zero_bomb(length, right_crc):
    """One member of `length` - 100 zero bytes in a container of empty 32 KiB blocks."""
    size = length - 100
    crc = binascii.crc32(bytes(size)) & 0xFFFFFFFF if right_crc else 0
    head = build_pack([(b"BOMB.DAT", b"")], ranges=[(100, size)], crcs=[crc])
    count = (length - 1) // 32768 + 1
    return raw_container([head.ljust(32768, b"\0")] + [None] * (count - 1), length, 32768)


def test_hostile_targets(tool, work, args):
    """Hostile and careless targets: each row is a target, the command run on it, its exit code,
    a fragment of its message, how the case folder is prepared (extract writes into case/out,
    beside case/outside) and the files there afterwards besides the target and outside/kept."""
    good = (b"SAFE\\FILE.TXT", b"harmless")
    one_mib = bytes(range(256)) * 4096
    tiny = raw_container([b"abc" * 20 + b"abcd"], 0xDFFFFFFF, 0xE0000000)  # 82 bytes
    # BIG.DAT runs from block 0 into block 1, which is stored with more bytes than a block.
    damaged = bytearray(raw_container([bytes(4096), bytes(5000), None], 3 * 4096, 4096))
    member = build_pack([(b"BIG.DAT", one_mib[:9000])])[:-5000]
    damaged[26:26 + len(member)] = member

    def link(at, to):
        return lambda case: os.symlink(os.path.join(case, to), os.path.join(case, at))

    def old_file(case):
        write(os.path.join(case, "out", "BIG.DAT"), b"old")

    def row(name, target, command, code, says, prepare=None, stays=None):
        return name, target, command, code, says, prepare, stays or {}
    rows = [
        row("huge block size", tiny, "verify", FAILURE, "block size 3758096384"),
        row("huge block size", tiny, "list", FAILURE, "block size 3758096384"),
        row("bomb, wrong CRC", zero_bomb(64 << 20, False), "extract", FAILURE, "CRC-32"),
        row("bomb, right CRC", zero_bomb(64 << 20, True), "extract", OK, "", None,
            {"out/BOMB.DAT": bytes((64 << 20) - 100)}),
        row("escape sequence", build_pack([(b"\x1b[2J\xc2\x9b1M.TXT", b"x")]), "list", OK,
            "\\x1B[2J\\xC2\\x9B1M.TXT"),
        row("escape sequence", build_pack([(b"\x1b[2J.TXT", b"x")]), "extract", FAILURE, "\\x1B[2J.TXT"),
        row("read fails part-way", bytes(damaged), "extract", FAILURE, "cannot read member", old_file,
            {"out/BIG.DAT": b"old"}),
        row("folder is a link", build_pack([(b"LINK\\A.TXT", b"x")]), "extract", FAILURE, "symbolic link",
            link("out/LINK", "outside")),
        row("file is a link", build_pack([(b"LINK", b"x")]), "extract", FAILURE, "symbolic link",
            link("out/LINK", "outside/kept"), {"out/LINK": b"outside"}),
        row("stale temporary is a link", build_pack([(b"A.TXT", b"new")]), "extract", OK, "",
            link("out/A.TXT.vp~", "outside/kept"), {"out/A.TXT": b"new"}),
    ]
    for i, bad in enumerate([b"..\\EVIL.TXT", b"A\\..\\..\\EVIL.TXT", b"C:EVIL.TXT",
                             b"A\\.\\EVIL.TXT", b"A/../../EVIL.TXT", b"A\\EV\x01IL.TXT"]):
        target = build_pack(sorted([good, (bad, b"escaped")]))
        rows += [row("escape %d" % i, target, command, FAILURE, "EV") for command in ("extract", "verify")]
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
        found = {name.replace("\\", "/"): data for name, data in read_tree(case).items()}
        check(found == expected, "%s; afterwards: %r" % (where, sorted(found)))


def test_hpfs(tool, work, args):
    """HPFS stores the tool makes (small blocks; large ones, coded) verify and extract to the tree
    they were made of; a tree that is not there is refused."""
    rng, tree, store = random.Random(7), os.path.join(work, "tree"), os.path.join(work, "store.wdt")
    files = {"LOCAL/strings.ini": b"[objects]\r\npeon=peasant\r\n", "LOCAL/sub/empty.txt": b"",
             "LOCAL/sub/deeper/big.bin": bytes(rng.getrandbits(8) for _ in range(150000))}
    files.update({"file%02d.dat" % i: bytes([i]) * (i * 37) for i in range(30)})
    for name, data in files.items():
        write(os.path.join(tree, *name.split("/")), data)
    for i, geometry in enumerate((["--block-size", "64", "--root-header", "32"], ["--block-size", "512", "--lzss"])):
        tool.ok("hpfs", "create", tree, "-o", store, *geometry)
        tool.ok("verify", store)
        tool.ok("extract", store, "-C", os.path.join(work, "out%d" % i))
        check(read_tree(os.path.join(work, "out%d" % i)) == {n.replace("/", "\\"): d for n, d in files.items()},
              "the store of %r extracts differently" % geometry)
    tool.fails(FAILURE, "", "hpfs", "create", os.path.join(work, "missing"), "-o", store)


def test_coders(tool, work, args):
    """The optimal coder (default) never codes larger than --fast; --method auto picks the
    smallest method for a one-block input; every choice decompresses to the input."""
    rng = random.Random(11)
    text = b"".join(rng.choice([b"vorn ", b"patch ", b"the ", b"file ", b"\r\n", b"data "]) for _ in range(9000))
    binary = bytes(rng.choice((0, 0, 0xFF, 0x8B, rng.randrange(256))) for _ in range(40000))
    sizes = {}
    for name, data in (("mixed", text + binary + text[:5000]), ("block", (text + binary)[:32768])):
        write(os.path.join(work, name), data)
        for label, extra in [("default", []), ("fast", ["--fast"]), ("auto", ["--method", "auto"])] + [
                ("%02X" % m, ["--method", "0x%02X" % m]) for m in METHODS if name == "block"]:
            lz = os.path.join(work, "%s-%s.lz" % (name, label))
            tool.ok("lzss", "compress", os.path.join(work, name), lz, *extra)
            tool.ok("lzss", "decompress", lz, os.path.join(work, "back"))
            check(read(os.path.join(work, "back")) == data, "%s %s does not decompress to the input" % (name, label))
            sizes[name, label] = os.path.getsize(lz)
        check(sizes[name, "default"] <= sizes[name, "fast"], "%s: the default coder codes larger than --fast" % name)
    best = min(sizes["block", "%02X" % m] for m in METHODS)
    check(sizes["block", "auto"] == best, "auto gives %d bytes, the best method %d" % (sizes["block", "auto"], best))


def coded_sources(work):
    """A new tree and the installed game it patches: one file unchanged, one changed (its base
    named in other letter case), one program (the only one, so coded alone), small new ones,
    random bytes once and twice, one removed."""
    rng = random.Random(5)
    words = [bytes(rng.choice(b"abcdefghijklmnop") for _ in range(rng.randrange(3, 9))) for _ in range(3000)]
    text = b" ".join(rng.choice(words) for _ in range(60000))
    old_big = bytes(rng.getrandbits(8) for _ in range(200000))
    new = {"same.bin": bytes(range(256)) * 12, "data/big.dat": old_big[:90000] + b"EDITED" + old_big[90000:],
           "large.exe": b"MZ" + text * 3, "notes.txt": text[:3000], "readme.txt": text[5000:9000],
           "random.bin": bytes(rng.getrandbits(8) for _ in range(5000))}
    new["pics/a.png"] = new["pics/copy/a.png"] = bytes(rng.getrandbits(8) for _ in range(5000))
    old = {"same.bin": new["same.bin"], "DATA/Big.dat": old_big, "gone.txt": b"removed"}
    src, base = os.path.join(work, "src"), os.path.join(work, "base")
    write(os.path.join(src, "Patch.ini"), PATCH_INI)
    for tree, files in ((os.path.join(src, "Files"), new), (base, old)):
        for name, data in files.items():
            write(os.path.join(tree, name), data)
    return src, base, new


def patch_members(tool, patch, stub):
    write(patch + ".lz", read(patch)[os.path.getsize(stub) + SEAL_SIZE:])
    tool.ok("lzss", "decompress", patch + ".lz", patch + ".pak")
    pack = read(patch + ".pak")
    return {n.decode("latin-1"): pack[o:o + s] for n, o, s, _ in read_pack(pack)}


def test_coded(tool, work, args):
    """build --base leaves out, deltas, codes alone, groups and keeps whole what it should; list,
    verify and extract read each coding; --no-delta and --codec lzss give the builds without."""
    src, base, new = coded_sources(work)
    stub = make_stub(os.path.join(work, "stub.exe"))
    patch, plain, nodelta, lz = (os.path.join(work, n) for n in ("p.exe", "plain.exe", "nd.exe", "lz.exe"))
    _, err = tool.ok("build", src, "-o", patch, "--stub", stub, "--base", base)
    check("1 installed file is not in the new tree and stays as installed (the patcher removes nothing): "
          "GONE.TXT" in err, "no warning of the removed file: %r" % err)
    tool.ok("build", src, "-o", plain, "--stub", stub)
    tool.ok("build", src, "-o", nodelta, "--stub", stub, "--base", base, "--no-delta")
    check(read(nodelta) == read(plain), "--no-delta differs from a build without --base")
    tool.ok("build", src, "-o", lz, "--stub", stub, "--codec", "lzss")
    check(set(patch_members(tool, lz, stub)) == set(members(new, ini=True)), "lzss members")
    out = tool.ok("list", patch)[0]
    check(set(listed(tool, patch)) == {"PATCH.INI", "CODED\\DATA\\BIG.DAT", "CODED\\LARGE.EXE",
                                       "SOLID\\0001", "SOLID\\0002"}, "members:\n" + out)
    for fragment in ("delta: 200006 bytes", "needs the installed 200000 bytes", "tarn: %d bytes" % len(new["large.exe"]),
                     "solid group of 2 files", "FILES\\NOTES.TXT", "solid group of 3 files", "FILES\\PICS\\COPY\\A.PNG"):
        check(fragment in out, "list lacks %r:\n%s" % (fragment, out))
    check("1 deltas not decoded" in tool.ok("verify", patch)[0], "verify without --base")
    tool.ok("verify", patch, "--base", base)
    tool.fails(FAILURE, "CODED\\DATA\\BIG.DAT is a delta", "extract", patch, "-C", os.path.join(work, "none"))
    check(not os.path.exists(os.path.join(work, "none", "FILES")), "extract without --base wrote files")
    expected = members({n: d for n, d in new.items() if n != "same.bin"}, ini=True)
    for target, extra in ((patch, ["--base", base]), (plain, [])):
        tool.ok("extract", target, "-C", os.path.join(work, "out"), *extra)
        check(read_tree(os.path.join(work, "out")) == dict(expected, **({} if extra else members({"same.bin": new["same.bin"]}))),
              "%s extracts differently" % target)
        shutil.rmtree(os.path.join(work, "out"))
    # Damaged coded members in packs with sound CRCs: verify and extract refuse them, write nothing.
    good = patch_members(tool, patch, stub)
    large, solid = good["CODED\\LARGE.EXE"], good["SOLID\\0001"]
    write(os.path.join(work, "other", "DATA", "BIG.DAT"), new["data/big.dat"])
    rows = [
        ("flipped stream", {"CODED\\LARGE.EXE": large[:500] + bytes([large[500] ^ 4]) + large[501:]}, [], "decoded"),
        ("cut stream", {"CODED\\LARGE.EXE": large[:-3]}, [], "decoded"),
        ("no header", {"CODED\\LARGE.EXE": large[:10]}, [], "not a coded stream"),
        ("damaged group", {"SOLID\\0001": solid[:40] + bytes([solid[40] ^ 1]) + solid[41:]}, [], "SOLID\\0001"),
        ("group name", {"SOLID\\12": solid}, [], "SOLID\\0001 to"),
        ("given twice", {"FILES\\LARGE.EXE": b"x"}, [], "given twice"),
        ("given twice by a group", {"FILES\\NOTES.TXT": b"x"}, [], "given twice"),
        ("delta of another version", {}, ["--base", os.path.join(work, "other")], "another version"),
        ("delta without its source", {}, ["--base", os.path.join(work, "src")], "holds no DATA\\BIG.DAT"),
    ]
    for label, change, extra, fragment in rows:
        crafted = dict((n, d) for n, d in good.items() if not (n.startswith("SOLID") and "SOLID\\12" in change))
        crafted.update(change)
        pak = os.path.join(work, "crafted.pak")
        write(pak, build_pack(sorted((n.encode("latin-1"), d) for n, d in crafted.items())))
        extra = extra or ["--base", base]
        for command in (["verify", pak], ["extract", pak, "-C", os.path.join(work, "bad")]):
            tool.fails(FAILURE, fragment, *(command + extra))
        written = read_tree(os.path.join(work, "bad")) if os.path.exists(os.path.join(work, "bad")) else {}
        check(all(expected.get(n) == d for n, d in written.items()), "%s: extract wrote a torn file" % label)


GROUPS = {name[5:]: function for name, function in globals().items() if name.startswith("test_")}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runner", default="")
    parser.add_argument("--tree-stub", default="", help="the patcher the tool was configured with")
    parser.add_argument("--group", choices=sorted(GROUPS), required=True)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="vornpatch-%s-" % args.group)
    try:
        GROUPS[args.group](Tool(args.tool, args.runner), work, args)
    except Exception as failure:
        detail = failure if isinstance(failure, Failure) else traceback.format_exc()
        print("FAIL %s: %s" % (args.group, detail))
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("PASS %s" % args.group)
    return 0


if __name__ == "__main__":
    sys.exit(main())
