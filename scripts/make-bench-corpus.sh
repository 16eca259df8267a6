#!/bin/bash
# Assembles the benchmark corpus: about 80 MB of the kinds of files a patch carries, taken from
# what a Debian 12 machine with Wine installed has. The selection is deterministic (sorted paths,
# a fixed stride and a byte cap per class), so every run on such a machine picks the same files;
# the manifest (path, size, sha256) pins the bytes so that figures can be compared.
#
# Output (not committed):
#   build/bench-corpus/tree/<class>/...   the files, as a directory tree
#   build/bench-corpus/corpus.bin         all files concatenated in manifest order
#   build/bench-corpus/MANIFEST           "sha256  size  path" per file, in that order
# Usage: scripts/make-bench-corpus.sh [output-dir]
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/bench-corpus}
rm -rf "$out"
mkdir -p "$out/tree"
manifest=$out/MANIFEST
: >"$manifest"

# take CLASS CAP_BYTES STRIDE MIN MAX -- reads candidate paths (NUL-separated, any order) on
# stdin; sorts them, keeps every STRIDE-th file whose size lies in [MIN, MAX], until CAP_BYTES.
take() {
  local class=$1 cap=$2 stride=$3 min=$4 max=$5
  local total=0 index=0 path size dest
  mkdir -p "$out/tree/$class"
  while IFS= read -r -d '' path; do
    [[ $path != *[[:space:]]* ]] || continue  # the manifest's fields are split at spaces
    size=$(stat -L -c %s "$path")
    ((size >= min && size <= max)) || continue
    index=$((index + 1))
    ((index % stride == 0)) || continue
    ((total + size <= cap)) || continue
    dest="$out/tree/$class/${path#/}"
    mkdir -p "$(dirname "$dest")"
    cp -L "$path" "$dest"
    total=$((total + size))
  done < <(sort -z -u)
  echo "$class: $total bytes" >&2
}

# Man pages are stored compressed; the corpus holds them as the text they are, up to the first
# page that would pass the cap.
take_man() {
  local class=$1 cap=$2 stride=$3
  local total=0 index=0 path size dest
  mkdir -p "$out/tree/$class"
  while IFS= read -r -d '' path; do
    index=$((index + 1))
    ((index % stride == 0)) || continue
    dest="$out/tree/$class/${path#/}"
    dest=${dest%.gz}
    mkdir -p "$(dirname "$dest")"
    gzip -dc "$path" >"$dest"
    size=$(stat -c %s "$dest")
    if ((total + size > cap)); then
      rm -f "$dest"
      break
    fi
    total=$((total + size))
  done < <(find /usr/share/man/man1 /usr/share/man/man3 /usr/share/man/man5 /usr/share/man/man8 \
             -type f -name '*.gz' -print0 2>/dev/null | sort -z)
  echo "$class: $total bytes" >&2
}

pe32=/usr/lib/i386-linux-gnu/wine/i386-windows
pe64=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
[ -d "$pe32" ] || pe32=/usr/lib/wine/i386-windows
[ -d "$pe32" ] && [ -d "$pe64" ] || { echo "Wine's Windows libraries not found" >&2; exit 1; }

find "$pe32" -type f \( -name '*.dll' -o -name '*.exe' \) -print0 | take pe32 25165824 2 4096 2097152
find "$pe64" -type f \( -name '*.dll' -o -name '*.exe' \) -print0 | take pe64 8388608 5 4096 2097152
find /usr/share/doc -type f ! -name '*.gz' ! -name '*.xz' ! -name '*.bz2' ! -name '*.png' \
  ! -name '*.jpg' ! -name '*.gif' ! -name '*.pdf' -print0 | take text 8388608 1 256 1048576
take_man man 6291456 2
find /usr/share -type f \( -name '*.png' -o -name '*.bmp' -o -name '*.ico' -o -name '*.xpm' \
  -o -name '*.jpg' -o -name '*.gif' -o -name '*.svg' \) -print0 | take images 6291456 1 512 1048576
find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f \( -perm -u+x -o -name '*.so*' \) \
  -print0 | take elf 12582912 3 4096 2097152

# What a game ships already compressed (packed archives, compressed documents), and thousands of
# small files (scripts, settings, time-zone tables), as a patch of a real game carries them.
find /usr/share/doc /usr/share/perl /usr/lib/python3 -type f \( -name '*.gz' -o -name '*.xz' \
  -o -name '*.bz2' -o -name '*.zip' -o -name '*.jar' -o -name '*.whl' \) -print0 |
  take compressed 8388608 1 1024 2097152
find /usr/lib/python3 /usr/share/zoneinfo /usr/share/perl -type f -print0 |
  take small 8388608 2 64 4096

# The manifest lists the tree in one fixed order; corpus.bin is that order concatenated.
(cd "$out/tree" && find . -type f -print0 | sort -z | xargs -0 sha256sum | sed 's|  \./|  |') >"$out/sums"
cut -c67- "$out/sums" >"$out/paths"
(cd "$out/tree" && xargs -d '\n' stat -c %s <"$out/paths") >"$out/sizes"
paste -d '\t' <(cut -c1-64 "$out/sums") "$out/sizes" "$out/paths" | sed 's/\t/  /g' >"$manifest"
(cd "$out/tree" && xargs -d '\n' cat <"$out/paths") >"$out/corpus.bin"
rm -f "$out/paths" "$out/sizes"
rm -f "$out/sums"
echo "$(wc -l <"$manifest") files, $(stat -c %s "$out/corpus.bin") bytes; manifest $manifest" >&2
