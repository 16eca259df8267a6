"""The sample world the patcher runs in: a Wine prefix with an installed game (registry key,
game folder with Vorn.exe and the localisation pack), a programs menu, and patches built with
the vornpatch tool from a patch source (Patch.ini + Files/)."""

import os
import shutil
import struct
import subprocess
import tempfile

GAME_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Kavelunde\Vorn"
GAME_DIR = "C:\\Games\\Vorn\\"
MUTEX_NAME = "Vorn_Ashen_Banner_Ver_01"

# The texts a shipped patch carries.
SHIPPED_TEXTS = {
    "title": "VORN Patch",
    "welcome": "This will upgrade VORN to version 1.01A (English version only!). "
               "Do you want to continue?",
    "vornrun": "You are running VORN. Please quit the game and restart the patch!",
    "notvorn": "VORN is not installed!",
    "ver": "10001",
    "vermin": "10000",
    "errvermin": "This patch needs VORN version 1.00 or later!",
    "noneed": "You can't update your copy of VORN because you have a more recent version!",
    "lang": "English",
    "wronglang": "This patch is for the english version of VORN only!",
    "copy": "Updating VORN. Please, wait...",
    "errcopy": "Error while trying to copy %s",
    "errnotcomplete": "VORN update was NOT completed successfuly!",
    "done": "VORN was updated to version 1.01A successfuly!",
}

DEFAULT_FILES = {
    "Vorn.dat": b"new game data\r\n" * 100,
    "packs/units.wdt": bytes(range(256)) * 64,
    "maps/north/glacier.map": b"glacier map v2",
    "maps/north/deep/cave.map": b"a cave",
    "readme-1.01A.txt": b"What is new in 1.01A\r\n",
    "empty.cfg": b"",
}


def ini_text(texts):
    lines = ["; patch settings", "[str]"]
    lines += ["%s=%s" % (key, value) for key, value in texts.items()]
    return "\r\n".join(lines) + "\r\n"


