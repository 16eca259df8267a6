#!/bin/bash
# Deltas: the Tarn codec with the old file as its dictionary and vornpatch build --base (its
# member and its whole patch), beside bsdiff, xdelta3 -9 -S djw
# (and -S lzma where xdelta3 has it), zstd -19 --long=27 --patch-from and a full copy coded
# alone (xz -9 and Tarn), side by side in one run. Writes the section "Codec: deltas" of
# bench/RESULTS.md and the raw figures to build-bench/delta.tsv.
#
# The pairs are made reproducibly under build-bench/delta/:
#   patcher.exe, vornpatch.exe  the Win32 programs built with mingw-w64 from git worktree
#                               checkouts of two commits (OLD_COMMIT, NEW_COMMIT)
#   data.pak                    a pack of part of the benchmark corpus, before and after
#                               replacing, growing, dropping and adding a few members
#   text                        8 MB of text with scattered edits
#   appended                    a 4 MB file with 300 KB appended
#   moved                       a 6 MB file with a 600 KB block moved
# Usage: scripts/bench-delta.sh [OLD_COMMIT [NEW_COMMIT]]   (default main~20 and main)
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export BENCH_LOAD_AT_START="$(cut -d" " -f1-3 /proc/loadavg)"
old_commit=$(git rev-parse "${1:-main~20}")
new_commit=$(git rev-parse "${2:-main}")
corpus=build/bench-corpus
[ -s $corpus/MANIFEST ] || scripts/make-bench-corpus.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVORN_BENCH=ON -DVORN_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target tarn_tool vornpatch >/dev/null
tool=$root/build-bench/bench/tarn_tool
vornpatch=$root/build-bench/tools/vornpatch/vornpatch
work=$root/build-bench/delta
mkdir -p "$work/pairs"
tsv=$root/build-bench/delta.tsv
: >"$tsv"

# The two builds of the Windows programs (kept between runs: keyed by commit).
build_at() {
  local commit=$1 out=$work/builds/$1
  [ -s "$out/vornpatch.exe" ] && return
  local tree=$work/checkout-$commit
  git worktree add --detach "$tree" "$commit" >/dev/null 2>&1
  cmake -S "$tree" -B "$tree/build" -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVORN_TESTS=OFF >/dev/null
  cmake --build "$tree/build" -j2 --target patcher vornpatch >/dev/null
  mkdir -p "$out"
  cp "$tree/build/patcher/patcher.exe" "$tree/build/tools/vornpatch/vornpatch.exe" "$out/"
  git worktree remove --force "$tree"
}
build_at "$old_commit"
build_at "$new_commit"
for exe in patcher.exe vornpatch.exe; do
  cp "$work/builds/$old_commit/$exe" "$work/pairs/$exe.old"
  cp "$work/builds/$new_commit/$exe" "$work/pairs/$exe.new"
done

# The pack: the corpus's Windows libraries, images and text; then a few members change.
rm -rf "$work/tree" && mkdir -p "$work/tree"
cp -r $corpus/tree/pe32 $corpus/tree/images $corpus/tree/text "$work/tree/"
"$vornpatch" pack "$work/tree" -o "$work/pairs/data.pak.old" >/dev/null
python3 - "$work/tree" <<'PY'
import os, sys
root = sys.argv[1]
files = sorted(os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs)
big = [f for f in files if os.path.getsize(f) > 100000]
with open(big[3], "r+b") as f:   # a member rewritten in part
    f.seek(5000); f.write(bytes(range(256)) * 20)
with open(big[10], "ab") as f:   # a member grown
    f.write(open(big[11], "rb").read()[:50000])
os.remove(big[20])               # a member dropped
with open(os.path.join(root, "text", "NEWMEMBER.TXT"), "wb") as f:   # a member added
    f.write(b"".join(b"line %d of the new member\n" % i for i in range(3000)))
PY
"$vornpatch" pack "$work/tree" -o "$work/pairs/data.pak.new" >/dev/null

# Text, appended, moved: from the corpus's bytes, edited by fixed rules.
python3 - "$corpus/corpus.bin" "$work/pairs" <<'PY'
import random, sys
corpus, out = open(sys.argv[1], "rb").read(), sys.argv[2]
rng = random.Random(7)
text = corpus[-8000000:]
edited = bytearray(text)
for at in sorted(rng.sample(range(100, len(text) - 100), 400), reverse=True):
    kind = rng.randrange(3)
    if kind == 0: edited[at:at + 5] = b"EDIT!"
    elif kind == 1: edited[at:at] = b" inserted words "
    else: del edited[at:at + 40]
open(out + "/text.old", "wb").write(text); open(out + "/text.new", "wb").write(edited)
base = corpus[10000000:14000000]
open(out + "/appended.old", "wb").write(base)
open(out + "/appended.new", "wb").write(base + corpus[30000000:30300000])
base = corpus[40000000:46000000]
moved = base[:1000000] + base[1600000:5000000] + base[1000000:1600000] + base[5000000:]
open(out + "/moved.old", "wb").write(base); open(out + "/moved.new", "wb").write(moved)
PY

