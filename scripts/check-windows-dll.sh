#!/usr/bin/env bash
# Cross-builds the plug-in for 64-bit Windows with mingw-w64 and checks the
# result: a PE32+ x86-64 DLL whose export table holds exactly GetInputSource
# and GetFileInfo.
#
# Usage: scripts/check-windows-dll.sh [build-dir]   (default: build-win)
# Run from anywhere; the build folder is relative to the repository root.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-build-win}"
case "$build" in
  /*) ;;
  *) build="$root/$build" ;;
esac
jobs="${JOBS:-2}"
objdump_tool="${OBJDUMP:-x86_64-w64-mingw32-objdump}"
expected_exports="GetFileInfo GetInputSource"

fail() {
  echo "check-windows-dll: FAILED: $*" >&2
  exit 1
}

command -v x86_64-w64-mingw32-g++-posix >/dev/null || fail "x86_64-w64-mingw32-g++-posix not found (install mingw-w64)"
command -v "$objdump_tool" >/dev/null || fail "$objdump_tool not found (install mingw-w64)"

echo "check-windows-dll: configuring $build"
cmake -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DDSD_PLUGIN_ONLY=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  || fail "cmake configuration for Windows failed"

echo "check-windows-dll: building dsdinput"
cmake --build "$build" --target dsdinput -j"$jobs" || fail "the Windows build of dsdinput failed"

dll=""
for candidate in "$build/bin/dsdinput.dll" "$build/dsdinput.dll" "$build/plugin/dsdinput.dll"; do
  if [[ -f "$candidate" ]]; then
    dll="$candidate"
    break
  fi
done
[[ -n "$dll" ]] || fail "dsdinput.dll not found under $build"

headers="$("$objdump_tool" -p "$dll")" || fail "$objdump_tool could not read $dll"

grep -q "file format pei-x86-64" <<<"$headers" || fail "$dll is not a PE image for x86-64"
# Magic 020b marks the PE32+ optional header (010b would be plain PE32).
grep -Eq "^Magic[[:space:]]+020b" <<<"$headers" || fail "$dll is not PE32+ (optional header magic is not 020b)"
# The DLL bit (0x2000) of the file characteristics.
characteristics="$(awk '/^Characteristics/ {print $2; exit}' <<<"$headers")"
characteristics="${characteristics#0x}"
[[ "$characteristics" =~ ^[0-9a-fA-F]+$ ]] || fail "no file characteristics in the headers of $dll"
(( (16#$characteristics & 0x2000) != 0 )) || fail "$dll is not marked as a DLL (characteristics 0x$characteristics)"

# Export names from the "[Ordinal/Name Pointer] Table" section.
exports="$(awk '
  /^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
  table && /^[[:space:]]*\[[[:space:]]*[0-9]+\]/ { sub(/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]*/, ""); print; next }
  table && NF == 0 { table = 0 }
' <<<"$headers" | sort | tr '\n' ' ' | sed 's/ $//')"

if [[ "$exports" != "$expected_exports" ]]; then
  fail "$dll exports [${exports:-nothing}], expected exactly [$expected_exports]"
fi

# The run-time libraries are linked in statically: a host machine has none of
# the toolchain's own DLLs.
toolchain_dlls="$(grep -Eio "DLL Name: *(libstdc\+\+[^ ]*|libgcc[^ ]*|libwinpthread[^ ]*)" <<<"$headers" || true)"
[[ -z "$toolchain_dlls" ]] || fail "$dll depends on toolchain DLLs: $(tr '\n' ' ' <<<"$toolchain_dlls")"

echo "check-windows-dll: OK: $dll is a PE32+ x86-64 DLL exporting exactly: $exports"
