#!/usr/bin/env bash
# Runs every test of the project: the native suite, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows suite under Wine, the Debian package, the fuzz corpora
# with short fuzzing runs, and the end-to-end suite of the patcher under Wine. Installs what is
# missing first.
# Exits non-zero when any of them fails. Usage: scripts/test.sh [--no-install] [--quick]
set -uo pipefail

root="$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)"
cd "$root"
install=1
quick=0
for arg in "$@"; do
  case "$arg" in
    --no-install) install=0 ;;
    --quick) quick=1 ;;
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

if [ "$install" = 1 ]; then bash scripts/install-deps.sh || exit 1; fi
source scripts/wine-env.sh

jobs=$(nproc)
passed=0
failed=0
failures=()
log_dir="$root/build/logs"
mkdir -p "$log_dir"

# Runs one suite; its output goes to the terminal and to a log, and its result is counted.
suite() {
  local name="$1"; shift
  echo
  echo "=== $name"
  local start=$SECONDS
  if "$@" 2>&1 | tee "$log_dir/$name.log"; then
    passed=$((passed + 1))
    echo "=== $name: passed in $((SECONDS - start)) s"
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== $name: FAILED after $((SECONDS - start)) s (log: build/logs/$name.log)"
  fi
}

configure_and_build() {
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" "$@" >/dev/null && cmake --build "$dir" -j"$jobs"
}

run_ctest() {
  ctest --test-dir "$1" --output-on-failure --timeout 1500
}

native() {
  configure_and_build build/native -DCMAKE_BUILD_TYPE=Release &&
    run_ctest build/native
}

sanitized() {
  configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DVORN_SANITIZE=ON &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      run_ctest build/asan
}

# The shipped 32-bit Windows programs: built, their imports and size checked.
windows_i686() {
  configure_and_build build/win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE=Release &&
    bash scripts/check-windows-binaries.sh build/win-i686 &&
    if [ "$VORN_WIN_ARCH" = i686 ]; then run_ctest build/win-i686; fi
}

# Where the kernel runs no 32-bit programs, the same suite built for x86-64 under 64-bit Wine.
windows_x86_64() {
  configure_and_build build/win-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release &&
    run_ctest build/win-x86_64
}

# The package needs both builds: the tool and the 32-bit patcher it carries.
package() {
  bash tests/package/check.sh
}

fuzz() {
  if [ "$quick" = 1 ]; then FUZZ_TIME=2 bash scripts/fuzz.sh; else bash scripts/fuzz.sh; fi
}

end_to_end() {
  bash tests/e2e/run.sh
}

suite native native
suite sanitized sanitized
suite windows-i686 windows_i686
if [ "$VORN_WIN_ARCH" = x86_64 ]; then suite windows-x86_64 windows_x86_64; fi
suite package package
if [ -f scripts/fuzz.sh ]; then suite fuzz fuzz; fi
if [ -f tests/e2e/run.sh ]; then suite end-to-end end_to_end; fi

echo
echo "Windows programs ran as $VORN_WIN_ARCH under Wine ($VORN_WINE)."
# The size of the suite beside the code it tests (reported only, not a limit yet).
python3 scripts/count-lines.py | sed -n '1,2p;$p'
[ ${#failures[@]} -gt 0 ] && echo "Failed suites: ${failures[*]}"
echo "suites: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
