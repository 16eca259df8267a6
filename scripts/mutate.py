#!/usr/bin/env python3
"""Mutation testing: how many small faults in the product code do the native suites catch?

Samples --count of the candidate mutants (mutants.py) with a fixed --seed, and for each one
applies it, rebuilds build/mutation (release flags, as the native suite) incrementally and runs
only the tests that execute the mutated line (coverage_map.py), cheapest first, up to the first
failure. The file is put back byte for byte after every mutant, on Ctrl-C and on errors, and by
the next run if this one is killed (the journal); the product folders must be as git has them. Code
built only for Windows is left out: the Wine suites reach it, not these.

Usage: scripts/mutate.py [--seed S] [--count N] [--paths PATH...] [--list] [--out FILE]
                          [--timeout SECONDS] [--killers]"""

import argparse
import base64
import contextlib
import fcntl
import hashlib
import json
import os
import random
import shutil
import signal
import stat
import subprocess
import sys
import time
from collections import Counter

from coverage_map import baseline, build, coverage_map, ctest_entries, run, test_steps
from mutants import PRODUCT, ROOT, change, collect, fingerprint

BUILD = os.path.join(ROOT, "build", "mutation")
# The file under mutation as it was (path, mode, bytes), while a mutant is applied: a run killed
# even with SIGKILL leaves it behind, and the next run puts the file back before anything else.
JOURNAL = os.path.join(ROOT, "build", "mutation-journal.json")
STOPS = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}


def replace_file(path, data, mode):
    """Writes a file whole or not at all: a run killed meanwhile leaves the old or the new."""
    temporary = path + ".mutate~"
    with open(temporary, "wb") as handle:
        handle.write(data)
        handle.flush()
        os.fsync(handle.fileno())
    os.chmod(temporary, mode)
    os.replace(temporary, path)


def digest(data):
    return hashlib.sha256(data).hexdigest()


def restore_journal():
    """Puts back the file the journal holds, if it holds one and the file is still the mutant:
    someone may have changed it since a run was killed. Returns what was done, or None."""
    if not os.path.exists(JOURNAL):
        return None
    with open(JOURNAL) as handle:
        entry = json.load(handle)
    path = os.path.join(ROOT, entry["file"])
    found = None
    if os.path.exists(path):
        with open(path, "rb") as handle:
            found = digest(handle.read())
    done = f"{entry['file']} was left as it is: changed since"
    if found == entry["mutated"]:
        replace_file(path, base64.b64decode(entry["original"]), entry["mode"])
        done = f"put back {entry['file']}"
    elif found == entry["digest"]:
        done = f"{entry['file']} was not mutated yet"
    os.remove(JOURNAL)
    return done


@contextlib.contextmanager
def applied(m):
    """The mutated file for the length of a with-block. The original is in the journal before
    the file changes and is written back on the way out, whatever ends the block."""
    path = os.path.join(ROOT, m.file)
    with open(path, "rb") as handle:
        original = handle.read()
    lines = original.decode("utf-8").split("\n")
    line = lines[m.line - 1]
    if line[m.col:m.col + len(m.before)] != m.before:
        raise RuntimeError(f"{m.file}:{m.line}: '{m.before}' is not where it was")
    lines[m.line - 1] = line[:m.col] + m.after + line[m.col + len(m.before):]
    mutated, mode = "\n".join(lines).encode("utf-8"), stat.S_IMODE(os.stat(path).st_mode)
    entry = {"file": m.file, "mode": mode, "original": base64.b64encode(original).decode(),
             "digest": digest(original), "mutated": digest(mutated)}
    replace_file(JOURNAL, json.dumps(entry).encode(), 0o644)
    try:
        replace_file(path, mutated, mode)
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_BLOCK, STOPS)  # no Ctrl-C halfway through
        restore_journal()
        signal.pthread_sigmask(signal.SIG_UNBLOCK, STOPS)


