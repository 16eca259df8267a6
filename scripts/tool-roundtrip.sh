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

tool="$(readlink -f "${1:-build/tools/vornpatch/vornpatch}")"
megabytes="${2:-300}"
work="${3:-$(mktemp -d /tmp/vornpatch-roundtrip.XXXXXX)}"
[ -x "$tool" ] || { echo "no tool at $tool" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed for the measurements" >&2; exit 2; }
trap '[ "${KEEP:-0}" = 1 ] || rm -rf "$work"' EXIT

echo "making a tree of about $megabytes MB in $work/src"
python3 - "$work/src" "$megabytes" <<'PY'
import os, random, sys
root, budget = sys.argv[1], int(sys.argv[2]) << 20
rng = random.Random(1)
# Names are upper case already, so the extracted tree (which packs upper-case) compares as is.
words = [b"VORN", b"PATCH", b"LEVEL", b"SOUND", b"MODEL", b"TEXTURE", b"\r\n", b" "]
os.makedirs(os.path.join(root, "FILES"))
keys = b"title welcome vornrun notvorn noneed wronglang copy errcopy errnotcomplete done".split()
with open(os.path.join(root, "PATCH.INI"), "wb") as f:
    f.write(b"[str]\r\nver=10001\r\nlang=\r\n" + b"".join(b"%s=roundtrip\r\n" % k for k in keys))
n = 0
while budget > 0:
    folder = os.path.join(root, "FILES", *["DIR%02d" % rng.randint(0, 7) for _ in range(rng.randint(0, 4))])
    os.makedirs(folder, exist_ok=True)
    size = min(budget, rng.choice([0, rng.randint(1, 64 << 10), rng.randint(64 << 10, 4 << 20)]))
    with open(os.path.join(folder, "F%05d.%s" % (n, rng.choice(["DAT", "TXT", "WAV"]))), "wb") as f:
        for left in range(size, 0, -(1 << 20)):
            chunk = min(left, 1 << 20)
            f.write(os.urandom(chunk) if rng.random() < 0.4 else
                    b"".join(rng.choice(words) for _ in range(chunk // 4 + 1))[:chunk])
    budget -= size
    n += 1
print("%d files" % n)
PY
du -sh "$work/src"
{ printf 'MZ'; head -c 65534 /dev/zero; } > "$work/stub.exe"

measure() {
  local label="$1"; shift
  /usr/bin/time -v "$@" 2> "$work/time.txt" >/dev/null || { cat "$work/time.txt" >&2; echo "$label failed" >&2; exit 1; }
  printf '%-8s %10s wall  %8s KiB peak RSS\n' "$label" \
    "$(awk '/Elapsed \(wall clock\)/ {print $NF}' "$work/time.txt")" \
    "$(awk '/Maximum resident set size/ {print $NF}' "$work/time.txt")"
}

measure build "$tool" build "$work/src" -o "$work/patch.exe" --stub "$work/stub.exe"
echo "patch: $(stat -c %s "$work/patch.exe") bytes"
measure verify "$tool" verify "$work/patch.exe"
measure extract "$tool" extract "$work/patch.exe" -C "$work/out"
measure list "$tool" list "$work/patch.exe"

# Empty folders are not stored in packs; everything else must come back exactly.
if diff -r "$work/src" "$work/out" | grep -v "^Only in $work/src.*: DIR" > "$work/diff.txt"; then
  head "$work/diff.txt"
  echo "extracted tree differs" >&2
  exit 1
fi
echo "extracted tree equals the source"
