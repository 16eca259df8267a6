"""The sample world the patcher runs in: a Wine prefix with an installed game (registry key,
game folder with Vorn.exe and the localisation pack), a programs menu, and patches built with
the vornpatch tool from a patch source (Patch.ini + Files/)."""

import os
import shutil
import subprocess

GAME_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Kavelunde\Vorn"
GAME_DIR = "C:\\Games\\Vorn\\"
MUTEX_NAME = "Vorn_Ashen_Banner_Ver_01"

# The texts a shipped patch carries.
SHIPPED_TEXTS = {
    "title": "VORN Patch", "welcome": "Update VORN to 1.01A? Do you want to continue?",
    "vornrun": "You are running VORN.", "notvorn": "VORN is not installed!", "ver": "10001",
    "vermin": "10000", "errvermin": "Too old!", "noneed": "You have a more recent version!",
    "lang": "English", "wronglang": "English version only!", "copy": "Updating VORN...",
    "errcopy": "Error while trying to copy %s", "errnotcomplete": "NOT completed!",
    "done": "VORN was updated!",
}

DEFAULT_FILES = {
    "Vorn.dat": b"new game data\r\n" * 100,
    "packs/units.wdt": bytes(range(256)) * 64,
    "maps/north/glacier.map": b"glacier map v2",
    "readme-1.01A.txt": b"What is new in 1.01A\r\n",
    "empty.cfg": b"",
}


def ini_text(texts):
    return "\r\n".join(["[str]"] + ["%s=%s" % item for item in texts.items()]) + "\r\n"


def write_tree(root, files):
    for relative, data in files.items():
        target = os.path.join(root, *relative.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)


def read_tree(root):
    """{relative path with '/': bytes} of every file below root."""
    found = {}
    for base, _, names in os.walk(root):
        for name in names:
            with open(os.path.join(base, name), "rb") as f:
                found[os.path.relpath(os.path.join(base, name), root).replace(os.sep, "/")] = f.read()
    return found


class World:
    def __init__(self, wine, tool, stub, work_dir):
        self.wine = wine
        self.tool = tool  # native vornpatch
        self.stub = stub  # the patcher program that heads every patch
        self.work = work_dir
        self.counter = 0

    def vornpatch(self, *args):
        result = subprocess.run([self.tool, *args], capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError("vornpatch %s failed: %s" % (" ".join(args), result.stderr))
        return result

    def fresh_dir(self, name):
        self.counter += 1
        path = os.path.join(self.work, "%03d-%s" % (self.counter, name))
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def make_patch(self, texts, files=DEFAULT_FILES, base=None):
        """Builds a patch into C:\\patches (against the installed game in base) and returns its
        Windows path."""
        source = self.fresh_dir("patch")
        write_tree(source, dict({"Patch.ini": ini_text(texts).encode()},
                                **{"Files/" + name: data for name, data in files.items()}))
        path = "C:\\patches\\patch-%d.exe" % self.counter
        os.makedirs(os.path.dirname(self.wine.host_path(path)), exist_ok=True)
        self.vornpatch("build", source, "-o", self.wine.host_path(path), "--stub", self.stub,
                       *(["--base", base] if base else []))
        return path

    def place_file(self, windows_path, data):
        write_tree(self.wine.host_path("C:\\"), {windows_path[3:].replace("\\", "/"): data})
        return windows_path

    def local_pack(self, form):
        """The game's English localisation pack, plain or in a container ("lzss")."""
        tree = self.fresh_dir("local")
        write_tree(tree, {"LOCAL/strings3.ini": b"[system]\r\nlanguage=English\r\n",
                          "LOCAL/strings.ini": b"[objects]\r\npeon=peasant\r\n"})
        self.vornpatch("pack", tree, "-o", tree + ".pak")
        if form == "lzss":
            self.vornpatch("lzss", "compress", tree + ".pak", tree + ".lz")
        with open(tree + (".lz" if form == "lzss" else ".pak"), "rb") as f:
            return f.read()

    def install_game(self, path=GAME_DIR, version=0x10000, pack="plain", files=None):
        game = self.wine.host_path(path)
        shutil.rmtree(game, ignore_errors=True)
        write_tree(game, dict({"Vorn.exe": b"MZ sample game executable",
                               "packs/local.wdt": self.local_pack(pack)}, **(files or {})))
        self.wine.import_registry(
            '[-%s]\n[%s]\n"Path"="%s"\n"GameVersion"=dword:%08x\n"Language"="English"\n'
            % (GAME_KEY, GAME_KEY, path.replace("\\", "\\\\"), version))
        return game

    def game_version(self):
        value = self.wine.query_registry(GAME_KEY, "GameVersion")
        return None if value is None else int(value.split()[-1], 0)

    def reset_menu(self, vorn_folders=()):
        """Empties the programs menu of earlier runs and makes the given folders in it."""
        programs = self.wine.programs_folder()
        for entry in os.listdir(programs):
            full = os.path.join(programs, entry)
            if entry.startswith("e2e-") or entry.lower() == "vorn" or entry.endswith(".lnk"):
                shutil.rmtree(full) if os.path.isdir(full) else os.unlink(full)
        for folder in vorn_folders:
            os.makedirs(os.path.join(programs, *folder.split("/")), exist_ok=True)
        return programs

    def shortcuts(self):
        """The links in the programs menu: {relative path: whether it points at the client}."""
        return {name: b"pwtclient.exe" in data.lower()
                for name, data in read_tree(self.wine.programs_folder()).items()
                if name.lower().endswith(".lnk")}

    def game_files(self, path=GAME_DIR):
        return read_tree(self.wine.host_path(path))
