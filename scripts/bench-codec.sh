#!/bin/bash
# Whole-file coding of the benchmark corpus, the Tarn codec beside tar | xz -9, tar | zstd -19
# and tar | gzip -9, side by side in one run (the patches that vornpatch builds of the same
# corpus: scripts/bench-patch.sh). Writes the section "Codec: whole files" of bench/RESULTS.md
# (between its markers) and the raw figures to build-bench/codec.tsv.
#
# The codec codes the corpus three ways: the same tar the peers get; the files concatenated as
# one solid stream in a fixed order (by file name extension, then path, so that kin sit
# together), with and without the x86 filter; and every file alone (the filter on for
# executables). Figures: coded bytes, CPU seconds of the coder, peak RSS, and decoding MB/s of
# output (the codec in memory, best of 3; the peers decoding to /dev/null).
# Usage: scripts/bench-codec.sh
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export BENCH_LOAD_AT_START="$(cut -d" " -f1-3 /proc/loadavg)"
corpus=build/bench-corpus
[ -s $corpus/MANIFEST ] || scripts/make-bench-corpus.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVORN_BENCH=ON -DVORN_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target tarn_tool >/dev/null
tool=$root/build-bench/bench/tarn_tool
work=$root/build-bench/codec
rm -rf "$work" && mkdir -p "$work"
tsv=$root/build-bench/codec.tsv
: >"$tsv"

# The peers' input: a tar of the tree in name order. The codec's solid order: by extension.
tar -cf "$work/corpus.tar" -C $corpus/tree --sort=name --owner=0 --group=0 --mtime=@0 .
awk '{print $3}' $corpus/MANIFEST |
  awk '{n = split($0, p, "/"); f = p[n]; e = (f ~ /\./) ? f : ""; sub(/^.*\./, "", e);
        print e "\t" $0}' | sort -t "$(printf '\t')" -k1,1 -k2,2 | cut -f2 |
  sed "s|^|$corpus/tree/|" >"$work/order"
xargs -d '\n' cat <"$work/order" >"$work/solid"
raw_tar=$(stat -c %s "$work/corpus.tar")
raw=$(stat -c %s "$work/solid")

# measure NAME RAW_BYTES CODED_FILE -- COMMAND...: CPU seconds (user + sys) and peak RSS.
measure() {
  local name=$1 raw=$2 coded=$3
  shift 4
  /usr/bin/time -f "%U %S %M" -o "$work/time" "$@" >/dev/null
  read -r user sys rss <"$work/time"
  printf '%s\t%s\t%s\t%s\t%s\n' "$name" "$raw" "$(stat -c %s "$coded")" \
    "$(echo "$user + $sys" | bc)" "$((rss / 1024))" >>"$tsv"
}
# decode_speed NAME BYTES -- COMMAND...: MB/s of output, best of 3 CPU times.
decode_speed() {
  local name=$1 bytes=$2 best=
  shift 3
  for _ in 1 2 3; do
    /usr/bin/time -f "%U %S" -o "$work/time" "$@" >/dev/null
    read -r user sys <"$work/time"
    t=$(echo "$user + $sys" | bc)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
  done
  printf 'speed\t%s\t%s\n' "$name" "$(echo "scale=1; $bytes / 1000000 / ($best + 0.005)" | bc)" >>"$tsv"
}

measure "tar | xz -9" "$raw_tar" "$work/tar.xz" -- sh -c "xz -9 -c '$work/corpus.tar' >'$work/tar.xz'"
measure "tar | zstd -19" "$raw_tar" "$work/tar.zst" -- sh -c "zstd -q -19 -c '$work/corpus.tar' >'$work/tar.zst'"
measure "tar | gzip -9" "$raw_tar" "$work/tar.gz" -- sh -c "gzip -9 -c '$work/corpus.tar' >'$work/tar.gz'"
measure "tar | tarn" "$raw_tar" "$work/tar.tn" -- "$tool" encode "$work/corpus.tar" "$work/tar.tn"
measure "tarn solid" "$raw" "$work/solid.tn" -- "$tool" encode "$work/solid" "$work/solid.tn"
measure "tarn solid, x86 filter" "$raw" "$work/solid.x86.tn" -- \
  "$tool" encode --x86 "$work/solid" "$work/solid.x86.tn"
"$tool" each --x86-code "$work/order" >"$work/each.txt"
read -r _ _ each_in _ each_out _ each_cpu _ <"$work/each.txt"
printf 'tarn, each file alone\t%s\t%s\t%s\t-\n' "$each_in" "$each_out" "$each_cpu" >>"$tsv"

decode_speed "xz -d" "$raw_tar" -- xz -dc "$work/tar.xz"
decode_speed "zstd -d" "$raw_tar" -- zstd -dc "$work/tar.zst"
decode_speed "gzip -d" "$raw_tar" -- gzip -dc "$work/tar.gz"
"$tool" speed --runs 3 "$work/solid.x86.tn" | awk '{print "speed\ttarn (in memory)\t" $1}' >>"$tsv"
"$tool" decode "$work/solid.x86.tn" "$work/solid.back" >/dev/null
cmp "$work/solid" "$work/solid.back"
/usr/bin/time -f "%M" -o "$work/time" "$tool" decode "$work/solid.x86.tn" "$work/solid.back" >/dev/null
printf 'rss\ttarn decode through files\t%s\n' "$(($(cat "$work/time") / 1024))" >>"$tsv"

python3 scripts/bench_codec_report.py whole "$tsv" "scripts/bench-codec.sh" bench/RESULTS.md
