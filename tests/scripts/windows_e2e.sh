#!/usr/bin/env bash
# The reference host built for Windows (dsdhost.exe with KwTools.dll,
# KwReader.dll and KwImage.dll, cross-built with mingw-w64) runs under wine:
# for generated DSF, DSDIFF and DST files it reports and decodes, in native,
# packed and PCM form and under changed settings, exactly what the Linux build
# does; settings written by one dsdhost.exe process are read by the next, in
# the store under %APPDATA%; "dsdhost.exe config" without a display fails with
# a reason. Skips (exit 0) when mingw-w64 or wine is missing.
# Usage: windows_e2e.sh BIN_DIR SOURCE_DIR
set -euo pipefail
bin="$1"
root="${2:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
source "$root/tests/scripts/windows/common.sh"
windows_setup windows_e2e "$root"
windows_build_host "$root"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config"
cd "$work"
"$bin/dsdgen" --seconds 0.3 --channels 2 --freq 1000,3000 --id3-title "Night Piece" tone.dsf >/dev/null
"$bin/dsdgen" --seconds 0.3 --channels 2 --rate 5644800 --freq 500,700 tone.dff >/dev/null
"$bin/dstenc" tone.dff tone-dst.dff >/dev/null

win() { wine "$WIN_BUILD/bin/dsdhost.exe" "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# Both stores: the same three values.
settings() {
  local i keys=("Low-pass mode" "DST Decoding Threads" "Add 6dB") values=("$@")
  for i in 0 1 2; do
    "$bin/dsdhost" settings set "${keys[$i]}" "${values[$i]}"
    win settings set "${keys[$i]}" "${values[$i]}" >/dev/null
  done
  # A second process reads what the first wrote.
  [[ "$(win settings list)" == "$("$bin/dsdhost" settings list)" ]] || fail "settings $* not read back by dsdhost.exe"
}

compare() {  # FILE FORM [seek]
  local file="$1" form="$2" seek="${3:-0}"
  "$bin/dsdhost" info --output "$form" "$file" >linux.txt
  win info --output "$form" "$file" >windows.txt || fail "$file $form: dsdhost.exe info failed"
  diff -u linux.txt windows.txt >/dev/null || { diff -u linux.txt windows.txt; fail "$file $form: info differs"; }
  "$bin/dsdhost" decode --output "$form" --seek "$seek" "$file" linux.raw
  win decode --output "$form" --seek "$seek" "$file" windows.raw >/dev/null || fail "$file $form: decode failed"
  if cmp -s linux.raw windows.raw && [[ -s linux.raw ]]; then
    echo "ok   $file $form seek $seek: $(stat -c %s windows.raw) bytes"
  else
    fail "$file $form seek $seek: output differs"
  fi
}

settings 0 0 0
for file in tone.dsf tone.dff tone-dst.dff; do
  for form in native packed pcm; do compare "$file" "$form"; done
done
# PCM under the other filters, the gain and a fixed thread count.
settings 1 3 1
compare tone.dsf pcm 120
compare tone-dst.dff pcm
settings 3 0 0
compare tone.dff pcm
settings 0 0 0

# The tag through the file-information object and the reader library.
"$bin/dsdhost" tags tone.dsf | grep -v "Image File" >linux.txt
win tags tone.dsf | grep -v "Image File" >windows.txt || fail "dsdhost.exe tags failed"
diff -u linux.txt windows.txt || fail "tags differ"

# No display: a clear failure, no hang.
if out="$(env -u DISPLAY timeout 60 wine "$WIN_BUILD/bin/dsdhost.exe" config 2>&1)"; then
  fail "dsdhost.exe config without a display succeeded"
elif ! grep -q "no display" <<<"$out"; then
  fail "dsdhost.exe config without a display: unexpected output: $out"
fi
echo "windows_e2e: $failures failure(s)"
[[ $failures -eq 0 ]]
