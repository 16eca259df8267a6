"""End-to-end tests of the patcher: the real Windows program under Wine, in what needs Windows
itself (the registry, the game's mutex, files held open or read-only, the replacement of files in
place, shell links, starting a program). Its boxes are answered with their mnemonic keys, their
texts read from Wine's message-box trace; the exit code, the game files, the registry value and
the shortcuts are checked afterwards. The ways through the program and the coded members are the
native suite's.

Usage: test_patcher.py [--visible] [-k SUBSTRING] (run.sh sets up the programs it needs)."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time
import traceback

import harness
from world import DEFAULT_FILES, GAME_DIR, MUTEX_NAME, SHIPPED_TEXTS as T, World

WELCOME, DONE = (T["welcome"], "y"), (T["done"], "Return")
SHORTCUT = {"pwt_shortcut": "1", "pwt_name": "Vorn Online"}
INSTALLER = {"gamespy": "Install GameSpy Arcade now?"}
# A game file of the old version and its new version, an edit in the middle: a delta's size.
OLD_DAT = b"".join(b"unit %05d hp 40 speed 3\r\n" % i for i in range(4000))
NEW_DAT = OLD_DAT[:50000] + b"unit 01923 hp 45 speed 4\r\n" + OLD_DAT[50026:]


class Failed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failed(message)


# A row's setup(world) prepares the run and returns (on_box, after): what runs before each box
# is answered (with its index and text) and what runs once the program has ended.
def holding(kind, target, release_at=None):
    """hold.exe holds target (the game's mutex or a file) until the box release_at or the end."""
    def setup(world):
        stop = world.wine.host_path("C:\\e2e-stop")
        if os.path.exists(stop):
            os.unlink(stop)
        process = world.wine.start_helper("hold.exe", [kind, target, "C:\\e2e-stop"])
        time.sleep(1.5)

        def release(index=release_at, text=None):
            if index == release_at:
                open(stop, "w").close()
                process.wait(timeout=30)
        return release, release
    return setup


def read_only(world):
    target = os.path.join(world.wine.host_path(GAME_DIR), "Vorn.dat")
    os.chmod(target, 0o444)
    return None, lambda: expect(os.access(target, os.W_OK), "the target is still read-only")


def menu(world):
    programs = world.reset_menu(["e2e-Games/vorn", "VORN", "e2e-Other"])
    open(os.path.join(programs, "e2e-Other", "vorn"), "w").close()
    return None, None


def signed(world, patch):
    """The patch signed by the real signing tool with a throwaway certificate, its signature
    checked: the signature's table behind the payload must not be taken for part of it."""
    key, cert = os.path.join(world.work, "key.pem"), os.path.join(world.work, "cert.pem")
    unsigned = world.wine.host_path(patch)
    if os.path.exists(unsigned + ".signed.exe"):  # of an earlier run: the signer will not overwrite it
        os.remove(unsigned + ".signed.exe")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=vornpatch test"], check=True, capture_output=True)
    for command in (["sign", "-certs", cert, "-key", key, "-in", unsigned, "-out", unsigned + ".signed.exe"],
                    ["verify", "-CAfile", cert, "-in", unsigned + ".signed.exe"]):
        result = subprocess.run(["osslsigncode"] + command, capture_output=True)
        expect(result.returncode == 0, "osslsigncode %s: %r" % (command[0], result.stdout[-300:]))
    return patch + ".signed.exe"


def installer(world):
    """The installer, in a game folder with blanks, is started."""
    host = world.wine.host_path(
        "C:\\Program Files\\Vorn Game\\GameSpy Arcade\\ArcadeInstallFull101b.EXE")
    os.makedirs(os.path.dirname(host), exist_ok=True)
    shutil.copy(os.path.join(world.wine.tools_dir, "hold.exe"), host)
    started = os.path.join(os.path.dirname(host), "started.txt")
    if os.path.exists(started):
        os.unlink(started)

    def after():
        expect(harness.wait_for(lambda: os.path.exists(started), 10), "the installer was not started")
        os.unlink(started)
    return None, after


# Defaults: the game at GAME_DIR, version 1.00, its Vorn.dat old; the shipped texts; every file
# copied, the version recorded, no shortcut, exit code 0. unchanged: the game stays as it was.
ROWS = [
    dict(name="complete run over read-only targets and a stopped run's temporaries, a dropped "
         "file and a wrapped game pack", setup=read_only, args=("C:\\windows\\win.ini",),
         install=dict(pack="lzss", files={"vornpatch.vp~/0/0": b"half of a new Vorn.dat",
                                          "vornpatch.vp~/1/5": b"half a map"}),
         answers=[WELCOME, DONE]),
    dict(name="game running", setup=holding("mutex", MUTEX_NAME),
         answers=[WELCOME, (T["vornrun"], "Return")], unchanged=True, exit=-1),
    dict(name="held file retried after its release", setup=holding("file", GAME_DIR + "Vorn.dat", 1),
         answers=[WELCOME, ("Error while trying to copy VORN.DAT", "r"), DONE]),
    dict(name="signed patch", sign=True, answers=[WELCOME, DONE]),
    # The old file is read while its replacement is written, then replaced: Windows' sharing rules.
    dict(name="delta applied to the installed file", base=True, install=dict(files={"Vorn.dat": OLD_DAT}),
         files=dict(DEFAULT_FILES, **{"Vorn.dat": NEW_DAT}), answers=[WELCOME, DONE]),
    dict(name="shortcut in every vorn folder", texts=SHORTCUT, setup=menu, answers=[WELCOME, DONE],
         shortcuts={"VORN/Vorn Online.lnk": True, "e2e-Games/vorn/Vorn Online.lnk": True}),
    dict(name="installer started from a folder with blanks", texts=INSTALLER, setup=installer,
         install=dict(path="C:\\Program Files\\Vorn Game\\"),
         answers=[WELCOME, (INSTALLER["gamespy"], "y"), DONE]),
    dict(name="missing installer", texts=INSTALLER, answers=[WELCOME, (INSTALLER["gamespy"], "y"), DONE]),
]


def lower_keys(files):
    return {k.lower(): v for k, v in files.items()}


def run_row(world, row):
    install = dict(row.get("install", {}))
    game_dir = install.get("path", GAME_DIR)
    install["files"] = dict({"Vorn.dat": b"old contents"}, **install.get("files", {}))
    world.install_game(**install)
    patch = world.make_patch(dict(T, **row.get("texts", {})), row.get("files", DEFAULT_FILES),
                             base=world.wine.host_path(game_dir) if row.get("base") else None)
    if row.get("base"):
        listing = world.vornpatch("list", world.wine.host_path(patch)).stdout
        expect("delta:" in listing, "the patch holds no delta:\n" + listing)
    patch = signed(world, patch) if row.get("sign") else patch
    on_box, after = row["setup"](world) if "setup" in row else (None, None)
    before = lower_keys(world.game_files(game_dir))
    try:
        result = world.wine.drive(patch, [("^%s$" % re.escape(t), k) for t, k in row["answers"]],
                                  args=row.get("args", ()), on_box=on_box)
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
    unchanged, expected = row.get("unchanged"), dict(before)
    if not unchanged:
        expected.update(lower_keys(row.get("files", DEFAULT_FILES)))
        expected = {n: d for n, d in expected.items() if not n.startswith("vornpatch.vp~/")}
    after_files = lower_keys(world.game_files(game_dir))
    expect(after_files == expected, "game files: %s differ" % sorted(
        n for n in set(after_files) | set(expected) if after_files.get(n) != expected.get(n)))
    version = world.game_version()
    expect(version == (0x10000 if unchanged else 0x10001), "GameVersion %r" % version)
    expect(world.shortcuts() == row.get("shortcuts", {}), "shortcuts: %r" % world.shortcuts())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--visible", action="store_true", help="use the current DISPLAY")
    parser.add_argument("-k", dest="filter", default="", help="run the rows whose name has one of these (comma-separated)")
    options = parser.parse_args()
    work = os.path.abspath("build/e2e")  # run.sh starts in the repository's root
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
                    run_row(world, row)
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
