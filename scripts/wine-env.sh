# Sourced by the scripts that run Windows programs. Picks how Wine runs here:
#   - where the kernel runs 32-bit x86 programs, the 32-bit Wine loader and a win32 prefix, and
#     the Windows programs under test are the i686 builds;
#   - where it does not (some virtual machines switch IA-32 emulation off, and i386 execve then
#     fails with ENOEXEC), the 64-bit loader and a win64 prefix, and the programs under test are
#     the same sources built for x86-64. The shipped i686 programs are still built and inspected.
# Exports VORN_WINE (loader), VORN_WIN_ARCH (i686 or x86_64), WINEARCH, WINEPREFIX, WINESERVER.

vorn_can_run_i386() {
  [ -x /usr/lib/wine/wine ] && [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

if [ -z "${VORN_WIN_ARCH:-}" ]; then
  if vorn_can_run_i386; then VORN_WIN_ARCH=i686; else VORN_WIN_ARCH=x86_64; fi
fi
if [ "$VORN_WIN_ARCH" = i686 ]; then
  export WINEARCH=win32
  export VORN_WINE=/usr/lib/wine/wine
  [ -x /usr/lib/wine/wineserver32 ] && export WINESERVER=/usr/lib/wine/wineserver32
  [ -x /usr/lib/wine/wineserver64 ] && export WINESERVER=/usr/lib/wine/wineserver64
else
  export WINEARCH=win64
  export VORN_WINE=/usr/lib/wine/wine64
  export WINELOADER=/usr/lib/wine/wine64
  export WINESERVER=/usr/lib/wine/wineserver64
fi
export VORN_WIN_ARCH
export WINEPREFIX="${VORN_WINEPREFIX:-$HOME/.cache/vornpatch/wine-$VORN_WIN_ARCH}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree,mshtml=}"

# Makes the prefix once; concurrent callers wait for the one that makes it.
vorn_wine_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$VORN_WINE" wineboot -i >/dev/null 2>&1 || true
      "$WINESERVER" -w || true
    fi
  ) 9>"$WINEPREFIX.lock"
}
