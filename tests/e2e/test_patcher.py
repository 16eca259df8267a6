"""End-to-end tests of the patcher: the real Windows program under Wine, in what needs Windows
itself (the registry, the game's mutex, files held open or read-only, the replacement of files in
place, shell links, starting a program). Its boxes are answered with their mnemonic keys, their
texts read from Wine's message-box trace; the exit code, the game files, the registry value and
the shortcuts are checked afterwards. The ways through the program are the native suite's.

Usage: test_patcher.py [--visible] [-k SUBSTRING] (run.sh sets up the programs it needs)."""

import argparse
import os
import re
import shutil
import sys
import time
import traceback
from types import SimpleNamespace

import harness
from world import DEFAULT_FILES, GAME_DIR, MUTEX_NAME, SHIPPED_TEXTS as T, World, ini_text

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "tools"), os.path.join(HERE, "..", "reference")]
from tool_test import crafted_pack, signed_copy  # noqa: E402
import lzss_reference  # noqa: E402
import pack_reference  # noqa: E402

WELCOME, DONE, INCOMPLETE = (T["welcome"], "y"), (T["done"], "Return"), (T["errnotcomplete"], "Return")
SHORTCUT = {"pwt_shortcut": "1", "pwt_name": "Vorn Online"}
INSTALLER = {"gamespy": "Install GameSpy Arcade now?"}


class Failed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failed(message)


def error(name):
    return "Error while trying to copy " + name


def holding(kind, target, release_at=None):
    """hold.exe holds target (the game's mutex or a file) until the box release_at or the end."""
    def setup(ctx):
        stop = ctx.world.wine.host_path("C:\\e2e-stop")
        if os.path.exists(stop):
            os.unlink(stop)
        process = ctx.world.wine.start_helper("hold.exe", [kind, target, "C:\\e2e-stop"])
        time.sleep(1.5)

        def release(index=release_at, text=None):
            if index == release_at:
                open(stop, "w").close()
                process.wait(timeout=30)
        ctx.on_box = release if release_at is not None else None
        return release
    return setup


def patch_of_pack(ctx, name, pack=None):
    """The patcher followed by a container the independent writer made of pack (none: bare)."""
    with open(ctx.world.stub, "rb") as f:
        data = f.read() + (lzss_reference.encode_container(pack) if pack else b"")
    ctx.patch = ctx.world.place_file("C:\\patches\\%s.exe" % name, data)


def read_only(ctx):
    target = os.path.join(ctx.world.wine.host_path(GAME_DIR), "Vorn.dat")
    os.chmod(target, 0o444)
    return lambda: expect(os.access(target, os.W_OK), "the target is still read-only")


def menu(ctx):
    programs = ctx.world.reset_menu(["e2e-Games/vorn", "VORN", "e2e-Other"])
    open(os.path.join(programs, "e2e-Other", "vorn"), "w").close()


def escaping_member(ctx):
    patch_of_pack(ctx, "escaping", crafted_pack(pack_reference, [
        (b"FILES\\..\\..\\ESCAPED.TXT", b"must not be written"), (b"FILES\\GOOD.TXT", b"good"),
        (b"PATCH.INI", ini_text(T).encode())]))
    escaped = [ctx.world.wine.host_path(p) for p in ("C:\\ESCAPED.TXT", "C:\\Games\\ESCAPED.TXT")]
    return lambda: expect(not any(map(os.path.exists, escaped)), "a member escaped the game folder")


def signed(writer):
    """The patch (of the tool, or of the independent writer) signed with a throwaway certificate
    whose signature verifies: the signature's table must not be taken for part of the payload."""
    def setup(ctx):
        if writer == "reference":
            patch_of_pack(ctx, "foreign", pack_reference.build_pack(
                [(b"PATCH.INI", ini_text(dict(T, **SHORTCUT)).encode())] +
                [(b"FILES/" + n.encode(), d) for n, d in DEFAULT_FILES.items()]))
        signed_copy(ctx.world.wine.host_path(ctx.patch), ctx.world.work)
        ctx.patch += ".signed.exe"
    return setup


