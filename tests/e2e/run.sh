#!/usr/bin/env bash
# Runs the patcher's end-to-end suite under Wine on a virtual display. Builds what it needs (the
# native vornpatch tool, the Windows patcher, the small helper programs) when it is missing.
# Usage: tests/e2e/run.sh [--visible] [-k SUBSTRING]
set -euo pipefail
root="$(cd "$(dirname "$(readlink -f "$0")")/../.." && pwd)"
cd "$root"
source scripts/wine-env.sh
vorn_wine_prefix
jobs=$(nproc)

native=build/native
windows=build/win-$VORN_WIN_ARCH
if [ ! -d "$native" ]; then
  cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$native" -j"$jobs" --target vornpatch >/dev/null
if [ ! -d "$windows" ]; then
  cmake -S . -B "$windows" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$VORN_WIN_ARCH.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$windows" -j"$jobs" --target vornpatcher >/dev/null

helpers=build/e2e-helpers-$VORN_WIN_ARCH
mkdir -p "$helpers"
for source in tests/e2e/helpers/*.c; do
  exe="$helpers/$(basename "${source%.c}").exe"
  if [ ! -f "$exe" ] || [ "$source" -nt "$exe" ]; then
    "$VORN_WIN_ARCH-w64-mingw32-gcc" -Wall -Wextra -Werror -O2 -s "$source" -o "$exe"
  fi
done

export VORN_TOOL="$root/$native/tools/vornpatch/vornpatch"
export VORN_STUB="$root/$windows/patcher/vornpatcher.exe"
export VORN_HELPERS="$root/$helpers"
exec python3 tests/e2e/test_patcher.py "$@"
