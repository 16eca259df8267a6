#!/usr/bin/env bash
# Runs every test of the project: the native suite, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows suite under Wine, the Debian package, the fuzz corpora
# with short fuzzing runs, and the end-to-end suite of the patcher under Wine. Installs what is
# missing first.
# Exits non-zero when any of them fails. Usage: scripts/test.sh [--no-install]
# (FUZZ_TIME=SECONDS shortens the fuzzing runs.)
set -uo pipefail

root="$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)"
cd "$root"
install=1
for arg in "$@"; do
  case "$arg" in
    --no-install) install=0 ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

if [ "$install" = 1 ]; then bash scripts/install-deps.sh || exit 1; fi
source scripts/wine-env.sh

passed=0
failures=()
mkdir -p build/logs

# Runs one suite; its output goes to the terminal and to a log, and its result is counted.
suite() {
  local name="$1" start=$SECONDS
  shift
  echo
  echo "=== $name"
  if "$@" 2>&1 | tee "build/logs/$name.log"; then
    passed=$((passed + 1))
    echo "=== $name: passed in $((SECONDS - start)) s"
  else
    failures+=("$name")
    echo "=== $name: FAILED after $((SECONDS - start)) s (log: build/logs/$name.log)"
  fi
}

# Configures and builds build/$1 with the remaining options, then runs its ctest suite unless
# told not to (VORN_NO_CTEST=1).
build_and_test() {
  local dir="build/$1"
  shift
  cmake -S "$root" -B "$dir" "$@" >/dev/null && cmake --build "$dir" -j"$(nproc)" &&
    { [ "${VORN_NO_CTEST:-0}" = 1 ] || ctest --test-dir "$dir" --output-on-failure --timeout 1500; }
}

sanitized() {
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    build_and_test asan -DCMAKE_BUILD_TYPE=Debug -DVORN_SANITIZE=ON
}

# The shipped 32-bit Windows programs: built, their imports and size checked; where the kernel
# runs no 32-bit programs, their suite runs in the x86-64 build under 64-bit Wine.
windows_i686() {
  local no_ctest=1
  [ "$VORN_WIN_ARCH" = i686 ] && no_ctest=0
  VORN_NO_CTEST=$no_ctest build_and_test win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE=Release && bash scripts/check-windows-binaries.sh build/win-i686
}

suite native build_and_test native -DCMAKE_BUILD_TYPE=Release
suite sanitized sanitized
suite windows-i686 windows_i686
if [ "$VORN_WIN_ARCH" = x86_64 ]; then
  suite windows-x86_64 build_and_test win-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release
fi
# The package needs both builds: the tool and the 32-bit patcher it carries.
suite package bash tests/package/check.sh
suite fuzz bash scripts/fuzz.sh
suite end-to-end bash tests/e2e/run.sh

echo
echo "Windows programs ran as $VORN_WIN_ARCH under Wine ($VORN_WINE)."
# The size of the suite beside the code it tests (reported only, not a limit yet).
python3 scripts/count-lines.py | sed -n '1,2p;$p'
[ ${#failures[@]} -gt 0 ] && echo "Failed suites: ${failures[*]}"
echo "suites: $passed passed, ${#failures[@]} failed"
[ ${#failures[@]} -eq 0 ]
