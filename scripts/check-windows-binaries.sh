#!/usr/bin/env bash
# Checks the shipped Windows programs of a build folder: each imports only Windows system DLLs,
# and the patcher stays within the image size that the payload scan expects in front of it.
set -euo pipefail
build="${1:?usage: check-windows-binaries.sh BUILD_DIR}"
objdump=i686-w64-mingw32-objdump
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|shlwapi|msvcrt|ws2_32|version|uuid|rpcrt4|ntdll)\.dll$'
max_patcher_size=122880
status=0
mapfile -t exes < <(find "$build" -name '*.exe' -not -path '*/googletest/*' -not -path '*/CMakeFiles/*' -not -name '*_tests.exe' | sort)
if [ ${#exes[@]} -eq 0 ]; then echo "check-windows-binaries: no programs in $build"; exit 0; fi
for exe in "${exes[@]}"; do
  dlls=$($objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
  bad=$(echo "$dlls" | grep -v -E "$system_dlls" || true)
  size=$(stat -c %s "$exe")
  echo "$(basename "$exe"): $size bytes, imports: $(echo $dlls)"
  if [ -n "$bad" ]; then
    echo "  imports non-system DLLs: $bad"
    status=1
  fi
  case "$(basename "$exe")" in
    vornpatcher.exe|patcher.exe)
      if [ "$size" -gt "$max_patcher_size" ]; then
        echo "  larger than $max_patcher_size bytes"
        status=1
      fi ;;
  esac
done
exit $status
