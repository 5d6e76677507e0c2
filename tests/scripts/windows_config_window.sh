#!/usr/bin/env bash
# The configuration window of the Windows build, under wine on an Xvfb screen:
# a small program runs command 1 of the plug-in and plays the user (finds the
# lists and the check box, changes them, presses OK or Cancel); the settings
# stored under %APPDATA% are then read with dsdhost.exe. Stored values out of
# range open with nothing selected and OK stores valid ones. The first OK run
# saves a screenshot as build-win/config-window.png (docs/config-window.png
# comes from it). Skips (exit 0) when mingw-w64, wine or Xvfb is missing.
# Usage: windows_config_window.sh BIN_DIR SOURCE_DIR
set -euo pipefail
bin="${1:-}"
root="${2:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
source "$root/tests/scripts/windows/common.sh"
windows_setup windows_config_window "$root" Xvfb
windows_build_host "$root"
# Beside the shared prefix, on the same file system, for the hard links below.
work="$(mktemp -d "$WIN_BUILD/window-test.XXXXXX")"
xvfb=""
trap '[[ -d "$work/wine" ]] && WINEPREFIX="$work/wine" wineserver -k 2>/dev/null; [[ -n "$xvfb" ]] && kill "$xvfb"; rm -rf "$work"' EXIT
# A prefix of its own, so a wine server and a desktop of its own: wine gives a
# server's desktop the display of the process that created it, and the other
# Windows tests (and windows_setup's wineboot) run without one; a desktop made
# by them leaves every window of a later process uncreatable. The files are
# hard links to the shared prefix's, apart from the registry, which the wine
# server rewrites in place, and the settings store, which this test writes.
cp -al "$WINEPREFIX" "$work/wine" 2>/dev/null || { rm -rf "$work/wine"; cp -a "$WINEPREFIX" "$work/wine"; }
for reg in "$WINEPREFIX"/*.reg; do cp --remove-destination "$reg" "$work/wine/"; done
rm -rf "$work"/wine/drive_c/users/*/AppData/Roaming/dsdhost
export WINEPREFIX="$work/wine"
# One X server for the whole test, on a free display number.
Xvfb -displayfd 7 -screen 0 1024x768x24 -nolisten tcp 7>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || { echo "windows_config_window: Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -1 "$work/display")"
x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -Wall -Wextra -Werror -static -o "$work/config_window.exe" \
  "$root/tests/scripts/windows_config_window.cc" -luser32 -lgdi32
# The plug-in finds the host libraries beside the program.
cp "$WIN_BUILD"/bin/*.dll "$work/"
cd "$work"

failures=0
win() { wine "$WIN_BUILD/bin/dsdhost.exe" "$@" 2>/dev/null | tr -d '\r'; }
store() {
  win settings set "Low-pass mode" "$1"
  win settings set "DST Decoding Threads" "$2"
  win settings set "Add 6dB" "$3"
}
# Values out of range are refused by `settings set`: another program stores
# them straight into the settings file.
store_raw() {
  local appdata file
  appdata="$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')"
  file="$(winepath -u "$appdata\\dsdhost\\settings.ini" 2>/dev/null)"
  mkdir -p "$(dirname "$file")"
  printf '[Plugins\\Input\\DSD]\nLow-pass mode=%s\nDST Decoding Threads=%s\nAdd 6dB=%s\n' "$1" "$2" "$3" >"$file"
}
stored() { win settings list | tr '\n' ' ' | sed 's/ $//'; }
# CASE: stored values, the user's changes (indices, check), button, expected
# "shown" line, expected settings afterwards.
run() {
  local name="$1" before="$2" changes="$3" button="$4" shown="$5" after="$6"
  # shellcheck disable=SC2086
  if [[ "$name" == *out-of-range* ]]; then store_raw $before; else store $before; fi
  # shellcheck disable=SC2086
  out="$(timeout 60 wine ./config_window.exe dsdinput.dll $changes "$button" shot.bmp 2>/dev/null \
    | tr -d '\r')" || { echo "FAIL $name: $out"; failures=$((failures + 1)); return; }
  if ! grep -qx "$shown" <<<"$out"; then
    echo "FAIL $name: expected '$shown' in: $out"
    failures=$((failures + 1))
  elif [[ "$(stored)" != "$after" ]]; then
    echo "FAIL $name: settings are '$(stored)', expected '$after'"
    failures=$((failures + 1))
  else
    echo "ok   $name: $(stored)"
  fi
}
run "OK after changing every control" "0 0 0" "2 3 1" OK "shown: low-pass 0, threads 0, +6dB 0" \
  "Low-pass mode=2 DST Decoding Threads=3 Add 6dB=1"
if [[ -s shot.bmp ]] && command -v ffmpeg >/dev/null; then
  ffmpeg -loglevel error -y -i shot.bmp "$WIN_BUILD/config-window.png" && echo "screenshot: $WIN_BUILD/config-window.png"
fi
run "Cancel after changing every control" "1 4 1" "0 0 0" CANCEL "shown: low-pass 1, threads 4, +6dB 1" \
  "Low-pass mode=1 DST Decoding Threads=4 Add 6dB=1"
run "OK with out-of-range values stored" "9 7 0" "-1 -1 -1" OK "shown: low-pass -1, threads -1, +6dB 0" \
  "Low-pass mode=0 DST Decoding Threads=0 Add 6dB=0"
echo "windows_config_window: $failures failure(s)"
[[ $failures -eq 0 ]]
