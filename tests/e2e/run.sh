#!/usr/bin/env bash
# Runs the patcher's end-to-end suite under Wine on a virtual display. Builds what it needs (the
# native vornpatch tool, the Windows patcher, the small helper programs) when it is missing.
# Usage: tests/e2e/run.sh [--visible] [-k SUBSTRING]
set -euo pipefail
root="$(cd "$(dirname "$(readlink -f "$0")")/../.." && pwd)"
cd "$root"
source scripts/wine-env.sh
source scripts/e2e-programs.sh
vorn_wine_prefix
vorn_build_e2e_programs "$root" || { echo "building the end-to-end programs failed" >&2; exit 1; }
exec python3 tests/e2e/test_patcher.py "$@"