# run NAME -- COMMAND...: sets cpu and rss (MiB) of the command.
run() {
  shift
  /usr/bin/time -f "%U %S %M" -o "$work/time" "$@" >/dev/null 2>&1
  read -r user sys rss <"$work/time"
  cpu=$(echo "$user + $sys" | bc)
  rss=$((rss / 1024))
}
# row PAIR TOOL PATCH: records the figures of the last encode and decode.
row() {
  cmp "$new" "$work/back" || { echo "$2 did not give $1 back" >&2; exit 1; }
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$(stat -c %s "$new")" "$2" \
    "$(stat -c %s "$3")" "$enc_cpu" "$dec_cpu" "$enc_rss" "$dec_rss" >>"$tsv"
}
lzma=
xdelta3 -S lzma -e -s /dev/null /dev/null "$work/probe" >/dev/null 2>&1 && lzma=1

for pair in patcher.exe vornpatch.exe data.pak text appended moved; do
  old=$work/pairs/$pair.old new=$work/pairs/$pair.new p=$work/patch
  run x -- "$tool" encode --dict "$old" "$new" "$p.tn"; enc_cpu=$cpu enc_rss=$rss
  run x -- "$tool" decode --dict "$old" "$p.tn" "$work/back"; dec_cpu=$cpu dec_rss=$rss
  row "$pair" "tarn delta" "$p.tn"
  run x -- bsdiff "$old" "$new" "$p.bsdiff"; enc_cpu=$cpu enc_rss=$rss
  run x -- bspatch "$old" "$work/back" "$p.bsdiff"; dec_cpu=$cpu dec_rss=$rss
  row "$pair" "bsdiff" "$p.bsdiff"
  for s in djw ${lzma:+lzma}; do
    run x -- xdelta3 -f -9 -S $s -e -s "$old" "$new" "$p.xd"; enc_cpu=$cpu enc_rss=$rss
    run x -- xdelta3 -f -d -s "$old" "$p.xd" "$work/back"; dec_cpu=$cpu dec_rss=$rss
    row "$pair" "xdelta3 -9 -S $s" "$p.xd"
  done
  run x -- zstd -q -f -19 --long=27 --patch-from="$old" "$new" -o "$p.zst"; enc_cpu=$cpu enc_rss=$rss
  run x -- zstd -q -f -d --long=27 --patch-from="$old" "$p.zst" -o "$work/back"; dec_cpu=$cpu dec_rss=$rss
  row "$pair" "zstd -19 --long=27 --patch-from" "$p.zst"
  run x -- sh -c "xz -9 -c '$new' >'$p.xz'"; enc_cpu=$cpu enc_rss=$rss
  run x -- sh -c "xz -dc '$p.xz' >'$work/back'"; dec_cpu=$cpu dec_rss=$rss
  row "$pair" "full copy, xz -9" "$p.xz"
  # vornpatch build --base: the new file as the patch source's only file, the old one installed;
  # the member (CODED\NAME) alone and the whole patch less its stand-in stub of 1 KiB.
  rm -rf "$work/vp" && mkdir -p "$work/vp/src/Files" "$work/vp/base"
  printf '[str]\r\n' >"$work/vp/src/Patch.ini"
  cp "$new" "$work/vp/src/Files/$pair" && cp "$old" "$work/vp/base/$pair"
  { printf 'MZ'; head -c 1022 /dev/zero; } >"$work/vp/stub.exe"
  run x -- "$vornpatch" build "$work/vp/src" -o "$p.exe" --stub "$work/vp/stub.exe" \
    --base "$work/vp/base" --allow-missing-keys -q; enc_cpu=$cpu enc_rss=$rss
  run x -- "$vornpatch" extract "$p.exe" -C "$work/vp/out" --base "$work/vp/base"; dec_cpu=$cpu dec_rss=$rss
  cp "$work/vp/out/FILES/${pair^^}" "$work/back"
  member=$("$vornpatch" list "$p.exe" | awk -v n="CODED\\\\${pair^^}" '$2 == n {print $1}')
  head -c "${member:?no coded member}" /dev/zero >"$p.member"
  row "$pair" "vornpatch build --base, member" "$p.member"
  tail -c +1025 "$p.exe" >"$p.payload"
  row "$pair" "vornpatch build --base, patch - stub" "$p.payload"
  x86=; case $pair in *.exe) x86=--x86 ;; esac
  run x -- "$tool" encode $x86 "$new" "$p.full.tn"; enc_cpu=$cpu enc_rss=$rss
  run x -- "$tool" decode "$p.full.tn" "$work/back"; dec_cpu=$cpu dec_rss=$rss
  row "$pair" "full copy, tarn" "$p.full.tn"
done
python3 scripts/bench_codec_report.py delta "$tsv" "scripts/bench-delta.sh $*" bench/RESULTS.md