class World:
    def __init__(self, wine, tool, stub, work_dir):
        self.wine = wine
        self.tool = tool  # native vornpatch
        self.stub = stub  # the patcher program that heads every patch
        self.work = work_dir
        os.makedirs(self.work, exist_ok=True)
        self.counter = 0

    # --- the tool -------------------------------------------------------------------------
    def vornpatch(self, *args):
        result = subprocess.run([self.tool, *args], capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError("vornpatch %s failed: %s" % (" ".join(args), result.stderr))
        return result

    def _fresh_dir(self, name):
        self.counter += 1
        path = os.path.join(self.work, "%03d-%s" % (self.counter, name))
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    @staticmethod
    def write_tree(root, files):
        for relative, data in files.items():
            target = os.path.join(root, *relative.split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)

    def make_patch(self, texts=None, files=None, name="patch", raw_ini=None):
        """Builds a patch into C:\\patches and returns its Windows path."""
        source = self._fresh_dir(name)
        if raw_ini is not None or texts is not None:
            with open(os.path.join(source, "Patch.ini"), "w", newline="") as f:
                f.write(raw_ini if raw_ini is not None else ini_text(texts))
        os.makedirs(os.path.join(source, "Files"), exist_ok=True)
        self.write_tree(os.path.join(source, "Files"), DEFAULT_FILES if files is None else files)
        windows_path = "C:\\patches\\%s-%d.exe" % (name, self.counter)
        out = self.wine.host_path(windows_path)
        os.makedirs(os.path.dirname(out), exist_ok=True)
        self.vornpatch("build", source, "-o", out, "--stub", self.stub)
        return windows_path

    def place_file(self, windows_path, data):
        host = self.wine.host_path(windows_path)
        os.makedirs(os.path.dirname(host), exist_ok=True)
        with open(host, "wb") as f:
            f.write(data)
        return windows_path

    # --- the installed game ---------------------------------------------------------------
    def local_pack(self, form, language="English", peon="peasant"):
        """Makes the game's localisation pack in the given form: plain, lzss or hpfs."""
        tree = self._fresh_dir("local")
        files = {"LOCAL/units.txt": b"peasant footman knight\r\n"}
        if language is not None:
            files["LOCAL/strings3.ini"] = ("[system]\r\nlanguage=%s\r\n" % language).encode()
        if peon is not None:
            files["LOCAL/strings.ini"] = ("[objects]\r\npeon=%s\r\n" % peon).encode()
        self.write_tree(tree, files)
        out = tree + ".wdt"
        if form == "plain":
            self.vornpatch("pack", tree, "-o", out)
        elif form == "lzss":
            self.vornpatch("pack", tree, "-o", out + ".pak")
            self.vornpatch("lzss", "compress", out + ".pak", out)
        elif form == "hpfs":
            self.vornpatch("hpfs", "create", tree, "-o", out)
        elif form == "hpfs-lzss":
            self.vornpatch("hpfs", "create", tree, "-o", out, "--lzss")
        elif form == "damaged":
            return bytes((i * 131 + 7) % 251 for i in range(5000))
        elif form == "huge-block":  # a container whose blocks a reader would need 3.5 GiB for
            return b"LZSS" + struct.pack("<IIBBI", 0xDFFFFFFF, 0xE0000000, 0xC4, 0, 18) + bytes(64)
        else:
            raise ValueError(form)
        with open(out, "rb") as f:
            return f.read()

    def install_game(self, path=GAME_DIR, registry_path=None, version=0x10000,
                     language="English", exe=True, pack="plain", pack_language="English",
                     peon="peasant", files=None):
        game = self.wine.host_path(path)
        shutil.rmtree(game, ignore_errors=True)
        os.makedirs(os.path.join(game, "packs"))
        if exe:
            with open(os.path.join(game, "Vorn.exe"), "wb") as f:
                f.write(b"MZ sample game executable")
        if pack:
            with open(os.path.join(game, "packs", "local.wdt"), "wb") as f:
                f.write(self.local_pack(pack, pack_language, peon))
        if files:
            self.write_tree(game, files)
        self.set_registry(registry_path if registry_path is not None else path, version,
                          language)
        return game

    def set_registry(self, path, version, language, present=True):
        text = "[-%s]\n" % GAME_KEY
        if present:
            text += "[%s]\n" % GAME_KEY
            if path is not None:
                text += '"Path"="%s"\n' % path.replace("\\", "\\\\")
            if version is not None:
                text += '"GameVersion"=dword:%08x\n' % version
            if language is not None:
                text += '"Language"="%s"\n' % language
        self.wine.import_registry(text)

    def game_version(self):
        value = self.wine.query_registry(GAME_KEY, "GameVersion")
        if value is None:
            return None
        kind, _, number = value.partition(" ")
        number = number.strip() or kind
        return int(number, 16) if number.lower().startswith("0x") else int(number, 0)

    def reset_menu(self, vorn_folders=()):
        """Empties the programs menu of earlier runs and makes the given folders in it."""
        programs = self.wine.programs_folder()
        for entry in os.listdir(programs):
            full = os.path.join(programs, entry)
            if entry.startswith("e2e-") or entry.lower() == "vorn" or entry.endswith(".lnk"):
                if os.path.isdir(full):
                    shutil.rmtree(full)
                else:
                    os.unlink(full)
        made = []
        for folder in vorn_folders:
            full = os.path.join(programs, *folder.split("/"))
            os.makedirs(full, exist_ok=True)
            made.append(full)
        return programs

    def shortcuts(self):
        programs = self.wine.programs_folder()
        found = []
        for base, _, names in os.walk(programs):
            for name in names:
                if name.lower().endswith(".lnk"):
                    found.append(os.path.relpath(os.path.join(base, name), programs))
        return sorted(found)

    def read_game_file(self, relative):
        with open(os.path.join(self.wine.host_path(GAME_DIR), *relative.split("/")), "rb") as f:
            return f.read()

    def game_files(self, path=GAME_DIR):
        root = self.wine.host_path(path)
        listing = {}
        for base, _, names in os.walk(root):
            for name in names:
                full = os.path.join(base, name)
                with open(full, "rb") as f:
                    listing[os.path.relpath(full, root).replace(os.sep, "/")] = f.read()
        return listing


def crafted_pack(members):
    """A pack written without the tool, for members the tool refuses to write (names that
    escape their folder). members: list of (name, bytes), written in the given order."""
    import struct
    import zlib
    directory = b""
    previous = b""
    names = [name.encode() for name, _ in members]
    offsets = []
    entries = []
    for name in names:
        shared = 0
        while shared < min(len(name), len(previous)) and name[shared] == previous[shared]:
            shared += 1
        entries.append((name, shared))
        previous = name
    directory_size = sum(2 + len(n) - s + 8 for n, s in entries)
    data_start = 40 + directory_size + 4 * len(members)
    position = data_start
    for _, data in members:
        offsets.append(position)
        position += len(data)
    for (name, shared), offset, (_, data) in zip(entries, offsets, members):
        directory += bytes([len(name), shared]) + name[shared:] + struct.pack("<II", offset,
                                                                             len(data))
    header = b"KVLSYS PackFile\n\x1a\x00".ljust(32, b"\x00")
    header += struct.pack("<II", len(members), len(directory))
    crcs = b"".join(struct.pack("<I", zlib.crc32(data)) for _, data in members)
    return header + directory + crcs + b"".join(data for _, data in members)
