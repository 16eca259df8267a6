#!/bin/bash
# What a player downloads and what it costs to make: the benchmark corpus as a patch built by
# vornpatch (default, --fast, --codec lzss, on the shipped 32-bit patcher), as NSIS installers
# (/SOLID lzma and zlib, the 32-bit stub) and as tar | xz -9, tar | zstd -19 and tar | gzip -9,
# side by side in one run. Figures: file bytes, the payload (the file less its program: our
# patcher, or an NSIS installer of the same script with no files), CPU seconds (user + sys of
# the whole process tree), wall seconds and peak RSS. Writes the section "Patch size and build
# CPU" of bench/RESULTS.md (between its markers) and the raw figures to build-bench/patch.tsv.
# Usage: scripts/bench-patch.sh
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export BENCH_LOAD_AT_START="$(cut -d" " -f1-3 /proc/loadavg)"
corpus=$root/build/bench-corpus
[ -s "$corpus/MANIFEST" ] || scripts/make-bench-corpus.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVORN_BENCH=ON -DVORN_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target vornpatch >/dev/null
cmake -S . -B build/win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win-i686 -j2 --target patcher >/dev/null
vornpatch=$root/build-bench/tools/vornpatch/vornpatch
stub=$root/build/win-i686/patcher/patcher.exe
work=$root/build-bench/patch
rm -rf "$work" && mkdir -p "$work"
tsv=$root/build-bench/patch.tsv
: >"$tsv"
input=$(awk '{s += $2} END {print s}' "$corpus/MANIFEST")

# nsi FILE COMPRESSOR OUTPUT [TREE]: an installer that puts the tree into $INSTDIR.
nsi() {
  {
    printf 'Unicode true\nSetCompressor %s\nName "Vorn"\nOutFile "%s"\n' "$2" "$3"
    printf 'InstallDir "$PROGRAMFILES\\Vorn"\nRequestExecutionLevel user\n'
    printf 'Section\nSetOutPath "$INSTDIR"\n'
    [ -z "${4:-}" ] || printf 'File /r "%s/*"\n' "$4"
    printf 'SectionEnd\n'
  } >"$1"
}
# measure NAME FILE PROGRAM_BYTES -- COMMAND...: the figures of one build.
measure() {
  local name=$1 file=$2 program=$3
  shift 4
  sync
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null
  read -r wall user sys rss <"$work/time"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$input" "$(stat -c %s "$file")" "$program" \
    "$(echo "$user + $sys" | bc)" "$wall" "$((rss / 1024))" >>"$tsv"
}

mkdir -p "$work/src" && printf '[str]\r\n' >"$work/src/Patch.ini" && ln -s "$corpus/tree" "$work/src/Files"
for options in "" "--fast" "--codec lzss"; do
  name=patch$(echo "$options" | tr -d ' -').exe
  measure "vornpatch build${options:+ $options}" "$work/$name" "$(stat -c %s "$stub")" -- \
    "$vornpatch" build "$work/src" -o "$work/$name" --stub "$stub" $options --follow-links \
    --allow-missing-keys -q
  "$vornpatch" verify -q "$work/$name"  # outside the timing: the patch holds what it should
done
for compressor in "/SOLID lzma" zlib; do
  name=nsis-$(echo "$compressor" | tr -d ' /' | tr A-Z a-z)
  nsi "$work/$name-empty.nsi" "$compressor" "$work/$name-empty.exe"
  makensis -V1 "$work/$name-empty.nsi" >/dev/null
  nsi "$work/$name.nsi" "$compressor" "$work/$name.exe" "$corpus/tree"
  measure "NSIS $compressor" "$work/$name.exe" "$(stat -c %s "$work/$name-empty.exe")" -- \
    makensis -V1 "$work/$name.nsi"
done
for coder in "xz -9" "zstd -19" "gzip -9"; do
  name=tree.tar.${coder%% *}
  measure "tar | $coder" "$work/$name" 0 -- sh -c "tar -cf - -C '$corpus/tree' --sort=name \
    --owner=0 --group=0 --mtime=@0 . | $coder -c >'$work/$name'"
done
python3 scripts/bench_codec_report.py patch "$tsv" "scripts/bench-patch.sh" bench/RESULTS.md
