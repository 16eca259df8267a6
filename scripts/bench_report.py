#!/usr/bin/env python3
"""Turns the benchmark output (Google Benchmark JSON, end-to-end TSV) into bench/RESULTS.md:
the machine, the command, the tables and every target with its figure; then draws the tables as
charts beside it (scripts/bench_charts.py)."""
import json
import os
import sys

import bench_charts

bench_json, e2e_tsv, corpus_manifest, command, out_path = sys.argv[1:6]

with open(bench_json) as f:
    data = json.load(f)

rows = {}
for b in data["benchmarks"]:
    if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
        continue
    name = b.get("run_name", b["name"])
    rows[name] = b


def rate(name):  # MB/s (10^6 bytes) from bytes_per_second
    return rows[name]["bytes_per_second"] / 1e6 if name in rows else float("nan")


def items(name):
    return rows[name]["items_per_second"] if name in rows else float("nan")


def counter(name, key):
    return rows[name].get(key, float("nan")) if name in rows else float("nan")


e2e = {}
try:
    with open(e2e_tsv) as f:
        for line in f:
            name, wall, cpu, kib = line.rstrip("\n").split("\t")
            e2e[name] = (float(wall), float(cpu), int(kib))
except FileNotFoundError:
    pass

methods = [0xA1 + 16 * b + l for b in range(3) for l in range(5)]
ctx = data["context"]
corpus_bytes = sum(int(line.split()[1]) for line in open(corpus_manifest))
corpus_files = sum(1 for _ in open(corpus_manifest))
lines = []
w = lines.append
w("# Benchmark results\n")
w("Produced by `%s` (scripts/bench.sh); every ratio compares figures measured side by side in one "
  "run (medians of repeated, interleaved runs; CPU time, since the machine is shared).\n" % command)
