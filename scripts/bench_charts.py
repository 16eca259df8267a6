#!/usr/bin/env python3
"""Draws bench/RESULTS.md as charts: patch size and times beside tar + gzip and cp -r
(size-speed.png), and block decoding speed per LZSS method beside zlib and lz4 (decode-speed.png).
The figures are read back from the tables of RESULTS.md, so the charts always show what the
tables say. Usage: scripts/bench_charts.py RESULTS.md OUT_DIR"""
import os
import re
import sys

OURS, PEER, DEFAULT = "#2f6db5", "#9a9a9a", "#e07b00"


def sections(text):
    """{heading: [row dict, ...]} for every '## heading' with a table, and the bullet lines."""
    tables, bullets, heading, header = {}, [], None, None
    for line in text.splitlines():
        if line.startswith("## "):
            heading, header = line[3:].strip(), None
        elif line.startswith("|") and heading:
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if header is None:
                header = cells
            elif not set("".join(cells)) <= set("-: "):
                tables.setdefault(heading, []).append(dict(zip(header, cells)))
        elif line.startswith("- "):
            bullets.append(line[2:])
    return tables, bullets


def table(tables, prefix):
    """The rows of the table under the heading that begins with prefix; [] when there is none
    (scripts/bench.sh --no-e2e leaves the end-to-end table out)."""
    for heading, rows in tables.items():
        if heading.startswith(prefix):
            return rows
    return []


def number(text):
    """The figure a cell begins with; NaN for a figure the run did not measure ("nan")."""
    match = re.match(r"[\d.]+", text.replace(",", ""))
    return float(match.group()) if match else float("nan")


def label_bars(axis, bars, texts):
    for bar, text in zip(bars, texts):
        axis.annotate(text, (bar.get_width(), bar.get_y() + bar.get_height() / 2),
                      xytext=(4, 0), textcoords="offset points", va="center", fontsize=9)


def save(plt, figure, path):
    """PNG with a 32-colour palette: the charts are flat colours and text, a sixth of the bytes."""
    from PIL import Image
    figure.savefig(path, dpi=90, bbox_inches="tight")
    plt.close(figure)
    Image.open(path).convert("RGB").quantize(32).save(path, optimize=True)


def size_speed(plt, tables, bullets, path):
    corpus = next((int(m.group(1)) for b in bullets
                   for m in [re.search(r"Corpus: .*?, (\d+) bytes", b)] if m), None)
    sizes = {m.group(1): int(m.group(2)) for b in bullets
             for m in [re.match(r"size of (\S+): (\d+) bytes", b)] if m}
    runs = {row["run"]: number(row["wall s"]) for row in table(tables, "End to end")}
    if not corpus or "patch.exe" not in sizes or not runs:
        return False

    size_rows = [("input tree (unpacked)", corpus, PEER),
                 ("vornpatch build", sizes.get("patch.exe"), DEFAULT),
                 ("build --fast", sizes.get("patch-fast.exe"), OURS),
                 ("build --method auto", sizes.get("patch-auto.exe"), OURS),
                 ("tar + gzip -6", sizes.get("tree.tar.gz"), PEER)]
    packing = [("vornpatch build", "build", DEFAULT), ("build --fast", "build_fast", OURS),
               ("build --method auto", "build_auto", OURS), ("tar + gzip -6", "tar_gzip", PEER)]
    unpacking = [("vornpatch extract", "extract", DEFAULT), ("gzip -d + tar -x", "gunzip_tar", PEER),
                 ("cp -r", "cp_r", PEER)]
    packing, unpacking = [[(name, runs[key], colour) for name, key, colour in rows
                           if runs.get(key, float("nan")) == runs.get(key)]
                          for rows in (packing, unpacking)]
    size_rows = [row for row in size_rows if row[1] is not None]
    time_rows = packing + unpacking

    figure, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2), gridspec_kw={"wspace": 0.75})
    names, values, colours = zip(*size_rows)
    bars = left.barh(names, [v / 1e6 for v in values], color=colours)
    label_bars(left, bars, ["%.1f MB" % (v / 1e6) for v in values])
    left.set_title("Size of the %.0f MB corpus tree, packed" % (corpus / 1e6))
    left.set_xlabel("MB (10^6 bytes)")
    left.set_xlim(0, max(values) / 1e6 * 1.3)

    names, values, colours = zip(*time_rows)
    bars = right.barh(names, values, color=colours)
    label_bars(right, bars, ["%.2f s" % v for v in values])
    right.set_title("Time to pack (top) and to unpack")
    right.axhline(len(packing) - 0.5, color="black", linewidth=0.6)
    right.set_xlabel("wall seconds")
    right.set_xlim(0, max(values) * 1.3)
    for axis in (left, right):
        axis.invert_yaxis()
        axis.spines[["top", "right"]].set_visible(False)
    figure.suptitle("vornpatch beside tar + gzip and cp -r, measured in one run (bench/RESULTS.md)",
                    y=1.02)
    save(plt, figure, path)
    return True


def decode_speed(plt, tables, path):
    rows = [r for r in table(tables, "Block decoding") if not r["decoder"].startswith("memcpy")]
    if not rows:
        return False
    names, speeds, colours, notes = [], [], [], []
    for row in rows:
        name = row["decoder"]
        method = re.search(r"0x[0-9A-F]{2}", name)
        if name.startswith("LzssDecodeBlock") and method:
            tree = "tree-coded" in name
            names.append("LZSS %s%s" % (method.group(), " (tree coder)" if tree else ""))
            colours.append(DEFAULT if method.group() == "0xC4" and not tree else OURS)
        else:
            names.append(name.split(" (")[0])
            colours.append(PEER)
        speeds.append(number(row["MB/s"]) if row["MB/s"] != "nan" else 0.0)
        notes.append("%.0f MB/s, coded %.1f %%" % (speeds[-1], number(row["coded size %"])))
    zlib = next(s for n, s in zip(names, speeds) if n.startswith("zlib"))

    figure, axis = plt.subplots(figsize=(9, 0.32 * len(names) + 1.4))
    bars = axis.barh(names, speeds, color=colours)
    label_bars(axis, bars, notes)
    axis.axvline(3 * zlib, color=DEFAULT, linestyle="--", linewidth=1, zorder=0)
    axis.annotate("3 x zlib inflate", (3 * zlib, -0.6), xytext=(3, 0), textcoords="offset points",
                  color=DEFAULT, fontsize=9, va="bottom")
    axis.set_xlim(0, max(speeds) * 1.35)
    axis.set_xlabel("MB/s of decoded output (32 KiB blocks of the corpus, coded independently)")
    axis.set_title("Block decoding speed per method (0xC4, orange, is the default)", pad=16)
    axis.invert_yaxis()
    axis.spines[["top", "right"]].set_visible(False)
    save(plt, figure, path)
    return True


def draw(results_text, out_dir):
    """Writes the charts that the tables allow into out_dir and returns their paths."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    tables, bullets = sections(results_text)
    size_path = os.path.join(out_dir, "size-speed.png")
    decode_path = os.path.join(out_dir, "decode-speed.png")
    drawn = [size_path] if size_speed(plt, tables, bullets, size_path) else []
    return drawn + ([decode_path] if decode_speed(plt, tables, decode_path) else [])


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    with open(sys.argv[1]) as f:
        print("\n".join(draw(f.read(), sys.argv[2])))
