#!/usr/bin/env bash
# The raw-slot check on the Windows build: cross-builds the plug-in DLL
# (scripts/check-windows-dll.sh, folder build-win) and a small caller with
# mingw-w64, and runs the caller under wine. Skips (exit 0) when mingw-w64 or
# wine is missing.
# Usage: windows_slots.sh BIN_DIR SOURCE_DIR
set -euo pipefail
root="${2:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
for tool in x86_64-w64-mingw32-g++-posix wine; do
  if ! command -v "$tool" >/dev/null; then
    echo "windows_slots: skipped: $tool is not installed"
    exit 0
  fi
done
build="$root/build-win"
"$root/scripts/check-windows-dll.sh" "$build" >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -static -o "$work/windows_slots.exe" "$root/tests/scripts/windows_slots.cc"
cp "$build/bin/dsdinput.dll" "$work/"
export WINEPREFIX="${WINEPREFIX:-$work/wine}" WINEDEBUG=-all
cd "$work"
wine ./windows_slots.exe dsdinput.dll 2>/dev/null | tr -d '\r'
exit "${PIPESTATUS[0]}"