def installer(ctx):
    """The installer in a game folder with blanks, and a decoy that an unquoted command starts."""
    wine = ctx.world.wine
    started = []
    for path in ("C:\\Program Files\\Vorn Game\\GameSpy Arcade\\ArcadeInstallFull101b.EXE",
                 "C:\\Program.exe"):
        host = wine.host_path(path)
        os.makedirs(os.path.dirname(host), exist_ok=True)
        shutil.copy(os.path.join(wine.tools_dir, "hold.exe"), host)
        started.append(os.path.join(os.path.dirname(host), "started.txt"))
        if os.path.exists(started[-1]):
            os.unlink(started[-1])

    def after():
        for _ in range(50):
            if os.path.exists(started[0]):
                break
            time.sleep(0.2)
        expect(os.path.exists(started[0]), "the installer was not started")
        expect(not os.path.exists(started[1]), "C:\\Program.exe was started instead")
        os.unlink(started[0])
        os.unlink(wine.host_path("C:\\Program.exe"))
    return after


# Defaults: the game at GAME_DIR, version 1.00; the shipped texts; every file copied, the version
# recorded, no shortcut, exit code 0. kept: files of the game that stay as they were (None: all).
ROWS = [
    dict(name="complete run, a dropped file and a wrapped game pack", install=dict(pack="lzss"),
         args=("C:\\windows\\win.ini",), answers=[WELCOME, DONE]),
    dict(name="answered no", answers=[(T["welcome"], "n")], kept=None, exit=-1),
    dict(name="game running", setup=holding("mutex", MUTEX_NAME),
         answers=[WELCOME, (T["vornrun"], "Return")], kept=None, exit=-1),
    dict(name="no registry key", install=dict(registry=False),
         answers=[WELCOME, (T["notvorn"], "Return")], kept=None, version=None, exit=-1),
    dict(name="newer version", install=dict(version=0x10002),
         answers=[WELCOME, (T["noneed"], "Return")], kept=None, version=0x10002, exit=-1),
    dict(name="patcher without payload", setup=lambda ctx: patch_of_pack(ctx, "bare-stub"),
         answers=[("Patch file is broken!", "Return")], kept=None, exit=-1),
    dict(name="held file ignored", texts=SHORTCUT, setup=holding("file", GAME_DIR + "Vorn.dat"),
         answers=[WELCOME, (error("VORN.DAT"), "i"), INCOMPLETE], kept=["Vorn.dat"], version=0x10000),
    dict(name="held file retried after its release", answers=[WELCOME, (error("VORN.DAT"), "r"), DONE],
         setup=holding("file", GAME_DIR + "Vorn.dat", release_at=1)),
    dict(name="temporaries of a stopped run", answers=[WELCOME, DONE], install=dict(files={
        "Vorn.dat.vp~": b"half of a new Vorn.dat", "maps/north/glacier.map.vp~": b"half a map"})),
    dict(name="read-only target", setup=read_only, answers=[WELCOME, DONE]),
    dict(name="member escaping the game folder", setup=escaping_member, files={"GOOD.TXT": b"good"},
         version=0x10000, answers=[WELCOME, (error("..\\..\\ESCAPED.TXT"), "i"), INCOMPLETE]),
    dict(name="signed patch", texts=SHORTCUT, setup=signed("tool"), answers=[WELCOME, DONE],
         shortcuts={"Vorn Online.lnk": True}),
    dict(name="signed patch of an independent writer", texts=SHORTCUT, setup=signed("reference"),
         answers=[WELCOME, DONE], shortcuts={"Vorn Online.lnk": True}),
    dict(name="shortcut in every vorn folder", texts=SHORTCUT, setup=menu, answers=[WELCOME, DONE],
         shortcuts={"VORN/Vorn Online.lnk": True, "e2e-Games/vorn/Vorn Online.lnk": True}),
    dict(name="installer started from a folder with blanks", texts=INSTALLER, setup=installer,
         install=dict(path="C:\\Program Files\\Vorn Game\\"),
         answers=[WELCOME, (INSTALLER["gamespy"], "y"), DONE]),
    dict(name="missing installer", texts=INSTALLER, answers=[WELCOME, (INSTALLER["gamespy"], "y"), DONE]),
]


