#!/usr/bin/env python3
"""How many bytes of the shipped patcher each part takes: links the patcher of a Windows build
folder once more, unstripped and with a linker map (the sections come out the same size as in
the stripped program, which is checked), and sums what each object file puts into the sections
the program file carries. Prints one line per part and the largest objects.

Usage: patcher_size_share.py [BUILD_DIR]   (default build/win-i686)"""

import collections
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PARTS = {
    "Tarn decoder": ("tarn_decode.cpp.obj", "tarn_x86.cpp.obj"),
    "coded-member code": ("coded_file.cpp.obj", "solid_group.cpp.obj"),
}
FILE_SECTIONS = (".text", ".data", ".rdata", ".eh_frame", ".CRT", ".tls")
ENTRY = re.compile(r"^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")


def relink(folder):
    """Links patcher-map.exe beside patcher.exe with the same command, less -s, plus a map."""
    with open(os.path.join(folder, "CMakeFiles", "patcher.dir", "link.txt")) as f:
        command = [line for line in f if "-o patcher.exe" in line][0]
    command = command.replace(" -s ", " ").replace("-o patcher.exe", "-o patcher-map.exe "
                                                   "-Wl,-Map=patcher.map")
    command = re.sub(r"-Wl,--out-implib,\S+", "", command)
    subprocess.run(command, shell=True, cwd=folder, check=True)


def section_sizes(program):
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-h", program], capture_output=True,
                          text=True, check=True).stdout
    return {m.group(1)[:8]: int(m.group(2), 16)
            for m in re.finditer(r"^\s+\d+ (\S+)\s+([0-9a-f]+)", dump, re.M)}


def object_bytes(map_path):
    """{object: bytes in file sections}, from the input sections under each output section."""
    sizes, output, pending = collections.Counter(), None, False
    for line in open(map_path, errors="replace"):
        if re.match(r"^\.\S+", line):
            output = line.split()[0]
        m = ENTRY.match(line)
        if m and int(m.group(2), 16) and output in FILE_SECTIONS:
            sizes[os.path.basename(m.group(4).split("(")[-1].rstrip(")"))] += int(m.group(3), 16)
    return sizes


def main():
    folder = os.path.join(ROOT, sys.argv[1] if len(sys.argv) > 1 else "build/win-i686", "patcher")
    relink(folder)
    shipped, mapped = (section_sizes(os.path.join(folder, n))
                       for n in ("patcher.exe", "patcher-map.exe"))
    if any(shipped.get(s[:8]) != mapped.get(s[:8]) for s in FILE_SECTIONS):
        sys.exit("the relinked patcher's sections differ from the shipped one's")
    sizes = object_bytes(os.path.join(folder, "patcher.map"))
    program = os.path.getsize(os.path.join(folder, "patcher.exe"))
    total = sum(sizes.values())
    print("patcher.exe %d bytes; code and data in its sections %d bytes" % (program, total))
    for part, objects in PARTS.items():
        share = sum(sizes[o] for o in objects)
        print("%s (%s): %d bytes, %.1f %% of the file" % (part, ", ".join(objects), share,
                                                            100 * share / program))
    for name, size in sizes.most_common(12):
        print("  %6d %s" % (size, name))


if __name__ == "__main__":
    main()