w("- Machine: %s, %d x %.0f MHz, caches %s; load average at start %s" % (
    ctx.get("host_name", "?"), ctx.get("num_cpus", 0), ctx.get("mhz_per_cpu", 0),
    ", ".join("L%d %d KiB" % (c["level"], c["size"] // 1024) for c in ctx.get("caches", [])),
    " ".join("%.1f" % x for x in ctx.get("load_avg", []))))
w("- Date: %s; library build type: %s" % (ctx.get("date", "?"), ctx.get("library_build_type", "?")))
w("- Corpus: %d files, %d bytes (build/bench-corpus/MANIFEST from scripts/make-bench-corpus.sh), "
  "cut into 32 KiB blocks coded independently\n" % (corpus_files, corpus_bytes))

zlib = rate("BM_ZlibInflate")
w("## Block decoding (MB/s of uncompressed output)\n")
w("| decoder | MB/s | x zlib inflate | coded size % |")
w("|---|---|---|---|")
w("| memcpy (ceiling) | %.0f | %.2f | 100 |" % (rate("BM_Memcpy"), rate("BM_Memcpy") / zlib))
w("| zlib inflate (level 6, raw deflate) | %.0f | 1.00 | %.2f |" % (zlib, counter("BM_ZlibInflate", "ratio_pct")))
w("| lz4 decompress (HC blocks) | %.0f | %.2f | %.2f |" % (
    rate("BM_Lz4Decompress"), rate("BM_Lz4Decompress") / zlib, counter("BM_Lz4Decompress", "ratio_pct")))
for m in methods:
    n = "BM_LzssDecode/method:%d" % m
    w("| LzssDecodeBlock 0x%02X (optimal-coded) | %.0f | %.2f | %.2f |" % (m, rate(n), rate(n) / zlib, counter(n, "ratio_pct")))
n = "BM_LzssDecodeTreeCoded/method:196"
w("| LzssDecodeBlock 0xC4 (tree-coded) | %.0f | %.2f | %.2f |" % (rate(n), rate(n) / zlib, counter(n, "ratio_pct")))

z6 = rate("BM_EncodeZlib6")
w("\n## Coding (MB/s of input; coded size in % of the input)\n")
w("| coder | MB/s | x zlib-6 | coded % |")
w("|---|---|---|---|")
w("| zlib level 6 | %.1f | 1.00 | %.2f |" % (z6, counter("BM_EncodeZlib6", "ratio_pct")))
w("| lz4 HC (level 9) | %.1f | %.2f | %.2f |" % (rate("BM_EncodeLz4Hc"), rate("BM_EncodeLz4Hc") / z6, counter("BM_EncodeLz4Hc", "ratio_pct")))
for m in [0xC4]:
    t, o = "BM_EncodeLzssTree/method:%d" % m, "BM_EncodeLzssOptimal/method:%d" % m
    w("| LzssEncodeBlock (tree) 0x%02X | %.1f | %.2f | %.2f |" % (m, rate(t), rate(t) / z6, counter(t, "ratio_pct")))
    w("| LzssEncodeBlockOptimal 0x%02X | %.1f | %.2f | %.2f |" % (m, rate(o), rate(o) / z6, counter(o, "ratio_pct")))

bare = rate("BM_StreamBareDecoder")
w("\n## Stream reads (CLzssFile over CFileWindow over a disk file, 0xC4, 4 KiB reads)\n")
w("| reader | MB/s | x bare decoder |")
w("|---|---|---|")
w("| bare block decoder over the stored blocks | %.0f | 1.00 |" % bare)
w("| sequential 4 KiB reads | %.0f | %.2f |" % (rate("BM_StreamSequentialReads"), rate("BM_StreamSequentialReads") / bare))
w("| random 4 KiB reads | %.0f (%.0f reads/s) | %.2f |" % (
    rate("BM_StreamRandomReads"), items("BM_StreamRandomReads"), rate("BM_StreamRandomReads") / bare))

w("\n## Pack lookups (%d members)\n" % counter("BM_PackFindRecord", "members"))
w("| lookup | per second | time x hash map |")
w("|---|---|---|")
hm = items("BM_HashMapFind")
w("| std::unordered_map find | %.3g | 1.00 |" % hm)
w("| CNameIndex::FindRecord | %.3g | %.2f |" % (items("BM_PackFindRecord"), hm / items("BM_PackFindRecord")))
sv = items("BM_SortedVectorPrefix")
w("| sorted vector lower_bound (prefix) | %.3g | - |" % sv)
w("| CNameIndex::FindPrefix | %.3g | %.2f x sorted vector |" % (items("BM_PackFindPrefix"), sv / items("BM_PackFindPrefix")))
dbytes, rbytes = counter("BM_PackFindRecord", "directory_bytes"), counter("BM_PackFindRecord", "raw_name_bytes")
w("\nDirectory %d bytes (front-coded names with their 8-byte records) against %d bytes of raw names "
  "(%.1f %%).\n" % (dbytes, rbytes, 100 * dbytes / rbytes))

if e2e:
    w("## End to end (scripts/bench-e2e.sh; wall seconds, CPU seconds, peak RSS)\n")
    w("| run | wall s | cpu s | peak RSS MiB |")
    w("|---|---|---|---|")
    for name, (wall, cpu, kib) in e2e.items():
        if not name.startswith(("size_", "wine_")):
            w("| %s | %.2f | %.2f | %.1f |" % (name, wall, cpu, kib / 1024))
    if "wine_apply" in e2e:
        w("\nThe patcher under Wine (scripts/bench_apply.py; wall seconds, medians of 3): a patch of "
          "%d bytes holding %d bytes of files, and the same patch without its seal.\n"
          % (e2e["size_apply_patch"][0], e2e["size_apply_tree"][0]))
        w("| run | wall s | patcher cpu s |")
        w("|---|---|---|")
        for name, (wall, _, _) in e2e.items():
            if name.startswith("wine_") and not name.endswith("_cpu"):
                w("| %s | %.2f | %.2f |" % (name[5:], wall, e2e[name + "_cpu"][0]))
    sizes = {k[5:]: int(v[0]) for k, v in e2e.items()
             if k.startswith("size_") and not k.startswith("size_apply_")}
    w("")
    for k, v in sizes.items():
        w("- size of %s: %d bytes" % (k, v))
    w("")

# Targets.
w("## Targets\n")
w("| target | figure | met |")
w("|---|---|---|")


def target(text, figure, ok):
    w("| %s | %s | %s |" % (text, figure, "yes" if ok else "**no**"))


c4 = rate("BM_LzssDecode/method:196") / zlib
target("decode 0xC4 >= 3x zlib inflate", "%.2fx" % c4, c4 >= 3)
worst = min((rate("BM_LzssDecode/method:%d" % m) / zlib, m) for m in methods)
target("decode every method >= 1.8x zlib inflate", "lowest %.2fx (0x%02X)" % worst, worst[0] >= 1.8)
seq = rate("BM_StreamSequentialReads") / bare
target("sequential CLzssFile reads >= 80 % of the bare decoder", "%.0f %%" % (100 * seq), seq >= 0.8)
tree = rate("BM_EncodeLzssTree/method:196") / z6
target("tree coder (0xC4) >= 0.5x zlib-6 throughput", "%.2fx" % tree, tree >= 0.5)
opt = rate("BM_EncodeLzssOptimal/method:196") / z6
target("optimal coder (0xC4) >= 0.4x zlib-6 throughput", "%.2fx" % opt, opt >= 0.4)
gain = 1 - counter("BM_EncodeLzssOptimal/method:196", "coded_bytes") / counter("BM_EncodeLzssTree/method:196", "coded_bytes")
target("optimal output smaller than the tree coder's (0xC4; about 3 % expected)", "%.2f %% smaller" % (100 * gain), gain > 0)
fr = hm / items("BM_PackFindRecord")
target("FindRecord within 3x of the hash map's time", "%.2fx" % fr, fr <= 3)
target("directory < half the raw names' bytes", "%.1f %%" % (100 * dbytes / rbytes), dbytes < rbytes / 2)
if e2e:
    if "build_auto" in e2e and "build" in e2e:
        a = e2e["build_auto"][0] / e2e["build"][0]
        target("--method auto within 2x the time of one build", "%.2fx" % a, a <= 2)
    if "extract" in e2e and "cp_r" in e2e:
        x = e2e["cp_r"][0] / e2e["extract"][0]
        target("extract >= 50 % of cp -r's speed", "%.0f %%" % (100 * x), x >= 0.5)
    if "wine_apply" in e2e:
        check, whole = e2e["wine_seal_check_cpu"][0], e2e["wine_apply_cpu"][0]
        target("seal check <= 10 % of the apply of a 100 MB patch under Wine (patcher cpu)",
               "%.2f s of %.2f s (%.1f %%)" % (check, whole, 100 * check / whole),
               check <= 0.1 * whole)
    for name in ("big_build", "big_extract"):
        if name in e2e:
            mib = e2e[name][2] / 1024
            target("%s of a 1 GiB tree < 64 MiB peak RSS" % name.replace("big_", ""), "%.1f MiB" % mib, mib < 64)
# The codec sections (scripts/bench-codec.sh, scripts/bench-delta.sh) come from other runs: kept.
import os
import re
kept = []
if os.path.exists(out_path):
    kept = re.findall(r"<!-- codec:\w+ -->.*?<!-- /codec:\w+ -->", open(out_path).read(), re.S)
with open(out_path, "w") as f:
    f.write("\n".join(lines) + "\n" + "".join("\n" + k + "\n" for k in kept))
print("\n".join(lines[-20:]))
try:
    print("charts: " + " ".join(bench_charts.draw("\n".join(lines), os.path.dirname(out_path) or ".")))
except ImportError:
    sys.exit("bench_report: no charts: Debian's python3-matplotlib is missing (scripts/install-deps.sh)")
