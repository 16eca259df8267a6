#!/usr/bin/env bash
# The main job: builds everything, builds the example patch and applies it to a sample game
# installation under Wine. Usage: scripts/demo.sh [--no-install] [--visible]
set -euo pipefail
root="$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)"
cd "$root"
install=1
for arg in "$@"; do
  case "$arg" in
    --no-install) install=0 ;;
  esac
done
if [ "$install" = 1 ]; then bash scripts/install-deps.sh; fi
jobs=$(nproc)
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/native -j"$jobs"
cmake -S . -B build/win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win-i686 -j"$jobs"
bash scripts/check-windows-binaries.sh build/win-i686
