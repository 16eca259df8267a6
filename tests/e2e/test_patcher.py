"""End-to-end tests of the patcher: the real Windows program under Wine, its boxes answered with
their mnemonic keys, their texts read from Wine's message-box trace, and its exit code, the game
files, the registry value, the shortcuts and the programs it starts checked afterwards.

Usage: test_patcher.py [--visible] [-k SUBSTRING] (run.sh sets up the programs it needs)."""

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import traceback

import harness
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "reference"))
import lzss_reference  # noqa: E402
import pack_reference  # noqa: E402
from world import (DEFAULT_FILES, GAME_DIR, GAME_KEY, MUTEX_NAME, SHIPPED_TEXTS, World,
                   crafted_pack, ini_text)

CASES = []


def case(function):
    CASES.append(function)
    return function


class Failed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failed(message)


def expect_equal(actual, expected, what):
    if actual != expected:
        raise Failed("%s: expected %r, got %r" % (what, expected, actual))


def texts(**changes):
    result = dict(SHIPPED_TEXTS)
    for key, value in changes.items():
        if value is None:
            result.pop(key, None)
        else:
            result[key] = value
    return result


T = SHIPPED_TEXTS
WELCOME = ("^" + T["welcome"].replace("(", r"\(").replace(")", r"\)").replace("?", r"\?")
           .replace(".", r"\.") + "$", "y")
DONE = ("^" + T["done"].replace(".", r"\.") + "$", "Return")


def lower_keys(files):
    return {k.lower(): v for k, v in files.items()}


def expect_copied(world, files=DEFAULT_FILES, path=GAME_DIR):
    present = lower_keys(world.game_files(path))
    for name, data in files.items():
        expect(name.lower() in present, "%s was not copied" % name)
        expect(present[name.lower()] == data, "%s differs after the copy" % name)


def expect_no_temporaries(world):
    left = [name for name in world.game_files() if name.lower().endswith(".vp~")]
    expect(not left, "temporaries left in the game folder: %r" % left)


def expect_boxes(result, expected_texts):
    detail = "exit code %s; Wine said: %s" % (
        result.exit_code, " / ".join(result.stderr.strip().splitlines()[-4:]))
    expect(not result.timed_out, "the patcher did not end in time; boxes: %r; %s" % (
        result.texts, detail))
    if result.texts != expected_texts:
        raise Failed("message boxes: expected %r, got %r; %s" % (expected_texts, result.texts,
                                                                 detail))
    expect(not result.unexpected, "unexpected boxes: %r" % result.unexpected)


# --- complete runs ---------------------------------------------------------------------------

@case
def complete_run_copies_the_tree_and_records_the_version(ctx):
    world = ctx.world
    world.install_game(version=0x10000)
    patch = world.make_patch(texts())
    result = ctx.run(patch, [WELCOME, DONE])
    expect_boxes(result, [T["welcome"], T["done"]])
    expect_equal(result.boxes[0].caption, "VORN Patch", "caption of the start question")
    expect_equal(result.exit_code, 0, "exit code")
    expect_copied(world)
    expect_equal(world.game_version(), 0x10001, "GameVersion after the run")
    expect_equal(world.shortcuts(), [], "shortcuts without pwt_shortcut")


@case
def equal_version_passes_and_a_dropped_file_does_not_confuse_the_own_path(ctx):
    world = ctx.world
    world.install_game(version=0x10001, pack="lzss")
    patch = world.make_patch(texts())
    result = ctx.run(patch, [WELCOME, DONE], args=("C:\\windows\\win.ini",))
    expect_boxes(result, [T["welcome"], T["done"]])
    expect_equal(result.exit_code, 0, "exit code")
    expect_copied(world)


@case
def start_question_answered_no_changes_nothing(ctx):
    world = ctx.world
    world.install_game(version=0x10000)
    before = world.game_files()
    patch = world.make_patch(texts())
    result = ctx.run(patch, [(WELCOME[0], "n")])
    expect_boxes(result, [T["welcome"]])
    expect_equal(result.exit_code, -1, "exit code")
    expect_equal(world.game_files(), before, "game folder")
    expect_equal(world.game_version(), 0x10000, "GameVersion")


# --- refusals before the copy ----------------------------------------------------------------