def take_lock():
    """One run at a time per tree: a second one would restore the first one's mutant."""
    os.makedirs(BUILD, exist_ok=True)
    handle = open(os.path.join(BUILD, "run.lock"), "w")
    try:
        fcntl.flock(handle, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        sys.exit("mutate: another run is going on in this tree")
    return handle  # the lock lasts as long as the handle, and ends with the process


def product_changes():
    """What git sees changed or added in the product folders."""
    return subprocess.run(["git", "status", "--porcelain", "--", *PRODUCT], cwd=ROOT,
                          capture_output=True, text=True, check=True).stdout


def product_paths(paths, mutants):
    """The product files or folders named, relative to the root; each must hold candidates."""
    chosen = [os.path.relpath(os.path.abspath(p), ROOT) for p in paths]
    for path in chosen:
        if path.split(os.sep)[0] not in PRODUCT:
            sys.exit(f"mutate: {path} is not in the product ({', '.join(PRODUCT)})")
        if not any(within(m, [path]) for m in mutants):
            sys.exit(f"mutate: no candidate mutant in {path}")
    return chosen


def within(m, paths):
    return any(m.file == p or m.file.startswith(p + os.sep) for p in paths)


def judge(mutant, steps, args, log):
    """Applies the mutant and runs the steps until one fails (all of them with --killers),
    building each step's programs just before it, so that a mutant killed early links no more
    than it needs."""
    if not steps:
        return "survived", "not covered"
    with open(log, "a") as handle:
        handle.write(f"\n=== {mutant.file}:{mutant.line}: {mutant.before} -> {mutant.after}\n")
    scratch = os.path.join(BUILD, "tmp")  # the tests' temporary files, gone after each step
    env = dict(os.environ, TMPDIR=scratch)
    killers = []
    with applied(mutant):
        deadline = None
        for name, command, entry, _ in steps:
            if not build(BUILD, entry["targets"], args.jobs, log):
                return "not compiling", ""
            if deadline is None:  # the time limit runs from the first program built
                expected = sum(step[3] for step in steps)
                deadline = time.monotonic() + (args.timeout or 20 + 3 * expected)
            # Made anew for every step: a missing TMPDIR fails every test that asks for it, and
            # would count the mutant as killed by a test that never looked at it.
            os.makedirs(scratch, exist_ok=True)
            code = run(command, deadline - time.monotonic(), log, entry["cwd"], env)
            shutil.rmtree(scratch, ignore_errors=True)
            if code == 0:
                continue
            killers.append(name + (" (timeout)" if code is None else ""))
            if not args.killers or code is None:
                break
    return ("killed", ", ".join(killers)) if killers else ("survived", "")


def report(sample, results, header, seconds, out):
    count = Counter(r["status"] for r in results)
    judged = count["killed"] + count["survived"]
    rate = 100.0 * count["killed"] / judged if judged else 0.0
    lines = header + [
        f"mutants sampled: {len(sample)}, judged: {len(results)}",
        f"not compiling: {count['not compiling']}",
        f"killed: {count['killed']} "
        f"({sum('(timeout)' in r['detail'] for r in results)} by timeout)",
        f"survived: {count['survived']} "
        f"({sum(r['detail'] == 'not covered' for r in results)} not covered by any test)",
        f"kill rate: {rate:.1f} % ({count['killed']} / {judged})",
        f"time: {seconds / 60:.1f} min", "survivors:"]
    lines += [f"  {r['where']}  {r['change']}" + (f"  [{r['detail']}]" if r["detail"] else "")
              for r in results if r["status"] == "survived"]
    print("\n".join(lines))
    with open(out, "w") as handle:
        json.dump({"summary": lines, "kill_rate": round(rate, 1), "seconds": round(seconds),
                   "mutants": results}, handle, indent=1)
    print(f"results: {os.path.relpath(out, ROOT)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=1, help="sampling seed (default 1)")
    parser.add_argument("--count", type=int, default=100, help="mutants to sample (100)")
    parser.add_argument("--paths", nargs="+", metavar="PATH", default=[],
                        help="sample only in these product files or folders")
    parser.add_argument("--list", action="store_true", help="print the sample, run nothing")
    parser.add_argument("--jobs", type=int, default=2, help="parallel build and coverage jobs")
    parser.add_argument("--timeout", type=float, help="seconds per mutant (default: from timings)")
    parser.add_argument("--out", help="results file (default build/mutation/results-*.json)")
    parser.add_argument("--killers", action="store_true",
                        help="run every test case that executes the line, each alone, and name "
                             "every one that fails (which tests only one of them guards)")
    args = parser.parse_args()
    os.nice(10)
    for signum in STOPS - {signal.SIGINT}:
        signal.signal(signum, signal.default_int_handler)  # ends the run as Ctrl-C does
    lock = take_lock()  # held while the handle lives: to the end of the run
    left = restore_journal()
    if left:
        print(f"mutate: a run was killed in the middle of a mutant; {left}")
    changes = "" if args.list else product_changes()
    if changes:
        sys.exit(f"mutate: the product folders have changes git does not hold:\n{changes}"
                 "commit or stash them: mutants are made on committed code only")
    mutants, product = collect()
    paths = product_paths(args.paths, mutants)
    pool = [m for m in mutants if within(m, paths)] if paths else mutants
    sample = sorted(random.Random(args.seed).sample(pool, min(args.count, len(pool))))
    kinds = ", ".join(f"{kind} {n}" for kind, n in sorted(Counter(m.kind for m in pool).items()))
    where = f" in {' '.join(paths)}" if paths else ""
    header = [f"product {product}: {len(pool)} candidates{where} ({kinds})",
              f"seed {args.seed}: {len(sample)} sampled, fingerprint {fingerprint(sample)}"]
    print("\n".join(header))
    if args.list:
        print("\n".join(f"  {m.file}:{m.line}  {change(m)}" for m in sample))
        return 0
    start = time.monotonic()
    cmap, how = coverage_map(args.jobs)
    failing = [f"{u['entry']} {u['case'] or ''}" for u in cmap["units"] if not u["passed"]]
    header.append(f"coverage map: {len(cmap['units'])} units, {how}" +
                  (f"; left out, failing unmutated: {', '.join(failing)}" if failing else ""))
    print(header[-1], flush=True)
    seconds = baseline(BUILD, args.jobs, ["-DCMAKE_BUILD_TYPE=Release"])
    header.append(f"whole native suite without mutants: {seconds:.0f} s")
    entries = ctest_entries(BUILD)
    log = os.path.join(BUILD, "mutants.log")
    if os.path.exists(log):
        os.remove(log)
    results = []
    try:
        for number, m in enumerate(sample, 1):
            began = time.monotonic()
            verdict = judge(m, test_steps(cmap, entries, m, args.killers), args, log)
            results.append({"where": f"{m.file}:{m.line}", "kind": m.kind,
                            "change": change(m), "status": verdict[0],
                            "detail": verdict[1], "seconds": round(time.monotonic() - began, 1)})
            print(f"[{number}/{len(sample)}] {m.file}:{m.line} {m.kind}: {' '.join(verdict)} "
                  f"({time.monotonic() - began:.0f} s)", flush=True)
    except KeyboardInterrupt:
        print("mutate: interrupted; the mutated file was put back")
    finally:
        restore_journal()  # after a stop in the middle of applying a mutant
        if product_changes():
            print("mutate: the product folders differ from git's after the run!", file=sys.stderr)
            sys.exit(3)
    slug = "".join("-" + p.replace(os.sep, "_") for p in paths)
    out = args.out or os.path.join(BUILD, f"results-seed{args.seed}-n{args.count}{slug}.json")
    report(sample, results, header, time.monotonic() - start, out)
    return 0 if len(results) == len(sample) else 130


if __name__ == "__main__":
    sys.exit(main())
