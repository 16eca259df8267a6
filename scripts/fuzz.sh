#!/usr/bin/env bash
# Builds the fuzz targets with clang-14 and fuzzes each target for a bounded time, starting from
# its committed seed corpus (which the unit build also replays, as the replay_* tests). New inputs
# go to a scratch folder, never into fuzz/corpus.
#
#   scripts/fuzz.sh [seconds per target] [target...]
#   FUZZ_TIME=60 FUZZ_JOBS=1 scripts/fuzz.sh fuzz_lzss_file
#
# Targets default to every folder in fuzz/corpus/. A crash stops the script with its reproducer
# in the scratch folder (printed) and a nonzero exit.
set -euo pipefail
root="$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)"
seconds="${1:-${FUZZ_TIME:-20}}"
shift || true
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVORN_FUZZ=ON -DVORN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null

if [ "$#" -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for dir in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

scratch="$(mktemp -d "${TMPDIR:-/tmp}/vorn-fuzz.XXXXXX")"
echo "scratch folder: $scratch"
for target in "${targets[@]}"; do
  binary="$build/fuzz/$target"
  seeds="$root/fuzz/corpus/$target"
  [ -x "$binary" ] || { echo "no fuzz target $target in $build/fuzz" >&2; exit 1; }
  mkdir -p "$scratch/$target"
  echo "== $target: fuzzing for ${seconds}s"
  (cd "$scratch/$target" &&
    "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
      "$scratch/$target" "$seeds" 2>"$scratch/$target.log") ||
    { tail -60 "$scratch/$target.log"; echo "reproducer in $scratch/$target"; exit 1; }
  grep -E "stat::number_of_executed_units|cov:" "$scratch/$target.log" | tail -2
done
echo "fuzzing clean"