def refused(ctx, key, install=None, patch_texts=None, answers=None):
    world = ctx.world
    world.install_game(**(install or {}))
    before = world.game_files()
    version_before = world.game_version()
    patch = world.make_patch(patch_texts or texts())
    result = ctx.run(patch, answers or [WELCOME, ("", "Return")])
    message = (patch_texts or T)[key]
    expect_boxes(result, [T["welcome"], message])
    expect_equal(result.boxes[-1].caption, "VORN Patch", "caption of the error")
    expect_equal(result.exit_code, -1, "exit code")
    expect_equal(world.game_files(), before, "game folder after a refusal")
    expect_equal(world.game_version(), version_before, "GameVersion after a refusal")


@case
def running_game_is_refused(ctx):
    world = ctx.world
    stop = world.wine.host_path("C:\\e2e-stop-mutex")
    if os.path.exists(stop):
        os.unlink(stop)
    holder = world.wine.start_helper("hold_mutex.exe", [MUTEX_NAME, "C:\\e2e-stop-mutex"])
    try:
        time.sleep(1.5)
        refused(ctx, "vornrun")
    finally:
        open(stop, "w").close()
        holder.wait(timeout=30)
        os.unlink(stop)


@case
def missing_registry_key_means_not_installed(ctx):
    world = ctx.world
    world.install_game()
    world.set_registry(None, None, None, present=False)
    patch = world.make_patch(texts())
    result = ctx.run(patch, [WELCOME, ("", "Return")])
    expect_boxes(result, [T["welcome"], T["notvorn"]])
    expect_equal(result.exit_code, -1, "exit code")


@case
def missing_game_executable_means_not_installed(ctx):
    refused(ctx, "notvorn", install=dict(exe=False))


@case
def newer_installed_version_is_refused(ctx):
    refused(ctx, "noneed", install=dict(version=0x10002))


@case
def version_below_the_minimum_is_refused(ctx):
    refused(ctx, "errvermin", install=dict(version=0x0FFFF))


@case
def other_registry_language_is_refused(ctx):
    refused(ctx, "wronglang", install=dict(language="Deutsch"))


@case
def other_pack_language_is_refused_in_every_pack_form(ctx):
    for form in ("plain", "lzss", "hpfs"):
        try:
            refused(ctx, "wronglang", install=dict(pack=form, pack_language="Deutsch"))
        except Failed as failure:
            raise Failed("%s pack: %s" % (form, failure))


@case
def other_language_in_an_lzss_wrapped_hpfs_pack_is_refused(ctx):
    refused(ctx, "wronglang", install=dict(pack="hpfs-lzss", pack_language="Deutsch"))


@case
def unreadable_or_incomplete_game_packs_pass_the_language_checks(ctx):
    world = ctx.world
    for install in (dict(pack="damaged"), dict(pack=None), dict(pack="huge-block"),
                    dict(pack="lzss", pack_language=None, peon=None)):
        world.install_game(**install)
        result = ctx.run(world.make_patch(texts()), [WELCOME, DONE])
        try:
            expect_boxes(result, [T["welcome"], T["done"]])
        except Failed as failure:
            raise Failed("%r: %s" % (install, failure))


@case
def other_unit_name_is_refused(ctx):
    refused(ctx, "wronglang", install=dict(pack="hpfs", peon="footman"))


@case
def language_checks_ignore_letter_case_and_pass_on_an_hpfs_pack(ctx):
    world = ctx.world
    world.install_game(language="ENGLISH", pack="hpfs", pack_language="english", peon="PEASANT")
    result = ctx.run(world.make_patch(texts()), [WELCOME, DONE])
    expect_boxes(result, [T["welcome"], T["done"]])
    expect_equal(result.exit_code, 0, "exit code")


@case
def empty_lang_skips_every_language_check(ctx):
    world = ctx.world
    world.install_game(language="Deutsch", pack="plain", pack_language="Deutsch", peon="x")
    result = ctx.run(world.make_patch(texts(lang="")), [WELCOME, DONE])
    expect_boxes(result, [T["welcome"], T["done"]])
    expect_equal(result.exit_code, 0, "exit code")


@case
def patch_without_settings_ends_silently(ctx):
    world = ctx.world
    world.install_game()
    # The tool refuses to build a patch without Patch.ini, so this one is put together by hand.
    patch = ctx.patch_from_pack(crafted_pack([("FILES\\README.TXT", b"text")]))
    result = ctx.run(patch, [])
    expect_boxes(result, [])
    expect_equal(result.exit_code, -1, "exit code")


