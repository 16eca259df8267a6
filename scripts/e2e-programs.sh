# Sourced by the end-to-end suite and the demo, after wine-env.sh: builds (incrementally) the
# native vornpatch tool, the patcher for the architecture Wine runs here, and the small helper
# programs of the end-to-end tests; exports VORN_TOOL, VORN_STUB and VORN_HELPERS.

vorn_build_e2e_programs() {
  local root="$1"
  local jobs native windows helpers source exe
  jobs=$(nproc)
  native="$root/build/native"
  windows="$root/build/win-$VORN_WIN_ARCH"
  # Configuring again is cheap and picks up folders added since the last configure.
  cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null || return 1
  cmake --build "$native" -j"$jobs" --target vornpatch >/dev/null || return 1
  cmake -S "$root" -B "$windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$VORN_WIN_ARCH.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null || return 1
  cmake --build "$windows" -j"$jobs" --target patcher >/dev/null || return 1

  helpers="$root/build/e2e-helpers-$VORN_WIN_ARCH"
  mkdir -p "$helpers"
  for source in "$root"/tests/e2e/helpers/*.c; do
    exe="$helpers/$(basename "${source%.c}").exe"
    if [ ! -f "$exe" ] || [ "$source" -nt "$exe" ]; then
      "$VORN_WIN_ARCH-w64-mingw32-gcc" -Wall -Wextra -Werror -O2 -s "$source" -o "$exe" ||
        return 1
    fi
  done

  export VORN_TOOL="$native/tools/vornpatch/vornpatch"
  export VORN_STUB="$windows/patcher/patcher.exe"
  export VORN_HELPERS="$helpers"
}
