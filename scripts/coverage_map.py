#!/usr/bin/env python3
"""Builds and test runs for mutation testing, and the coverage map: which units (GoogleTest
cases, and the other ctest entries whole) execute which product lines. The map comes from a
coverage build (build/mutation-cov, gcov) in which every unit runs on its own, and is cached
until a product or test source or a build file changes."""

import concurrent.futures
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from mutants import PRODUCT, ROOT, tracked

COVERAGE_BUILD = os.path.join(ROOT, "build", "mutation-cov")
COVERAGE_FLAGS = ["-DCMAKE_BUILD_TYPE=Debug", "-DCMAKE_CXX_FLAGS=--coverage -O0",
                  "-DCMAKE_EXE_LINKER_FLAGS=--coverage"]


def run(command, timeout, log=None, cwd=None, env=None):
    """Runs a command in its own process group, which is ended when the time runs out and
    afterwards; the command also dies with this script, were it killed. Returns the exit
    code, or None on timeout."""
    with open(log or os.devnull, "ab") as out:
        process = subprocess.Popen(["setpriv", "--pdeathsig", "KILL", "--", *command], cwd=cwd,
                                   env=env, stdout=out, stderr=out, stdin=subprocess.DEVNULL,
                                   start_new_session=True)
        try:
            return process.wait(timeout=max(timeout, 1))
        except subprocess.TimeoutExpired:
            return None
        finally:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            process.wait()


def build(directory, targets, jobs, log, options=()):
    """Configures the build folder once (Ninja) and builds the targets, or all of them."""
    if not os.path.exists(os.path.join(directory, "build.ninja")):
        subprocess.run(["cmake", "-G", "Ninja", "-S", ROOT, "-B", directory, *options],
                       check=True, stdout=subprocess.DEVNULL)
    # Ninja itself rather than through cmake, so that it is the process that dies with us.
    return run(["ninja", "-C", directory, f"-j{jobs}", *sorted(targets or [])], 3600, log) == 0


def ctest_entries(directory):
    """Each ctest entry of a build: name, command, working folder, the targets it runs."""
    listing = subprocess.run(["ctest", "--test-dir", directory, "--show-only=json-v1"],
                             capture_output=True, text=True, check=True).stdout
    entries = {}
    for test in json.loads(listing)["tests"]:
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        ours = [a for a in test["command"] if a.startswith(directory + os.sep)]
        entries[test["name"]] = {
            "command": test["command"], "cwd": props.get("WORKING_DIRECTORY", directory),
            "targets": {os.path.basename(a) for a in ours if os.path.isfile(a)},
            "gtest": test["command"][0] in ours}
    return entries


def baseline(directory, jobs, options):
    """Builds a mutation build and runs its whole suite once, which must pass (a failing test
    would kill every mutant it runs for). Returns the suite's time."""
    log = os.path.join(directory, "baseline.log")
    if os.path.exists(log):
        os.remove(log)
    if not build(directory, None, jobs, log, options):
        sys.exit(f"mutate: building {directory} failed (log: {log})")
    start = time.monotonic()
    if run(["ctest", "--test-dir", directory, "--output-on-failure"], 3600, log) != 0:
        sys.exit(f"mutate: the suite fails without any mutant (log: {log})")
    return time.monotonic() - start


def sources_key():
    """Changes whenever a product or test source, a build file or this script does."""
    key = hashlib.sha256(" ".join(COVERAGE_FLAGS).encode())
    sources = tracked(*PRODUCT, "tests", "cmake", "CMakeLists.txt", "scripts/coverage_map.py")
    for path in (p for p in sources if not p.endswith(".md")):  # notes run no code
        with open(os.path.join(ROOT, path), "rb") as handle:
            key.update(path.encode() + b"\0" + handle.read())
    return key.hexdigest()


def unit_coverage(unit, scratch):
    """Runs one unit of the coverage build on its own, its counts written under a folder of
    its own. Returns (passed, seconds, {file: lines run}, {file: lines with code})."""
    prefix = tempfile.mkdtemp(dir=scratch)
    strip = len(COVERAGE_BUILD.strip(os.sep).split(os.sep))
    env = dict(os.environ, GCOV_PREFIX=prefix, GCOV_PREFIX_STRIP=str(strip), TMPDIR=prefix)
    start = time.monotonic()
    passed = run(unit["command"], 900, cwd=unit["cwd"], env=env) == 0
    seconds = time.monotonic() - start
    counts = []
    for parent, folders, names in os.walk(prefix):
        folders[:] = [f for f in folders if f != "googletest"]  # GoogleTest's own, not ours
        for name in (n[:-5] for n in names if n.endswith(".gcda")):
            notes = os.path.join(COVERAGE_BUILD, os.path.relpath(parent, prefix), name + ".gcno")
            os.symlink(notes, os.path.join(parent, name + ".gcno"))  # gcov wants them together
            counts.append(os.path.join(parent, name + ".gcda"))
    # Only sources under the root (-r -s): the system's and GoogleTest's headers cost the most.
    report = subprocess.run(["gcov", "--json-format", "--stdout", "-r", "-s", ROOT, *counts],
                            cwd=prefix, capture_output=True, text=True).stdout if counts else ""
    executed, executable = {}, {}
    for document in (json.loads(line) for line in report.splitlines() if line.strip()):
        for record in document["files"]:
            path = os.path.relpath(os.path.join(ROOT, record["file"]), ROOT)
            if path.split(os.sep)[0] in PRODUCT:
                for line in record["lines"]:
                    executable.setdefault(path, set()).add(line["line_number"])
                    if line["count"]:
                        executed.setdefault(path, set()).add(line["line_number"])
    shutil.rmtree(prefix)
    return passed, seconds, executed, executable


