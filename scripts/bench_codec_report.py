#!/usr/bin/env python3
"""Writes one section of bench/RESULTS.md from the figures of scripts/bench-codec.sh (whole),
scripts/bench-delta.sh (delta), scripts/bench-patch.sh (patch) or scripts/bench_patch_apply.py
(apply). A section lies between the lines
"<!-- codec:NAME -->" and "<!-- /codec:NAME -->"; it replaces the old one or is appended.

Usage: bench_codec_report.py whole|delta|patch|apply FIGURES.tsv COMMAND RESULTS.md
"""
import datetime
import os
import re
import sys

kind, tsv, command, results = sys.argv[1:5]
# A "|" in a name (tar | xz -9) would split a table cell.
rows = [line.rstrip("\n").replace("|", "\\|").split("\t") for line in open(tsv) if line.strip()]
# The scripts pass the load average read when they started; the one now is the load at the end.
load_end = " ".join(open("/proc/loadavg").read().split()[:3])
load_start = os.environ.get("BENCH_LOAD_AT_START", "").strip()
load = f"at start {load_start}, at end {load_end}" if load_start else f"at end {load_end}"
stamp = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds")


def heading(title, measured="the coding process"):
    """A section's title and the line that says how, when and under what load it was made."""
    return [f"## {title}", "", f"Produced by `{command}` on {stamp}; load average {load} "
            f"({os.cpu_count()} cores, shared); CPU seconds of {measured}.", ""]


def whole():
    sizes = [r for r in rows if r[0] not in ("speed", "rss")]
    xz = next(int(r[2]) for r in sizes if r[0] == "tar \\| xz -9")
    xz_cpu = next(float(r[3]) for r in sizes if r[0] == "tar \\| xz -9")
    out = heading("Codec: whole files (scripts/bench-codec.sh)")
    out += ["| coder | input bytes | coded bytes | % of input | x xz -9 size | cpu s | x xz -9 cpu | peak RSS MiB |",
            "|---|---|---|---|---|---|---|---|"]
    for name, raw, coded, cpu, rss in sizes:
        out.append(f"| {name} | {raw} | {coded} | {100 * int(coded) / int(raw):.2f} | "
                   f"{int(coded) / xz:.3f} | {float(cpu):.1f} | {float(cpu) / xz_cpu:.2f} | {rss} |")
    out += ["", "| decoder | MB/s of output |", "|---|---|"]
    out += [f"| {r[1]} | {r[2]} |" for r in rows if r[0] == "speed"]
    out += [""] + [f"- peak RSS of {r[1]}: {r[2]} MiB" for r in rows if r[0] == "rss"]
    return out


def delta():
    out = heading("Codec: deltas (scripts/bench-delta.sh)")
    out += ["Sizes in bytes (and % of the new file); code and decode in CPU seconds; peak RSS "
            "of the coder in MiB. The smallest patch of each pair is in bold.", ""]
    out += ["| pair | new bytes | tool | patch bytes | % of new | code s | decode s | code RSS MiB | decode RSS MiB |",
            "|---|---|---|---|---|---|---|---|---|"]
    pairs = {}
    for r in rows:
        pairs.setdefault(r[0], []).append(r)
    for pair, rs in pairs.items():
        best = min(int(r[3]) for r in rs)
        for r in rs:
            size = f"**{r[3]}**" if int(r[3]) == best else r[3]
            out.append(f"| {pair} | {r[1]} | {r[2]} | {size} | {100 * int(r[3]) / int(r[1]):.2f} | "
                       f"{r[4]} | {r[5]} | {r[6]} | {r[7]} |")
    # Where our stream, or our whole patch with its container, is not the smallest.
    ours = ("tarn delta", "vornpatch build --base, patch - stub")
    notes = []
    for pair, rs in pairs.items():
        theirs = [r for r in rs if not r[2].startswith(("tarn", "vornpatch", "full copy, tarn"))]
        for r in (r for r in rs if r[2] in ours):
            beaten = [f"{o[2]} {o[3]}" for o in theirs if int(o[3]) < int(r[3])]
            if beaten:
                notes.append(f"- {pair}: {r[2]} ({r[3]}) is larger than {', '.join(beaten)}")
    out += [""] + (notes or ["- Our delta and our whole patch are the smallest on every pair."])
    return out


def patch():
    out = heading("Patch size and build CPU (scripts/bench-patch.sh)", "the whole process tree")
    out += ["The corpus tree as one file for the player. Payload: the file less its program "
            "(our 32-bit patcher; for NSIS, an installer of the same script without files). "
            "Ratios are to tar | xz -9.", ""]
    out += ["| build | file bytes | payload bytes | % of input | x xz -9 file | x xz -9 payload "
            "| cpu s | x xz -9 cpu | wall s | peak RSS MiB |",
            "|---|---|---|---|---|---|---|---|---|---|"]
    xz = next(r for r in rows if r[0] == "tar \\| xz -9")
    xz_bytes, xz_cpu = int(xz[2]), float(xz[4])
    for name, raw, size, program, cpu, wall, rss in rows:
        payload = int(size) - int(program)
        out.append(f"| {name} | {size} | {payload} | {100 * int(size) / int(raw):.2f} | "
                   f"{int(size) / xz_bytes:.3f} | {payload / xz_bytes:.3f} | {float(cpu):.1f} | "
                   f"{float(cpu) / xz_cpu:.2f} | {float(wall):.1f} | {rss} |")
    out += ["", f"- input: {rows[0][1]} bytes in the tree"]
    return out


def apply():
    out = heading("Apply time under Wine (scripts/bench-apply.sh)", "the installing process")
    out += ["Each program puts the corpus tree into a new folder of the same Wine prefix "
            "(x86-64 builds, as the NSIS installers are; no folder is deleted before the last "
            "run, since on this machine's journal-less ext4 files made soon after many deletions "
            "cost the wineserver a walk over the freed inodes); runs interleaved, medians. Wall: from "
            "the start to the end, less the time our start question waited for its answer. The "
            "installing process's CPU leaves out the prefix's wineserver, which serves its file "
            "calls; that is the wineserver column, taken alike for every program.", ""]
    out += ["| program | file bytes | wall s (median) | cpu s (median) | x default patch cpu "
            "| wineserver cpu s (median) | cpu s of each run |",
            "|---|---|---|---|---|---|---|"]
    ours = next(float(r[3]) for r in rows if r[0] == "patcher, default patch")
    for name, size, wall, cpu, served, runs in rows:
        out.append(f"| {name} | {size} | {float(wall):.2f} | {float(cpu):.2f} | "
                   f"{float(cpu) / ours:.2f} | {float(served):.2f} | {runs} |")
    return out


section = {"whole": whole, "delta": delta, "patch": patch, "apply": apply}[kind]()
begin, end = f"<!-- codec:{kind} -->", f"<!-- /codec:{kind} -->"
text = open(results).read() if os.path.exists(results) else ""
block = begin + "\n" + "\n".join(section) + "\n" + end
pattern = re.compile(re.escape(begin) + ".*?" + re.escape(end), re.S)
text = pattern.sub(lambda _: block, text) if pattern.search(text) else text.rstrip("\n") + "\n\n" + block + "\n"
open(results, "w").write(text)
