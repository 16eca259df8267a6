#!/usr/bin/env bash
# The Debian package as a user gets it: made by scripts/package.sh, unpacked with dpkg -x into a
# scratch folder, its tool builds the example patch with no --stub (finding the packaged stub as
# ../share/vornpatch from its usr/bin) and verifies it. Usage: tests/package/check.sh
set -euo pipefail
root="$(cd "$(dirname "$(readlink -f "$0")")/../.." && pwd)"
cd "$root"
scratch="$(mktemp -d /tmp/vornpatch-package.XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }

deb="$(bash scripts/package.sh -o "$scratch" | awk '{print $1}')"
[ -f "$deb" ] || fail "scripts/package.sh made no package"
contents="$(dpkg -c "$deb" | awk '{print $6}')"
for path in ./usr/bin/vornpatch ./usr/share/vornpatch/vornpatch-stub.exe \
    ./usr/share/doc/vornpatch/README.md ./usr/share/man/man1/vornpatch.1.gz; do
  grep -qx "$path" <<<"$contents" || fail "the package lacks $path"
done
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "no shared-library dependencies"

dpkg -x "$deb" "$scratch/root"
tool="$scratch/root/usr/bin/vornpatch"
stub="$scratch/root/usr/share/vornpatch/vornpatch-stub.exe"
cmp -s "$stub" build/win-i686/patcher/patcher.exe || fail "the packaged stub is not the 32-bit patcher"
summary="$(env -u VORNPATCH_STUB "$tool" build examples/patch -o "$scratch/p.exe" --json)"
grep -qF "\"stub\": \"$stub\"" <<<"$summary" || fail "the build did not take the packaged stub: $summary"
verdict="$("$tool" verify "$scratch/p.exe")"
# The container starts behind the stub and the 24-byte seal record.
grep -q "OK (patch executable; payload at offset $(($(stat -c %s "$stub") + 24));" <<<"$verdict" ||
  fail "verify says: $verdict"
echo "package check: $(basename "$deb") installs a tool that builds and verifies a patch"
