"""Applies the example patch to a sample game installation in a throwaway Wine prefix and
prints what the patcher did. Started by scripts/demo.sh, which builds everything first."""

import argparse
import os
import shutil
import sys
import threading
import time

TILE_COUNT = 3000
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import harness  # noqa: E402
from world import GAME_DIR, GAME_KEY, World  # noqa: E402


class FrameGrabber(threading.Thread):
    """Takes a screenshot every few tenths of a second, to catch the progress dialog."""

    def __init__(self, desktop, folder):
        super().__init__(daemon=True)
        self.desktop = desktop
        self.folder = folder
        self.frames = []
        self.stopping = threading.Event()

    def run(self):
        index = 0
        while not self.stopping.is_set():
            titles = self.desktop.xdotool("search", "--onlyvisible", "--name", ".") or ""
            names = [self.desktop.xdotool("getwindowname", w) or "" for w in titles.split()]
            path = os.path.join(self.folder, "frame-%03d.png" % index)
            taken = time.time()
            self.desktop.screenshot(path)
            self.frames.append((taken, path, names))
            index += 1
            time.sleep(0.2)


def read_source_tree(source):
    files = {}
    for base, _, names in os.walk(source):
        for name in names:
            full = os.path.join(base, name)
            with open(full, "rb") as f:
                files[os.path.relpath(full, source).replace(os.sep, "/")] = f.read()
    return files


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--visible", action="store_true",
                        help="show the patcher on the current DISPLAY (still answered by script)")
    parser.add_argument("--interactive", action="store_true",
                        help="show it on the current DISPLAY and let the user answer")
    options = parser.parse_args()

    tool = os.environ["VORN_TOOL"]
    stub = os.environ["VORN_STUB"]
    helpers = os.environ["VORN_HELPERS"]
    work = os.path.join(ROOT, "build", "demo")
    shots = os.path.join(work, "screenshots")
    shutil.rmtree(shots, ignore_errors=True)
    os.makedirs(shots)

    visible = options.visible or options.interactive
    with harness.Desktop(visible=visible) as desktop:
        wine = harness.Wine(desktop, helpers)
        wine.start_server()
        world = World(wine, tool, stub, os.path.join(work, "sources"))
        try:
            print("Installing the sample game into %s (prefix %s)" % (GAME_DIR, wine.prefix))
            world.install_game(version=0x10000, pack="lzss",
                               files={"Vorn.dat": b"game data of version 1.00\r\n"})
            world.reset_menu(["Kavelunde/Vorn"])
            before_files = world.game_files()
            before_version = world.game_version()

            # The example patch, with generated tiles beside its own files, so that the copy
            # lasts long enough for the progress dialog to be seen.
            source = os.path.join(work, "patch-source")
            shutil.rmtree(source, ignore_errors=True)
            shutil.copytree(os.path.join(ROOT, "examples", "patch"), source)
            tiles = os.path.join(source, "Files", "Data", "Tiles")
            os.makedirs(tiles)
            for i in range(TILE_COUNT):
                with open(os.path.join(tiles, "tile%04d.bin" % i), "wb") as f:
                    f.write((b"tile %04d row " % i) * (i % 97 + 40))
            patch = "C:\\patches\\VornPatch-1.01A.exe"
            host_patch = wine.host_path(patch)
            os.makedirs(os.path.dirname(host_patch), exist_ok=True)
            world.vornpatch("build", source, "-o", host_patch, "--stub", stub)
            print("Built %s from examples/patch plus %d generated tiles: %d bytes (patcher %d "
                  "bytes + payload)" % (host_patch, TILE_COUNT,
                os.path.getsize(host_patch), os.path.getsize(stub)))
            listing = world.vornpatch("list", host_patch).stdout
            lines = listing.splitlines()
            shown = lines[:6] + ["..."] + lines[-3:] if len(lines) > 12 else lines
            print("Patch contents:\n" + "".join("    " + l + "\n" for l in shown))

            grabber = FrameGrabber(desktop, shots)
            grabber.start()
            if options.interactive:
                answers = []
                print("Answer the patcher's questions on your display.")
            else:
                answers = [("continue", "y"), ("", "Return"), ("", "Return"), ("", "Return")]
            timeout = 600 if options.interactive else 120
            result = wine.drive(patch, answers, shots_dir=None if options.interactive else shots,
                                timeout=timeout)
            grabber.stopping.set()
            grabber.join()
        finally:
            wine.stop_server()

    print("Messages shown (caption: text -> answer):")
    for box in result.boxes:
        print("    [%s] %s -> %s" % (box.caption, box.text.replace("\n", " | "), box.answer))
    print("Exit code: %s" % result.exit_code)
    after_files = world.game_files()
    changed = sorted(name for name in after_files
                     if before_files.get(name) != after_files[name])
    print("Files written into the game folder (%d):" % len(changed))
    listed = [n for n in changed if "/Tiles/" not in n and "/TILES/" not in n]
    if len(listed) < len(changed):
        print("    (and %d generated tiles in DATA/TILES)" % (len(changed) - len(listed)))
    for name in listed:
        state = "replaced" if name in before_files else "new"
        print("    %-40s %8d bytes  %s" % (name, len(after_files[name]), state))
    after_version = world.game_version()
    fmt = lambda v: "absent" if v is None else "0x%08X (%d.%d)" % (v, v >> 16, v & 0xFFFF)
    print("Registry %s\\GameVersion: before %s, after %s" % (GAME_KEY, fmt(before_version),
                                                             fmt(after_version)))
    shortcuts = world.shortcuts()
    print("Shortcuts made in the programs menu: %s" % (", ".join(shortcuts) or "none"))
    # The progress dialog is up between the answer to the start question and the next box.
    copy_frames = []
    if len(result.boxes) >= 2:
        # A box takes a moment to go away after its answer.
        start, end = result.boxes[0].answered_at + 0.3, result.boxes[1].shown_at
        copy_frames = [path for when, path, names in grabber.frames
                       if start < when < end and "VORN Patch" in names]
    if len(result.boxes) >= 2:
        print("The copy took %.1f s." % (result.boxes[1].shown_at - result.boxes[0].answered_at))
    kept = None
    if copy_frames:
        kept = os.path.join(shots, "progress-dialog.png")
        os.replace(copy_frames[len(copy_frames) // 2], kept)
    for _, path, _ in grabber.frames:
        if os.path.exists(path):
            os.unlink(path)
    print("Screenshots of the message boxes: %s" % (
        ", ".join(b.screenshot for b in result.boxes if b.screenshot) or "none"))
    print("Screenshot of the progress dialog: %s" % (
        kept or "none caught (the copy was too quick)"))
    ok = result.exit_code == 0 and not result.timed_out and after_version == 0x10001
    print("Demo %s." % ("succeeded" if ok else "FAILED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
