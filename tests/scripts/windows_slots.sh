#!/usr/bin/env bash
# The raw-slot check on the Windows build: cross-builds the plug-in DLL
# (the shared build-win folder) and a small caller with mingw-w64, and runs the
# caller under wine. Skips (exit 0) when mingw-w64 or wine is missing.
# Usage: windows_slots.sh BIN_DIR SOURCE_DIR
set -euo pipefail
bin="${1:-}"
root="${2:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
source "$root/tests/scripts/windows/common.sh"
windows_setup windows_slots "$root"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -static -o "$work/windows_slots.exe" "$root/tests/scripts/windows_slots.cc"
cp "$WIN_BUILD/bin/dsdinput.dll" "$work/"
cd "$work"
wine ./windows_slots.exe dsdinput.dll 2>/dev/null | tr -d '\r'
exit "${PIPESTATUS[0]}"
