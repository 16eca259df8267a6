#!/usr/bin/env bash
# The main job: installs what is missing, builds everything (the native tool, the shipped 32-bit
# Windows programs and, where the kernel runs no 32-bit programs, the x86-64 build that Wine runs
# here), builds the example patch, makes a throwaway Wine prefix with an installed game, runs the
# patch in it headless under Xvfb with its questions answered by a script, and prints what it did.
# Usage: scripts/demo.sh [--no-install] [--visible | --interactive]
set -euo pipefail
root="$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)"
cd "$root"
install=1
pass=()
for arg in "$@"; do
  case "$arg" in
    --no-install) install=0 ;;
    --visible|--interactive) pass+=("$arg") ;;
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    *) echo "demo.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done
[ "$install" = 1 ] && bash scripts/install-deps.sh

echo "== Building"
jobs=$(nproc)
cmake --no-warn-unused-cli -S . -B build/native -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/native -j"$jobs" >/dev/null
cmake -S . -B build/win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win-i686 -j"$jobs" >/dev/null
bash scripts/check-windows-binaries.sh build/win-i686

export VORN_WINEPREFIX="$root/build/demo/prefix"
rm -rf "$VORN_WINEPREFIX"
source scripts/wine-env.sh
source scripts/e2e-programs.sh
vorn_build_e2e_programs "$root" || { echo "building the end-to-end programs failed" >&2; exit 1; }
echo "== Making a throwaway Wine prefix ($WINEARCH) in $WINEPREFIX"
vorn_wine_prefix
if [ "$VORN_WIN_ARCH" != i686 ]; then
  echo "   (this kernel runs no 32-bit programs, so Wine runs the x86-64 build of the patcher)"
fi
echo "== Running the patch"
exec python3 scripts/demo.py "${pass[@]}"
