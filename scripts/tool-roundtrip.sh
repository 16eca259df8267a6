#!/usr/bin/env bash
# The tool on a large tree: build, verify and extract a patch of a few hundred MB (nested
# folders, empty files, compressible and incompressible data) and check that the extracted tree
# equals the source byte for byte. Prints the time and peak memory of each step.
#
#   scripts/tool-roundtrip.sh [VORNPATCH] [MEGABYTES] [WORKDIR]
#
# VORNPATCH defaults to build/tools/vornpatch/vornpatch, MEGABYTES to 300, WORKDIR to a fresh
# temporary folder (removed at the end unless KEEP=1).
set -euo pipefail

tool="${1:-build/tools/vornpatch/vornpatch}"
megabytes="${2:-300}"
work="${3:-$(mktemp -d /tmp/vornpatch-roundtrip.XXXXXX)}"
tool="$(readlink -f "$tool")"
[ -x "$tool" ] || { echo "no tool at $tool" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed for the measurements" >&2; exit 2; }
cleanup() { [ "${KEEP:-0}" = 1 ] || rm -rf "$work"; }
trap cleanup EXIT

echo "making a tree of about $megabytes MB in $work/src"
python3 - "$work/src" "$megabytes" <<'PY'
import os, random, sys
root, megabytes = sys.argv[1], int(sys.argv[2])
rng = random.Random(1)
budget = megabytes << 20
# Names are upper case already, so the extracted tree (which packs upper-case) compares as is.
words = [b"VORN", b"PATCH", b"LEVEL", b"SOUND", b"MODEL", b"TEXTURE", b"SCRIPT", b"\r\n", b" "]
os.makedirs(os.path.join(root, "FILES"), exist_ok=True)
with open(os.path.join(root, "PATCH.INI"), "wb") as f:
    keys = "title welcome vornrun notvorn noneed wronglang copy errcopy errnotcomplete done"
    f.write(b"[str]\r\nver=10001\r\nlang=\r\n" + b"".join(b"%s=roundtrip\r\n" % k.encode()
                                                          for k in keys.split()))
n = 0
while budget > 0:
    depth = rng.randint(0, 4)
    folder = os.path.join(root, "FILES", *["DIR%02d" % rng.randint(0, 7) for _ in range(depth)])
    os.makedirs(folder, exist_ok=True)
    kind = rng.random()
    if kind < 0.05:
        size = 0
    elif kind < 0.5:
        size = rng.randint(1, 64 << 10)
    else:
        size = rng.randint(64 << 10, 4 << 20)
    size = min(size, budget)
    path = os.path.join(folder, "F%05d.%s" % (n, rng.choice(["DAT", "TXT", "BIN", "WAV"])))
    with open(path, "wb") as f:
        left = size
        while left > 0:
            chunk = min(left, 1 << 20)
            if rng.random() < 0.4:
                f.write(os.urandom(chunk))
            else:
                text = b"".join(rng.choice(words) for _ in range(chunk // 4 + 1))
                f.write(text[:chunk])
            left -= chunk
    budget -= size
    n += 1
print("%d files" % n)
PY
du -sh "$work/src"

head -c 65536 /dev/zero | { printf 'MZ'; cat; } | head -c 65536 > "$work/stub.exe"

measure() {
  local label="$1"; shift
  /usr/bin/time -v "$@" 2> "$work/time.txt" >/dev/null || { cat "$work/time.txt" >&2; echo "$label failed" >&2; exit 1; }
  local elapsed rss
  elapsed=$(grep "Elapsed (wall clock)" "$work/time.txt" | awk '{print $NF}')
  rss=$(grep "Maximum resident set size" "$work/time.txt" | awk '{print $NF}')
  printf '%-8s %10s wall  %8s KiB peak RSS\n' "$label" "$elapsed" "$rss"
}

measure build "$tool" build "$work/src" -o "$work/patch.exe" --stub "$work/stub.exe"
ls -l "$work/patch.exe" | awk '{print "patch: " $5 " bytes"}'
measure verify "$tool" verify "$work/patch.exe"
measure extract "$tool" extract "$work/patch.exe" -C "$work/out"
measure list "$tool" list "$work/patch.exe"

# Empty folders are not stored in packs; everything else must come back exactly.
if diff -r "$work/src" "$work/out" > "$work/diff.txt"; then
  echo "extracted tree equals the source"
else
  grep -v "^Only in $work/src.*: DIR" "$work/diff.txt" | head
  echo "extracted tree differs" >&2
  exit 1
fi
