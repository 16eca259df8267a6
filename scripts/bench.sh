#!/bin/bash
# Reruns every benchmark and writes bench/RESULTS.md with its charts (bench/*.png).
# Usage: scripts/bench.sh [--big] [--no-e2e]
#   --big     also builds and extracts a 1 GiB tree for the memory target (slow)
#   --no-e2e  only the Google Benchmark suite
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
big=
e2e=1
for arg in "$@"; do
  case $arg in
    --big) big=--big ;;
    --no-e2e) e2e= ;;
    *) echo "usage: scripts/bench.sh [--big] [--no-e2e]" >&2; exit 2 ;;
  esac
done
[ -s build/bench-corpus/MANIFEST ] || scripts/make-bench-corpus.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVORN_BENCH=ON -DVORN_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target vorn_bench vornpatch >/dev/null
build-bench/bench/vorn_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_enable_random_interleaving=true --benchmark_min_time=0.3 \
  --benchmark_out=build-bench/bench.json --benchmark_out_format=json
: >build-bench/e2e.tsv
[ -z "$e2e" ] || scripts/bench-e2e.sh build-bench/tools/vornpatch/vornpatch build-bench/e2e.tsv $big
# Debian's interpreter, which sees Debian's python3-matplotlib for the charts.
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3
"$python" scripts/bench_report.py build-bench/bench.json build-bench/e2e.tsv build/bench-corpus/MANIFEST \
  "scripts/bench.sh $*" bench/RESULTS.md
