#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's 32-bit prefix (made on first use).
# Used as CMake's crosscompiling emulator, so ctest runs the Windows test programs this way.
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:-${VORN_WINEPREFIX:-$HOME/.cache/vornpatch/wine32}}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # Two runners may race to make the prefix; one makes it, the other waits.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  flock -u 9
fi
exec wine "$@"