def coverage_map(jobs):
    """Which units (GoogleTest cases, and the other ctest entries whole) run which product
    lines, learnt from the coverage build; cached until a source changes."""
    cache = os.path.join(COVERAGE_BUILD, "coverage-map.json")
    key = sources_key()
    if os.path.exists(cache):
        with open(cache) as handle:
            cached = json.load(handle)
        if cached["key"] == key:
            return cached, "cached"
    start = time.monotonic()
    if not build(COVERAGE_BUILD, None, jobs, os.path.join(COVERAGE_BUILD, "build.log"),
                 COVERAGE_FLAGS):
        sys.exit(f"mutate: the coverage build failed (log: {COVERAGE_BUILD}/build.log)")
    scratch = os.path.join(COVERAGE_BUILD, "scratch")  # also what a killed run left
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    units = []
    for name, entry in ctest_entries(COVERAGE_BUILD).items():
        cases = [None]
        if entry["gtest"]:
            listing = subprocess.run([entry["command"][0], "--gtest_list_tests"], text=True,
                                     env=dict(os.environ, GCOV_PREFIX=scratch),
                                     capture_output=True, check=True).stdout
            suite, cases = "", []
            for line in listing.splitlines():
                if line.startswith(" "):
                    cases.append(suite + line.split()[0])
                elif line.strip():
                    suite = line.split()[0]
        for case in cases:
            units.append({"entry": name, "case": case, "cwd": entry["cwd"], "command":
                          entry["command"] + ([f"--gtest_filter={case}"] if case else [])})
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        results = list(pool.map(lambda unit: unit_coverage(unit, scratch), units))
    shutil.rmtree(scratch)
    covered, executable = {}, {}
    for index, (unit, (passed, seconds, executed, lines)) in enumerate(zip(units, results)):
        unit.update(passed=passed, seconds=round(seconds, 3))
        del unit["command"], unit["cwd"]
        for path, numbers in executed.items():
            for number in numbers:
                covered.setdefault(path, {}).setdefault(str(number), []).append(index)
        for path, numbers in lines.items():
            executable.setdefault(path, set()).update(numbers)
    result = {"key": key, "units": units, "covered": covered,
              "executable": {path: sorted(numbers) for path, numbers in executable.items()}}
    with open(cache, "w") as handle:
        json.dump(result, handle)
    return result, f"made in {time.monotonic() - start:.0f} s"


def test_steps(cmap, entries, mutant, each_case=False):
    """The steps that judge a native mutant: per ctest entry, the passing GoogleTest cases that
    run the mutated line under one filter (each case alone with each_case), or the whole entry;
    the cheapest first. A line the coverage build has no code for (a constant, a declaration)
    takes the units that run any line of its file, or all units; a line with code that no unit
    ran takes none."""
    good = [i for i, unit in enumerate(cmap["units"]) if unit["passed"]]
    lines = cmap["covered"].get(mutant.file, {})
    if str(mutant.line) in lines:
        chosen = set(lines[str(mutant.line)])
    elif mutant.line in cmap["executable"].get(mutant.file, []):
        chosen = set()
    else:
        chosen = {i for units in lines.values() for i in units} if lines else set(good)
    steps = {}
    for unit in (cmap["units"][i] for i in good if i in chosen):
        key = (unit["entry"], unit["case"]) if each_case else (unit["entry"], None)
        step = steps.setdefault(key, [[], 0.0])
        step[0] += [unit["case"]] if unit["case"] else []
        step[1] += unit["seconds"]
    ordered = []
    for (name, case), (cases, seconds) in sorted(steps.items(), key=lambda item: item[1][1]):
        entry = entries[name]
        filters = ["--gtest_fail_fast", "--gtest_filter=" + ":".join(cases)] if cases else []
        ordered.append((name + ("/" + case if case else ""), entry["command"] + filters, entry, seconds))
    return ordered
