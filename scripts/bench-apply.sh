#!/bin/bash
# Apply time under Wine: our patcher (default and --codec lzss patches) beside NSIS installers of
# the same tree (scripts/bench_patch_apply.py). Writes the section "Apply time under Wine" of
# bench/RESULTS.md and the raw figures to build-bench/apply.tsv. Runs alone: the figures are
# CPU seconds on a shared machine, and other benchmarks would share its load.
# Usage: scripts/bench-apply.sh
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export BENCH_LOAD_AT_START="$(cut -d" " -f1-3 /proc/loadavg)"
[ -s build/bench-corpus/MANIFEST ] || scripts/make-bench-corpus.sh
# The NSIS installers are built for x86-64, so every program runs as its x86-64 build.
export VORN_WIN_ARCH=x86_64
source scripts/wine-env.sh
source scripts/e2e-programs.sh
vorn_wine_prefix
vorn_build_e2e_programs "$root" || { echo "building the patcher failed" >&2; exit 1; }
mkdir -p build-bench
python3 scripts/bench_patch_apply.py "$VORN_TOOL" "$VORN_STUB" "$VORN_HELPERS" \
  "$root/build/bench-corpus/tree" build-bench/apply.tsv
python3 scripts/bench_codec_report.py apply build-bench/apply.tsv "scripts/bench-apply.sh" \
  bench/RESULTS.md