@case
def unusable_payload_ends_silently(ctx):
    world = ctx.world
    world.install_game()
    import struct
    header = b"LZSS" + struct.pack("<II", 1000, 0x8000) + bytes([0xC4, 0])
    with open(ctx.stub, "rb") as f:
        data = f.read() + header + struct.pack("<I", 0xFFFFFF00) + b"\x55" * 700
    patch = world.place_file("C:\\patches\\unusable-payload.exe", data)
    result = ctx.run(patch, [])
    expect_boxes(result, [])
    expect_equal(result.exit_code, -1, "exit code")


def payload_container(pack, length=None):
    """A payload of 32 KiB blocks stored raw, and empty (zeros) from the pack's end to length."""
    blocks = [pack[i:i + 0x8000] for i in range(0, len(pack), 0x8000)]
    blocks[-1] = blocks[-1].ljust(0x8000, b"\0")
    length = length or len(blocks) * 0x8000
    blocks += [b""] * ((length - 1) // 0x8000 + 1 - len(blocks))
    table, at = [], 14 + 4 * len(blocks)
    for block in blocks:
        table.append(at)
        at += len(block)
    return (b"LZSS" + struct.pack("<II", length, 0x8000) + bytes([0xC4, 0]) +
            struct.pack("<%dI" % len(blocks), *table) + b"".join(blocks))


@case
def payload_directory_that_is_not_whole_changes_nothing(ctx):
    # An empty component made the copy walk one folder forever; the others were copied in part
    # and reported done, or (a member claiming more than the payload holds) written in part.
    world = ctx.world
    ini = ("PATCH.INI", ini_text(texts()).encode())
    good = ("FILES\\GOOD.TXT", b"good")
    cut = bytearray(crafted_pack([good, ini, ("ZZ.TXT", b"cut off")]))
    struct.pack_into("<I", cut, 36, struct.unpack_from("<I", cut, 36)[0] - 3)
    bomb = bytearray(crafted_pack([("FILES\\BOMB.DAT", b""), ini]))
    struct.pack_into("<I", bomb, 40 + 2 + 14 + 4, 0x7FF00000)
    for name, payload in [
            ("empty component", payload_container(crafted_pack([("FILES\\A\\\\B.TXT", b"x"),
                                                               good, ini]))),
            ("out of order", payload_container(crafted_pack([ini, good]))),
            ("cut directory", payload_container(bytes(cut))),
            ("lower-case name", payload_container(crafted_pack([good, ("FILES\\low.txt", b"x"),
                                                               ini]))),
            ("member larger than the payload", payload_container(bytes(bomb), 64 << 20))]:
        world.install_game()
        before, version = world.game_files(), world.game_version()
        patch = ctx.patch_from_container(payload)
        result = ctx.run(patch, [("^Patch file is broken!$", "Return")])
        expect(not result.timed_out and result.texts in ([], ["Patch file is broken!"]),
               "%s: boxes %r, timed out: %s" % (name, result.texts, result.timed_out))
        expect_equal(result.exit_code, -1, name + ": exit code")
        expect_equal(world.game_files(), before, name + ": game folder")
        expect_equal(world.game_version(), version, name + ": GameVersion")


# --- sealed and signed patches ---------------------------------------------------------------

def signed(ctx, patch):
    """A copy of the patch signed with a throwaway certificate, whose signature verifies."""
    host = ctx.world.wine.host_path(patch)
    key, cert = os.path.join(ctx.world.work, "key.pem"), os.path.join(ctx.world.work, "cert.pem")
    if not os.path.exists(cert):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-out", cert, "-days", "2", "-subj", "/CN=e2e"], check=True, capture_output=True)
    if os.path.exists(host + ".signed.exe"):  # osslsigncode will not overwrite it
        os.unlink(host + ".signed.exe")
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", host, "-out",
                    host + ".signed.exe"], check=True, capture_output=True)
    subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", host + ".signed.exe"],
                   check=True, capture_output=True)
    return patch + ".signed.exe"


