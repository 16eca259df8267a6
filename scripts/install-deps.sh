#!/usr/bin/env bash
# Installs what the builds and tests need from Debian 12's packages, and nothing when all is
# there already (safe to run again). Needs root (or sudo).
set -euo pipefail

packages=(
  build-essential cmake python3 git
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 wine32:i386
  xvfb xdotool openbox x11-utils imagemagick
  clang-14 libclang-rt-14-dev
  googletest libbenchmark-dev zlib1g-dev liblz4-dev
  time help2man python3-matplotlib osslsigncode openssl xz-utils zstd bsdiff xdelta3 nsis
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
fi
as_root apt-get update -qq
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
  "${missing[@]}" >/dev/null
echo "install-deps: done"
