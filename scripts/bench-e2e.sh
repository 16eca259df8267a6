#!/bin/bash
# End-to-end timings of the vornpatch tool on the benchmark corpus tree, beside tar + gzip -6 and
# cp -r, with peak resident memory from /usr/bin/time. Writes "name<TAB>seconds<TAB>cpu<TAB>kib"
# lines to the file given as $2.
# Then the patcher under Wine applies a patch of 100 MB or more (scripts/bench_apply.py; set
# VORN_BENCH_APPLY=0 to leave it out).
# Usage: scripts/bench-e2e.sh VORNPATCH OUT.tsv [--big]
#   --big also builds and extracts a 1 GiB tree (16 hard-linked copies of the corpus tree).
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "$1")
results=$2
big=${3:-}
corpus=$root/build/bench-corpus
work=$corpus/e2e
[ -d "$corpus/tree" ] || { echo "no corpus: run scripts/make-bench-corpus.sh" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
: >"$results"

# A patch source: Patch.ini and Files (the corpus tree, hard-linked), and a stub without payload.
make_source() {  # DIR COPIES
  mkdir -p "$1/Files"
  # Every key the patcher looks up, as build requires.
  printf '[str]\nver=10001\nlang=\n' >"$1/Patch.ini"
  for key in title welcome vornrun notvorn noneed wronglang copy errcopy errnotcomplete done; do
    printf '%s=bench\n' "$key" >>"$1/Patch.ini"
  done
  for ((i = 0; i < $2; i++)); do cp -al "$corpus/tree" "$1/Files/copy$i"; done
}
{ printf MZ; head -c 65534 /dev/zero; } >"$work/stub.exe"  # what extract recognises as an executable

# measure NAME COMMAND...: wall seconds, user+system seconds, peak RSS in KiB.
measure() {
  local name=$1
  shift
  sync
  /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || {
    cat "$work/err.txt" >&2
    echo "$name failed" >&2
    exit 1
  }
  read -r wall user system kib <"$work/time.txt"
  printf '%s\t%s\t%s\t%s\n' "$name" "$wall" "$(echo "$user + $system" | bc)" "$kib" >>"$results"
  echo "$name: ${wall}s wall, peak ${kib} KiB" >&2
}

make_source "$work/src" 1
measure build "$tool" build "$work/src" -o "$work/patch.exe" --stub "$work/stub.exe"
measure build_fast "$tool" build "$work/src" -o "$work/patch-fast.exe" --stub "$work/stub.exe" --fast
measure build_auto "$tool" build "$work/src" -o "$work/patch-auto.exe" --stub "$work/stub.exe" --method auto
measure extract "$tool" extract "$work/patch.exe" -C "$work/out"
# The extracted tree holds the same bytes (member names are upper case, so compare sizes and sums).
tree_sum() { (cd "$1" && find . -type f -exec sha256sum {} + | cut -d" " -f1 | sort | sha256sum); }
[ "$(tree_sum "$work/src")" = "$(tree_sum "$work/out")" ] || { echo "extract differs" >&2; exit 1; }
measure tar_gzip bash -c "tar -cf - -C '$work/src' . | gzip -6 >'$work/tree.tar.gz'"
mkdir -p "$work/untar"
measure gunzip_tar bash -c "gzip -dc '$work/tree.tar.gz' | tar -xf - -C '$work/untar'"
measure cp_r cp -r "$work/src" "$work/copy"
for f in patch.exe patch-fast.exe patch-auto.exe tree.tar.gz; do
  printf 'size_%s\t%s\t0\t0\n' "$f" "$(stat -c %s "$work/$f")" >>"$results"
done
rm -rf "$work/out" "$work/untar" "$work/copy"

if [ "$big" = --big ]; then
  make_source "$work/big" 16
  measure big_build "$tool" build "$work/big" -o "$work/big.exe" --stub "$work/stub.exe"
  rm -rf "$work/big"
  measure big_extract "$tool" extract "$work/big.exe" -C "$work/bigout"
  printf 'size_big_tree\t%s\t0\t0\n' "$(du -sb "$work/bigout" | cut -f1)" >>"$results"
  rm -rf "$work/bigout" "$work/big.exe"
fi

if [ "${VORN_BENCH_APPLY:-1}" = 1 ]; then
  rm -rf "$work"
  source "$root/scripts/wine-env.sh"
  source "$root/scripts/e2e-programs.sh"
  vorn_wine_prefix
  vorn_build_e2e_programs "$root" || { echo "building the patcher failed" >&2; exit 1; }
  python3 "$root/scripts/bench_apply.py" "$tool" "$VORN_STUB" "$VORN_HELPERS" "$corpus/tree" \
    "$results"
fi
