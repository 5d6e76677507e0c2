#!/usr/bin/env bash
# Loads and frees the Windows build of the plug-in ROUNDS times (default 200;
# the argument or DSD_LOAD_ROUNDS=1000 for the long check) in one process
# under wine, making and destroying an input source each time, and compares
# the growth of handles and committed memory with an empty C++ DLL built with
# the same static run-time library: the plug-in must add nothing beyond that
# baseline. Skips (exit 0) when mingw-w64 or wine is missing.
# Usage: windows_load_unload.sh BIN_DIR SOURCE_DIR
set -euo pipefail
bin="${1:-}"
root="${2:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
rounds="${DSD_LOAD_ROUNDS:-200}"
source "$root/tests/scripts/windows/common.sh"
windows_setup windows_load_unload "$root"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
gxx=(x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -Wall -Wextra -Werror -static)
"${gxx[@]}" -o "$work/load_unload.exe" "$root/tests/scripts/windows_load_unload.cc" -lpsapi
"${gxx[@]}" -shared -o "$work/baseline.dll" "$root/tests/scripts/windows/empty_dll.cc"
cp "$WIN_BUILD/bin/dsdinput.dll" "$work/"
cd "$work"
read -r plugin_handles plugin_bytes < <(wine ./load_unload.exe dsdinput.dll "$rounds" 2>/dev/null | tr -d '\r')
read -r base_handles base_bytes < <(wine ./load_unload.exe baseline.dll "$rounds" 2>/dev/null | tr -d '\r')
echo "$rounds rounds: plug-in +$plugin_handles handles, +$plugin_bytes bytes;" \
  "empty C++ DLL +$base_handles handles, +$base_bytes bytes"
# One handle or 256 bytes more per round would stand out well beyond these margins.
if (( plugin_handles > base_handles + 4 || plugin_bytes > base_bytes + 128 * 1024 )); then
  echo "windows_load_unload: the plug-in leaks beyond the run-time library's own cost"
  exit 1
fi
echo "windows_load_unload: no leak beyond the baseline"
