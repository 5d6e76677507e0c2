#!/usr/bin/env bash
# A host built with the Microsoft C++ ABI drives the mingw-built plug-in DLL
# under wine (host/msabi/MsAbiHost.cpp: clang for x86_64-pc-windows-msvc,
# lld-link, no run-time library). For generated DSF and DSDIFF files and a DST
# file, in native, packed and PCM form, with and without a seek, what it
# reports and the bytes it reads must equal what the Linux dsdhost reports and
# decodes; a tag field read through the file-information object must equal
# what "dsdhost tags" lists. Skips (exit 0) when mingw-w64, wine, clang or lld-link is missing.
# Usage: windows_msabi_host.sh BIN_DIR SOURCE_DIR
set -euo pipefail
bin="$1"
root="${2:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
source "$root/tests/scripts/windows/common.sh"
mingw_lib=/usr/x86_64-w64-mingw32/lib
if [[ ! -f "$mingw_lib/libkernel32.a" ]]; then
  echo "windows_msabi_host: skipped: mingw-w64 import libraries not found in $mingw_lib"
  exit 0
fi
windows_setup windows_msabi_host "$root" clang lld-link
windows_build_host "$root"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# -fgnuc-version lets mingw-w64's headers use their GCC branch (their other
# branch defines __attribute__ away, which breaks clang's intrinsic headers);
# the C++ ABI follows the target alone.
clang --target=x86_64-pc-windows-msvc -fgnuc-version=4.2.1 -std=c++20 -ffreestanding -fno-rtti -fno-exceptions \
  -O1 -Wall -Wextra -Werror -isystem /usr/x86_64-w64-mingw32/include -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN \
  -c "$root/host/msabi/MsAbiHost.cpp" -o "$work/host.obj"
lld-link /nologo /entry:mainCRTStartup /subsystem:console /nodefaultlib "$work/host.obj" \
  "$mingw_lib/libkernel32.a" "$mingw_lib/libshell32.a" /out:"$work/msabi_host.exe"
# The reader library serves the file-information object; without the tools
# library beside it the plug-in reads default settings.
cp "$WIN_BUILD/bin/dsdinput.dll" "$WIN_BUILD/bin/KwReader.dll" "$work/"

# The Linux host reads default settings from an empty store, as the Windows
# plug-in does without a tools library beside it.
export XDG_CONFIG_HOME="$work/config"
cd "$work"
"$bin/dsdgen" --seconds 0.4 --channels 2 --freq 1000,3000 --id3-title "Night Piece" tone.dsf
"$bin/dsdgen" --seconds 0.4 --channels 3 --rate 5644800 --freq 500,700,900 tone.dff
"$bin/dstenc" tone.dff tone-dst.dff >/dev/null

failures=0
for file in tone.dsf tone.dff tone-dst.dff; do
  for form in native:1 packed:2 pcm:0; do
    for seek in 0 150; do
      name="${form%%:*}" modes="${form##*:}"
      "$bin/dsdhost" info --output "$name" "$file" | grep -v '^file:' >linux.txt
      "$bin/dsdhost" decode --output "$name" --seek "$seek" "$file" linux.raw
      # The file-information object: the title field, as "dsdhost tags" lists it.
      field=()
      if [[ "$file" == *.dsf && "$seek" == 0 ]]; then
        field=(Name)
        "$bin/dsdhost" tags "$file" | grep '^Name: ' >>linux.txt
      fi
      if ! wine ./msabi_host.exe dsdinput.dll "$file" "$modes" "$seek" windows.raw "${field[@]}" 2>/dev/null \
          | tr -d '\r' >windows.txt; then
        echo "FAIL $file $name seek $seek: the host failed: $(cat windows.txt)"
        failures=$((failures + 1))
        continue
      fi
      if ! diff -u linux.txt windows.txt; then
        echo "FAIL $file $name seek $seek: reports differ"
        failures=$((failures + 1))
      elif ! cmp -s linux.raw windows.raw || [[ ! -s linux.raw ]]; then
        echo "FAIL $file $name seek $seek: audio bytes differ ($(stat -c %s linux.raw) vs $(stat -c %s windows.raw))"
        failures=$((failures + 1))
      else
        echo "ok   $file $name seek $seek: $(stat -c %s windows.raw) bytes"
      fi
    done
  done
done
objdump_out="$(x86_64-w64-mingw32-objdump -p msabi_host.exe)"
grep -q "MajorLinkerVersion[[:space:]]*14" <<<"$objdump_out" || { echo "FAIL the host was not linked by lld-link"; failures=$((failures + 1)); }
echo "windows_msabi_host: $failures failure(s)"
[[ $failures -eq 0 ]]