@case
def signed_patches_from_the_tool_and_an_independent_writer_apply_fully(ctx):
    world = ctx.world
    members = [(b"PATCH.INI", ini_text(SHORTCUT).encode())]
    members += [(b"FILES/" + name.encode(), data) for name, data in DEFAULT_FILES.items()]
    with open(ctx.stub, "rb") as f:
        stub = f.read()
    container = lzss_reference.encode_container(pack_reference.build_pack(members))
    foreign = world.place_file("C:\\patches\\foreign.exe", stub + container)
    for patch in (world.make_patch(SHORTCUT), foreign):
        world.install_game()
        world.reset_menu()
        result = ctx.run(signed(ctx, patch), [WELCOME, DONE])
        expect_boxes(result, [T["welcome"], T["done"]])
        expect_equal(result.exit_code, 0, "exit code")
        expect_copied(world)
        expect_equal(world.game_version(), 0x10001, "GameVersion")
        expect_equal(world.shortcuts(), ["Vorn Online.lnk"], "shortcuts")


@case
def damaged_or_cut_patch_is_refused_before_any_question(ctx):
    world = ctx.world
    files = dict(DEFAULT_FILES, **{"noise.bin": random.Random(5).randbytes(70000)})
    with open(world.wine.host_path(world.make_patch(SHORTCUT, files=files)), "rb") as f:
        data = f.read()
    record = os.path.getsize(ctx.stub)
    start = record + 24
    length = struct.unpack_from("<I", data, start + 4)[0]
    count = (length - 1) // 32768 + 1
    table = list(struct.unpack_from("<%dI" % count, data, start + 14)) + [len(data) - start]
    raw = [i for i in range(count) if table[i + 1] - table[i] == min(32768, length - 32768 * i)]
    coded = [i for i in range(count) if i not in raw]

    def flipped(at):
        return data[:at] + bytes([data[at] ^ 0x10]) + data[at + 1:]
    for name, damaged in (("stub only", data[:record]), ("cut in the record", data[:record + 9]),
                          ("cut mid-payload", data[:(start + len(data)) // 2]),
                          ("cut at the last block", data[:start + table[-2]]),
                          ("coded block flipped", flipped(start + table[coded[0]] + 40)),
                          ("raw block flipped", flipped(start + table[raw[0]] + 100))):
        world.install_game()
        before = world.game_files()
        path = world.place_file("C:\\patches\\damaged.exe", damaged)
        result = ctx.run(path, [("^Patch file is broken!$", "Return")])
        try:
            expect_boxes(result, ["Patch file is broken!"])
            expect_equal(result.boxes[0].caption, "VORN Patch", "caption")
            expect_equal(result.exit_code, -1, "exit code")
            expect_equal(world.game_files(), before, "game folder")
            expect_equal(world.game_version(), 0x10000, "GameVersion")
            expect_equal(world.shortcuts(), [], "shortcuts")
        except Failed as failure:
            raise Failed("%s: %s" % (name, failure))


# --- the start question's second form ---------------------------------------------------------

@case
def welcome2_shows_version_and_folder(ctx):
    world = ctx.world
    world.install_game(version=None)
    form = "Installed %d.%d in %s - update?"
    result = ctx.run(world.make_patch(texts(welcome2=form)),
                     [(r"^Installed 1\.0 in C:\\Games\\Vorn\\ - update\?$", "y"), DONE])
    expect_boxes(result, ["Installed 1.0 in C:\\Games\\Vorn\\ - update?", T["done"]])


@case
def welcome2_is_skipped_when_the_path_lacks_its_backslash(ctx):
    world = ctx.world
    world.install_game(registry_path="C:\\Games\\Vorn")
    result = ctx.run(world.make_patch(texts(welcome2="v%d.%d at %s")), [WELCOME, DONE])
    expect_boxes(result, [T["welcome"], T["done"]])
    expect_copied(world)


@case
def welcome2_with_unsafe_conversions_is_shown_as_it_stands(ctx):
    world = ctx.world
    world.install_game()
    form = "Update %s%s%n now?"
    result = ctx.run(world.make_patch(texts(welcome2=form)), [(r"^Update %s%s%n now\?$", "y"),
                                                               DONE])
    expect_boxes(result, [form, T["done"]])
    expect_equal(result.exit_code, 0, "exit code")


# --- failed copies ----------------------------------------------------------------------------

def locked_copy(ctx, answer, relative="Vorn.dat", on_box=None, final=None, patch_texts=None):
    world = ctx.world
    world.install_game(files={relative: b"old contents"})
    stop = "C:\\e2e-stop-lock"
    if os.path.exists(world.wine.host_path(stop)):
        os.unlink(world.wine.host_path(stop))
    locker = world.wine.start_helper("lock_file.exe",
                                     [GAME_DIR + relative.replace("/", "\\"), stop])
    time.sleep(1.5)
    error_text = "Error while trying to copy " + relative.upper().replace("/", "\\")
    answers = [WELCOME, ("^" + error_text.replace("\\", r"\\").replace(".", r"\.") + "$",
                         answer)]
    if final:
        answers.append(final)
    try:
        result = ctx.run(world.make_patch(patch_texts or texts()), answers, on_box=on_box)
    finally:
        open(world.wine.host_path(stop), "w").close()
        locker.wait(timeout=30)
        os.unlink(world.wine.host_path(stop))
    return result, error_text


@case
def ignored_copy_error_finishes_with_not_completed(ctx):
    world = ctx.world
    final = ("^" + T["errnotcomplete"] + "$", "Return")
    result, error_text = locked_copy(ctx, "i", final=final,
                                     patch_texts=texts(pwt_shortcut="1", pwt_name="Vorn Online"))
    expect_boxes(result, [T["welcome"], error_text, T["errnotcomplete"]])
    expect_equal(result.boxes[1].caption, "Error", "caption of the copy question")
    expect_equal(result.exit_code, 0, "exit code")
    others = {k: v for k, v in DEFAULT_FILES.items() if k != "Vorn.dat"}
    expect_copied(world, others)
    expect_equal(world.read_game_file("Vorn.dat"), b"old contents", "the file that failed")
    expect_no_temporaries(world)
    expect_equal(world.game_version(), 0x10000, "GameVersion after an ignored error")
    expect_equal(world.shortcuts(), [], "shortcuts after an ignored error")


@case
def retry_after_the_cause_is_removed_completes_the_copy(ctx):
    world = ctx.world

    def release(index, text):
        if index == 1:
            open(world.wine.host_path("C:\\e2e-stop-lock"), "w").close()
            time.sleep(1.0)

    result, error_text = locked_copy(ctx, "r", relative="maps/north/glacier.map",
                                     on_box=release, final=DONE)
    expect_boxes(result, [T["welcome"], error_text, T["done"]])
    expect_equal(result.exit_code, 0, "exit code")
    expect_copied(world)
    expect_no_temporaries(world)
    expect_equal(world.game_version(), 0x10001, "GameVersion")


@case
def abort_ends_at_once_with_minus_one(ctx):
    world = ctx.world
    final = ("^" + T["errnotcomplete"] + "$", "Return")
    result, error_text = locked_copy(ctx, "a", final=final)
    expect_boxes(result, [T["welcome"], error_text, T["errnotcomplete"]])
    expect_equal(result.exit_code, -1, "exit code")
    expect_equal(world.read_game_file("Vorn.dat"), b"old contents", "the file that failed")
    expect_no_temporaries(world)
    expect_equal(world.game_version(), 0x10000, "GameVersion after an abort")


@case
def temporaries_left_by_a_stopped_run_are_removed(ctx):
    world = ctx.world
    stale = {"Vorn.dat": b"old", "Vorn.dat.vp~": b"half of a new Vorn.dat",
             "maps/north/glacier.map.vp~": b"half a map"}
    world.install_game(files=stale)
    result = ctx.run(world.make_patch(texts()), [WELCOME, DONE])
    expect_boxes(result, [T["welcome"], T["done"]])
    expect_copied(world)
    expect_no_temporaries(world)


@case
def folder_blocked_by_a_file_is_a_failed_copy(ctx):
    world = ctx.world
    game = world.install_game()
    with open(os.path.join(game, "maps"), "wb") as f:
        f.write(b"a file where the patch needs a folder")
    final = ("^" + T["errnotcomplete"] + "$", "Return")
    result = ctx.run(world.make_patch(texts()), [WELCOME, ("CAVE", "i"), ("GLACIER", "i"),
                                                  final])
    expect_boxes(result, [T["welcome"], "Error while trying to copy MAPS\\NORTH\\DEEP\\CAVE.MAP",
                          "Error while trying to copy MAPS\\NORTH\\GLACIER.MAP",
                          T["errnotcomplete"]])
    expect_equal(result.exit_code, 0, "exit code")


@case
def read_only_target_is_replaced(ctx):
    world = ctx.world
    game = world.install_game(files={"Vorn.dat": b"old"})
    os.chmod(os.path.join(game, "Vorn.dat"), 0o444)
    result = ctx.run(world.make_patch(texts()), [WELCOME, DONE])
    expect_boxes(result, [T["welcome"], T["done"]])
    expect_copied(world)
    expect_no_temporaries(world)
    expect(os.access(os.path.join(game, "Vorn.dat"), os.W_OK), "target is still read-only")


@case
def member_escaping_the_game_folder_is_refused(ctx):
    world = ctx.world
    world.install_game()
    pack = crafted_pack([
        ("FILES\\..\\..\\ESCAPED.TXT", b"must not be written"),
        ("FILES\\GOOD.TXT", b"good"),
        ("PATCH.INI", ini_text(texts()).encode()),
    ])
    patch = ctx.patch_from_pack(pack)
    final = ("^" + T["errnotcomplete"] + "$", "Return")
    result = ctx.run(patch, [WELCOME, ("copy", "i"), final])
    expect_equal(result.exit_code, 0, "exit code")
    expect(len(result.boxes) == 3 and "ESCAPED.TXT" in result.boxes[1].text,
           "no copy question for the escaping member: %r" % result.texts)
    expect(not os.path.exists(world.wine.host_path("C:\\ESCAPED.TXT")), "file escaped")
    expect(not os.path.exists(world.wine.host_path("C:\\Games\\ESCAPED.TXT")), "file escaped")
    expect_equal(lower_keys(world.game_files()).get("good.txt"), b"good", "GOOD.TXT")


# --- final steps ------------------------------------------------------------------------------

SHORTCUT = texts(pwt_shortcut="1", pwt_name="Vorn Online")


def shortcut_target(world, relative):
    with open(os.path.join(world.wine.programs_folder(), relative), "rb") as f:
        data = f.read()
    return b"pwtclient.exe" in data.lower()


@case
def shortcut_goes_into_the_programs_menu_without_a_vorn_folder(ctx):
    world = ctx.world
    world.install_game()
    world.reset_menu()
    result = ctx.run(world.make_patch(SHORTCUT), [WELCOME, DONE])
    expect_boxes(result, [T["welcome"], T["done"]])
    expect_equal(world.shortcuts(), ["Vorn Online.lnk"], "shortcuts")
    expect(shortcut_target(world, "Vorn Online.lnk"), "shortcut does not point at the client")


@case
def every_vorn_folder_gets_a_shortcut(ctx):
    world = ctx.world
    world.install_game()
    programs = world.reset_menu(["e2e-Games/vorn", "VORN"])
    os.makedirs(os.path.join(programs, "e2e-Other"), exist_ok=True)
    open(os.path.join(programs, "e2e-Other", "vorn"), "w").close()
    result = ctx.run(world.make_patch(SHORTCUT), [WELCOME, DONE])
    expect_boxes(result, [T["welcome"], T["done"]])
    expect_equal(world.shortcuts(), sorted([os.path.join("VORN", "Vorn Online.lnk"),
                                            os.path.join("e2e-Games", "vorn",
                                                         "Vorn Online.lnk")]), "shortcuts")


@case
def shortcut_name_with_a_separator_makes_no_shortcut(ctx):
    world = ctx.world
    world.install_game()
    world.reset_menu()
    result = ctx.run(world.make_patch(texts(pwt_shortcut="1", pwt_name="..\\..\\Startup\\x")),
                     [WELCOME, DONE])
    expect_boxes(result, [T["welcome"], T["done"]])
    expect_equal(world.shortcuts(), [], "shortcuts")


def installer_game(world, path):
    world.install_game(path=path)
    installer = world.wine.host_path(path + "GameSpy Arcade\\ArcadeInstallFull101b.EXE")
    os.makedirs(os.path.dirname(installer), exist_ok=True)
    shutil.copy(os.path.join(world.wine.tools_dir, "fake_installer.exe"), installer)
    return os.path.join(os.path.dirname(installer), "started.txt")


def wait_for(path, seconds=10):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if os.path.exists(path):
            return True
        time.sleep(0.2)
    return False


@case
def installer_is_started_when_the_user_says_yes_also_from_a_folder_with_spaces(ctx):
    world = ctx.world
    path = "C:\\Program Files\\Vorn Game\\"
    started = installer_game(world, path)
    decoy = world.wine.host_path("C:\\Program.exe")
    shutil.copy(os.path.join(world.wine.tools_dir, "fake_installer.exe"), decoy)
    decoy_started = world.wine.host_path("C:\\started.txt")
    for stale in (started, decoy_started):
        if os.path.exists(stale):
            os.unlink(stale)
    question = "Install GameSpy Arcade now?"
    try:
        result = ctx.run(world.make_patch(texts(gamespy=question)),
                         [WELCOME, ("^Install GameSpy", "y"), DONE])
        expect_boxes(result, [T["welcome"], question, T["done"]])
        expect(wait_for(started), "the installer was not started")
        expect(not os.path.exists(decoy_started), "C:\\Program.exe was started instead")
    finally:
        os.unlink(decoy)


@case
def missing_installer_still_ends_with_done(ctx):
    world = ctx.world
    world.install_game()
    question = "Install GameSpy Arcade now?"
    result = ctx.run(world.make_patch(texts(gamespy=question)),
                     [WELCOME, ("^Install GameSpy", "y"), DONE])
    expect_boxes(result, [T["welcome"], question, T["done"]])
    expect_equal(result.exit_code, 0, "exit code")


@case
def installer_is_not_started_when_the_user_says_no(ctx):
    world = ctx.world
    started = installer_game(world, GAME_DIR)
    question = "Install GameSpy Arcade now?"
    result = ctx.run(world.make_patch(texts(gamespy=question)),
                     [WELCOME, ("^Install GameSpy", "n"), DONE])
    expect_boxes(result, [T["welcome"], question, T["done"]])
    expect_equal(result.exit_code, 0, "exit code")
    time.sleep(1)
    expect(not os.path.exists(started), "the installer was started")


# --- driver -----------------------------------------------------------------------------------

class Context:
    def __init__(self, world, stub, shots_root):
        self.world = world
        self.stub = stub
        self.shots_root = shots_root
        self.name = None

    def run(self, patch, answers, args=(), on_box=None):
        shots = os.path.join(self.shots_root, self.name)
        os.makedirs(shots, exist_ok=True)
        return self.world.wine.drive(patch, answers, args=args, on_box=on_box, shots_dir=shots)

    def patch_from_pack(self, pack):
        work = tempfile.mkdtemp(dir=self.world.work)
        pack_path = os.path.join(work, "crafted.pak")
        with open(pack_path, "wb") as f:
            f.write(pack)
        container = pack_path + ".lzss"
        self.world.vornpatch("lzss", "compress", pack_path, container)
        with open(container, "rb") as f:
            return self.patch_from_container(f.read())

    def patch_from_container(self, container):
        self.world.counter += 1
        with open(self.stub, "rb") as f:
            data = f.read() + container
        return self.world.place_file("C:\\patches\\crafted-%d.exe" % self.world.counter, data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--visible", action="store_true", help="use the current DISPLAY")
    parser.add_argument("-k", dest="filter", default="", help="run the cases whose name has one of these (comma-separated)")
    parser.add_argument("--work", default=os.environ.get("VORN_E2E_WORK", "build/e2e"))
    options = parser.parse_args()

    tool = os.environ["VORN_TOOL"]
    stub = os.environ["VORN_STUB"]
    helpers = os.environ["VORN_HELPERS"]
    work = os.path.abspath(options.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    wanted = options.filter.split(",")
    selected = [c for c in CASES if any(w in c.__name__ for w in wanted)]
    passed = failed = 0
    with harness.Desktop(visible=options.visible) as desktop:
        wine = harness.Wine(desktop, helpers)
        wine.start_server()
        world = World(wine, tool, stub, os.path.join(work, "sources"))
        context = Context(world, stub, os.path.join(work, "screenshots"))
        try:
            for function in selected:
                context.name = function.__name__
                start = time.time()
                try:
                    world.reset_menu()
                    function(context)
                    passed += 1
                    print("PASS %s (%.1f s)" % (function.__name__, time.time() - start),
                          flush=True)
                except Failed as failure:
                    failed += 1
                    print("FAIL %s: %s" % (function.__name__, failure), flush=True)
                except Exception:
                    failed += 1
                    print("FAIL %s: exception\n%s" % (function.__name__, traceback.format_exc()),
                          flush=True)
        finally:
            wine.stop_server()
    print("end-to-end: %d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
