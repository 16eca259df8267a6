"""Times putting the benchmark corpus tree on the disk under Wine: our patcher applying the default
patch and the --codec lzss patch to an installed game, and NSIS installers (/SOLID lzma and zlib)
of the same tree installing silently into an empty folder; one Wine prefix, the runs interleaved
(the order turns each round, so the shared machine's load falls on all alike), medians of RUNS.
Wall seconds from the start to the end (less the time our start question waited for its answer)
and CPU seconds of the installing process: ours from /proc when its last box is up, an NSIS
installer's from its rusage. Neither counts the prefix's wineserver, a process of its own that
serves every file call, so its CPU seconds over each run (start to exit) are taken apart, for
all programs alike. Each run's result is checked: every file of the tree in place. Every run
installs into a folder of its own, and the folders go only after the last run: this machine's
ext4 has no journal, and there every file made within a minute or more of many deletions pays
a walk over the inodes just freed (the wineserver makes the files), which grew every
program's figures run by run when each run deleted the one before. Writes
"name<TAB>file bytes<TAB>wall<TAB>cpu<TAB>wineserver cpu<TAB>cpu of each run" lines (medians)
to RESULTS.tsv. Started by scripts/bench-apply.sh with the Wine set-up in place.

Usage: bench_patch_apply.py VORNPATCH PATCHER.exe HELPERS CORPUS_TREE RESULTS.tsv"""

import itertools
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import harness  # noqa: E402
from world import SHIPPED_TEXTS, World, ini_text  # noqa: E402

RUNS = 3
RUNS_DIR = "C:\\bench\\runs"
NSIS_SCRIPT = """Unicode true
Target amd64-unicode
SetCompressor {compressor}
Name "Vorn"
OutFile "{output}"
InstallDir "$PROGRAMFILES64\\Vorn"
RequestExecutionLevel user
Section
SetOutPath "$INSTDIR"
File /r "{tree}/*"
SectionEnd
"""


def tree_figures(root):
    """(file count, bytes) below root, to check that a run put the whole tree in place."""
    sizes = [os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(root) for n in names]
    return len(sizes), sum(sizes)


def build_programs(world, wine, tree, work):
    """{name: Windows path} of the four programs that install the tree."""
    source = os.path.join(work, "source")
    shutil.rmtree(source, ignore_errors=True)
    os.makedirs(source)
    with open(os.path.join(source, "Patch.ini"), "w", newline="") as f:
        f.write(ini_text(SHIPPED_TEXTS))
    os.symlink(tree, os.path.join(source, "Files"))
    programs = {}
    os.makedirs(wine.host_path("C:\\patches"), exist_ok=True)
    for name, options in (("patcher, default patch", []),
                          ("patcher, --codec lzss patch", ["--codec", "lzss"])):
        path = "C:\\patches\\bench-%s.exe" % ("lzss" if options else "default")
        world.vornpatch("build", source, "-o", wine.host_path(path), "--stub", world.stub,
                        "--follow-links", *options)
        programs[name] = path
    for name, compressor in (("NSIS /SOLID lzma", "/SOLID lzma"), ("NSIS zlib", "zlib")):
        path = "C:\\patches\\bench-nsis-%s.exe" % compressor.split()[-1]
        script = os.path.join(work, "bench-%s.nsi" % compressor.split()[-1])
        with open(script, "w") as f:
            f.write(NSIS_SCRIPT.format(compressor=compressor, output=wine.host_path(path), tree=tree))
        subprocess.run(["makensis", "-V1", script], check=True, stdout=subprocess.DEVNULL)
        programs[name] = path
    return programs


def server_cpu():
    """CPU seconds so far of the wineserver of this prefix (the one started with -p)."""
    mark = ("WINEPREFIX=" + os.environ["WINEPREFIX"]).encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/comm" % pid) as f:
                if not f.read().startswith("wineserver"):
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if mark not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    raise RuntimeError("no wineserver of this prefix")


def run_ours(world, wine, patch, folder):
    """(wall, cpu, host folder) of one apply to a game freshly installed at folder."""
    world.install_game(path=folder + "\\", version=0x10000)
    start = time.time()
    result = wine.drive(patch, [("continue", "y"), ("", "Return")], timeout=900)
    boxes = result.boxes
    if (result.timed_out or result.exit_code != 0 or len(boxes) != 2 or
            result.texts[-1] != SHIPPED_TEXTS["done"] or boxes[-1].cpu_seconds is None):
        raise RuntimeError("the patcher did not run as expected: %r" % result.texts)
    waited = boxes[0].answered_at - boxes[0].shown_at
    return boxes[-1].shown_at - start - waited, boxes[-1].cpu_seconds, wine.host_path(folder)


def run_nsis(wine, installer, folder):
    """(wall, cpu, host folder) of one silent install into the new folder."""
    target = wine.host_path(folder)
    with tempfile.NamedTemporaryFile("r") as times:
        subprocess.run(["/usr/bin/time", "-f", "%e %U %S", "-o", times.name, wine.loader,
                        installer, "/S", "/D=" + folder], env=wine.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=900)
        wall, user, system = map(float, times.read().split())
    return wall, user + system, target


def main():
    tool, stub, helpers, tree, results = sys.argv[1:6]
    work = os.path.join(ROOT, "build", "bench-patch-apply")
    os.makedirs(work, exist_ok=True)
    expected = tree_figures(tree)
    with harness.Desktop() as desktop:
        wine = harness.Wine(desktop, helpers)
        wine.start_server()
        world = World(wine, tool, stub, os.path.join(work, "sources"))
        try:
            programs = build_programs(world, wine, tree, work)
            runs = {name: [] for name in programs}
            folders = itertools.count()

            def once(name):
                path = programs[name]
                folder = "%s\\%02d" % (RUNS_DIR, next(folders))
                served = server_cpu()
                if name.startswith("NSIS"):
                    wall, cpu, folder = run_nsis(wine, path, folder)
                else:
                    wall, cpu, folder = run_ours(world, wine, path, folder)
                count, size = tree_figures(folder)
                # The game folder holds the sample game's two files beside the tree.
                if count < expected[0] or size < expected[1] or count > expected[0] + 2:
                    raise RuntimeError("%s left %d files, %d bytes" % (name, count, size))
                served = server_cpu() - served
                print("%s: %.2f s wall, %.2f s cpu, wineserver %.2f s" % (name, wall, cpu, served),
                      file=sys.stderr)
                return wall, cpu, served

            once("patcher, default patch")  # warms the page cache and the prefix
            names = list(programs)
            for round_ in range(RUNS):
                for name in names[round_:] + names[:round_]:
                    runs[name].append(once(name))
        finally:
            wine.stop_server()
            shutil.rmtree(wine.host_path(RUNS_DIR), ignore_errors=True)
    with open(results, "w") as f:
        for name, samples in runs.items():
            f.write("%s\t%d\t%.2f\t%.2f\t%.2f\t%s\n" % (
                name, os.path.getsize(wine.host_path(programs[name])),
                *(statistics.median(sample[i] for sample in samples) for i in range(3)),
                " ".join("%.2f" % c for _, c, _ in samples)))


if __name__ == "__main__":
    main()