def lower_keys(files):
    return {k.lower(): v for k, v in files.items()}


def run_row(ctx, row):
    world = ctx.world
    install = dict(row.get("install", {}))
    game_dir = install.get("path", GAME_DIR)
    install["files"] = dict(install.get("files", {}), **{"Vorn.dat": b"old contents"})
    world.install_game(**install)
    version_before = world.game_version()
    ctx.patch = world.make_patch(dict(T, **row.get("texts", {})))
    ctx.on_box = None
    after = (row.get("setup") or (lambda ctx: None))(ctx)
    before = lower_keys(world.game_files(game_dir))
    try:
        result = world.wine.drive(ctx.patch, [("^%s$" % re.escape(t), k) for t, k in row["answers"]],
                                  args=row.get("args", ()), on_box=ctx.on_box)
    finally:
        if after:
            after()
    texts = [t for t, _ in row["answers"]]
    expect(not result.timed_out and result.texts == texts,
           "boxes: expected %r, got %r (timed out: %s, exit code %s, launcher %s); Wine said: %s" % (
               texts, result.texts, result.timed_out, result.exit_code, result.launcher_code,
               result.stderr.strip().splitlines()[-3:]))
    # A caption is read where the box's window was found in time (None: not found).
    for box in result.boxes:
        expect(box.caption in (None, "Error" if box.text.startswith("Error") else "VORN Patch"),
               "caption %r of %r" % (box.caption, box.text))
    expect(result.exit_code == row.get("exit", 0), "exit code %s" % result.exit_code)
    kept, expected = row.get("kept", []), dict(before)
    if kept is not None:
        expected.update(lower_keys({k: v for k, v in row.get("files", DEFAULT_FILES).items() if k not in kept}))
        expected = {n: d for n, d in expected.items() if not n.endswith(".vp~")}  # used up
    after_files = lower_keys(world.game_files(game_dir))
    expect(after_files == expected, "game files: %s differ" % sorted(
        n for n in set(after_files) | set(expected) if after_files.get(n) != expected.get(n)))
    version = world.game_version()
    expect(version == row.get("version", 0x10001) or (kept is None and version == version_before),
           "GameVersion %r" % version)
    expect(world.shortcuts() == row.get("shortcuts", {}), "shortcuts: %r" % world.shortcuts())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--visible", action="store_true", help="use the current DISPLAY")
    parser.add_argument("-k", dest="filter", default="", help="run the rows whose name has one of these (comma-separated)")
    parser.add_argument("--work", default=os.environ.get("VORN_E2E_WORK", "build/e2e"))
    options = parser.parse_args()
    work = os.path.abspath(options.work)
    shutil.rmtree(work, ignore_errors=True)
    passed = failed = 0
    with harness.Desktop(visible=options.visible) as desktop:
        wine = harness.Wine(desktop, os.environ["VORN_HELPERS"])
        wine.start_server()
        world = World(wine, os.environ["VORN_TOOL"], os.environ["VORN_STUB"], os.path.join(work, "sources"))
        try:
            for row in [r for r in ROWS if any(w in r["name"] for w in options.filter.split(","))]:
                start = time.time()
                try:
                    world.reset_menu()
                    run_row(SimpleNamespace(world=world), row)
                    passed += 1
                    print("PASS %s (%.1f s)" % (row["name"], time.time() - start), flush=True)
                except Exception as failure:
                    failed += 1
                    detail = failure if isinstance(failure, Failed) else traceback.format_exc()
                    print("FAIL %s: %s" % (row["name"], detail), flush=True)
        finally:
            wine.stop_server()
    print("end-to-end: %d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
