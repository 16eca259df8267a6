#!/usr/bin/env bash
# Runs a Windows program under Wine (see wine-env.sh for which loader and prefix).
# CMake uses it as the crosscompiling emulator, so ctest runs the Windows test programs this way.
set -euo pipefail
source "$(dirname "$(readlink -f "$0")")/wine-env.sh"
vorn_wine_prefix
exec "$VORN_WINE" "$@"
