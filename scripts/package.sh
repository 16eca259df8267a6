#!/usr/bin/env bash
# Makes the Debian package vornpatch_<version>_<arch>.deb: the tool from the native Release
# build, the 32-bit patcher as its stub (/usr/share/vornpatch/vornpatch-stub.exe, from the Windows
# build of this tree unless --stub names one), README.md and docs/*.md, and a man page made from
# the tool's --help by help2man. Builds what is missing first.
# Usage: scripts/package.sh [-o DIR] [--stub PATCHER.exe]    (DIR defaults to build/)
set -euo pipefail
root="$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)"
cd "$root"
out=build
stub=
while [ $# -gt 0 ]; do
  case "$1" in
    -o) out="${2:?-o needs a folder}"; shift ;;
    --stub) stub="$(readlink -f "${2:?--stub needs a file}")"; shift ;;
    -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
    *) echo "package.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
for program in help2man dpkg-deb dpkg-shlibdeps; do
  command -v "$program" >/dev/null || { echo "package.sh: $program is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
jobs=$(nproc)

if [ -z "$stub" ]; then
  cmake --no-warn-unused-cli -S . -B build/win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/win-i686 -j"$jobs" --target patcher >/dev/null
  stub="$root/build/win-i686/patcher/patcher.exe"
fi
[ -f "$stub" ] || { echo "package.sh: no patcher at $stub" >&2; exit 1; }
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release -DVORNPATCH_STUB="$stub" >/dev/null
cmake --build build/native -j"$jobs" --target vornpatch >/dev/null
tool=build/native/tools/vornpatch/vornpatch
version="$("$tool" --version | awk '{print $2}')"
arch="$(dpkg --print-architecture)"

work=build/package
stage="$work/root"
rm -rf "$work"
mkdir -p "$work"
DESTDIR="$root/$stage" cmake --install build/native --prefix /usr --strip >/dev/null

# The man page: the top-level help, then every command's own help under COMMANDS.
{
  echo "[COMMANDS]"
  for command in $("$tool" --help | awk '/^Commands:/ {on = 1; next} on && NF {print $1} !NF {on = 0}'); do
    echo ".SS $command"
    echo ".nf"
    "$tool" "$command" --help | sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"
    echo ".fi"
  done
} >"$work/commands.h2m"
mkdir -p "$stage/usr/share/man/man1"
help2man --no-info --section 1 --include "$work/commands.h2m" \
  --name "build, list, extract and verify patches for the game Vorn" "$tool" \
  | gzip -9n >"$stage/usr/share/man/man1/vornpatch.1.gz"

# Shared-library dependencies as Debian computes them (dpkg-shlibdeps wants a debian/control).
mkdir -p "$work/shlibs/debian"
printf 'Source: vornpatch\n\nPackage: vornpatch\nArchitecture: any\n' >"$work/shlibs/debian/control"
depends="$(cd "$work/shlibs" && dpkg-shlibdeps -O -e "$root/$stage/usr/bin/vornpatch" 2>/dev/null)"
depends="${depends#shlibs:Depends=}"

find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
chmod 755 "$stage/usr/bin/vornpatch"
mkdir -p "$stage/DEBIAN"
cat >"$stage/DEBIAN/control" <<CONTROL
Package: vornpatch
Version: $version
Architecture: $arch
Maintainer: ${VORNPATCH_MAINTAINER:-vornpatch maintainers <vornpatch@localhost>}
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $depends
Section: utils
Priority: optional
Description: builds self-contained patches for the Windows game Vorn
 vornpatch puts a payload (an LZSS container holding a pack with Patch.ini and
 the files to install) behind the 32-bit patcher executable, which is included,
 so that the result is one Windows program that patches an installed game.
 It also lists, extracts and verifies patches, packs, LZSS containers and HPFS
 stores.
CONTROL

mkdir -p "$out"
deb="$out/vornpatch_${version}_${arch}.deb"
SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null || date +%s)" \
  dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$(readlink -f "$deb") ($(stat -c %s "$deb") bytes)"
