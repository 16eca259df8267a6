"""Times the patcher under Wine on a patch of 100 MB or more: the whole apply, and what the check
of its seal adds before the first question (the time to the start question of the sealed patch
less that of the same patch with its seal taken out), in wall seconds and in the patcher's own
processor seconds read from /proc when the box is up. Appends "name<TAB>seconds<TAB>0<TAB>0"
lines to the results file. Started by scripts/bench-e2e.sh with the Wine set-up in place.

Usage: bench_apply.py VORNPATCH PATCHER.exe HELPERS CORPUS_TREE RESULTS.tsv"""

import os
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import harness  # noqa: E402
from world import SHIPPED_TEXTS, World, ini_text  # noqa: E402

SEAL_SIZE = 24
MIN_PATCH = 100 * 1000 * 1000
RUNS = 3


def make_source(work, tree, copies):
    source = os.path.join(work, "apply-source-%d" % copies)
    os.makedirs(os.path.join(source, "Files"), exist_ok=True)
    with open(os.path.join(source, "Patch.ini"), "w", newline="") as f:
        f.write(ini_text(SHIPPED_TEXTS))
    for i in range(copies):
        target = os.path.join(source, "Files", "copy%d" % i)
        if not os.path.exists(target):
            os.system("cp -al '%s' '%s'" % (tree, target))
    return source


def timed(wine, patch, answers):
    """(wall, processor) seconds from the start to the first box and to the last one."""
    start = time.time()
    result = wine.drive(patch, answers, timeout=900)
    boxes = result.boxes
    if result.timed_out or not boxes or None in (boxes[0].cpu_seconds, boxes[-1].cpu_seconds):
        raise RuntimeError("the patcher did not run as expected: %r" % result.texts)
    return ((boxes[0].shown_at - start, boxes[0].cpu_seconds),
            (boxes[-1].shown_at - start, boxes[-1].cpu_seconds), result)


def main():
    tool, stub, helpers, tree, results = sys.argv[1:6]
    work = os.path.join(ROOT, "build", "bench-apply")
    os.makedirs(work, exist_ok=True)
    with harness.Desktop() as desktop:
        wine = harness.Wine(desktop, helpers)
        wine.start_server()
        world = World(wine, tool, stub, os.path.join(work, "sources"))
        try:
            sealed = "C:\\patches\\bench-sealed.exe"
            os.makedirs(os.path.dirname(wine.host_path(sealed)), exist_ok=True)
            copies = 1
            while True:
                source = make_source(work, tree, copies)
                world.vornpatch("build", source, "-o", wine.host_path(sealed), "--stub", stub)
                size = os.path.getsize(wine.host_path(sealed))
                if size >= MIN_PATCH:
                    break
                copies = max(copies + 1, -(-MIN_PATCH * copies // size))
            # The same patch without its seal: the record out, the container's mark cleared.
            with open(wine.host_path(sealed), "rb") as f:
                data = bytearray(f.read())
            record = os.path.getsize(stub)
            del data[record:record + SEAL_SIZE]
            data[record + 13] = 0
            unsealed = world.place_file("C:\\patches\\bench-unsealed.exe", bytes(data))
            welcome = ("continue", "n")
            runs = {"to_question_sealed": [], "to_question_unsealed": [], "apply": []}
            timed(wine, unsealed, [welcome])  # warms the page cache and the prefix
            for _ in range(RUNS):
                for name, patch in (("to_question_sealed", sealed),
                                    ("to_question_unsealed", unsealed)):
                    runs[name].append(timed(wine, patch, [welcome])[0])
                world.install_game(version=0x10000)
                _, last, result = timed(wine, sealed, [("continue", "y"), ("", "Return")])
                if result.exit_code != 0 or result.texts[-1] != SHIPPED_TEXTS["done"]:
                    raise RuntimeError("the apply did not finish: %r" % result.texts)
                runs["apply"].append(last)
        finally:
            wine.stop_server()
    # Wall seconds, and the patcher's own processor seconds (what the shared machine's load
    # does not inflate).
    figures = {}
    for name, samples in runs.items():
        figures["wine_" + name] = statistics.median(wall for wall, _ in samples)
        figures["wine_" + name + "_cpu"] = statistics.median(cpu for _, cpu in samples)
    for suffix in ("", "_cpu"):
        figures["wine_seal_check" + suffix] = (figures["wine_to_question_sealed" + suffix] -
                                               figures["wine_to_question_unsealed" + suffix])
    with open(results, "a") as f:
        for name, seconds in figures.items():
            f.write("%s\t%.2f\t0\t0\n" % (name, seconds))
        f.write("size_apply_patch\t%d\t0\t0\n" % os.path.getsize(wine.host_path(sealed)))
        f.write("size_apply_tree\t%d\t0\t0\n" % (copies * sum(
            os.path.getsize(os.path.join(d, n)) for d, _, ns in os.walk(tree) for n in ns)))
    for name, seconds in figures.items():
        print("%s: %.2f s" % (name, seconds), file=sys.stderr)


if __name__ == "__main__":
    main()
