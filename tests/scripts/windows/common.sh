# Shared set-up of the script tests that run the Windows build under wine
# (sourced, not a test itself). One mingw-w64 build folder (build-win, made by
# scripts/check-windows-dll.sh) and one wine prefix inside it serve every such
# test; a lock keeps tests that run in parallel from building or creating the
# prefix at the same time.
#
# windows_setup NAME ROOT [TOOL...]: exits 0 with a reason when mingw-w64, wine
# or one of the extra tools is missing; otherwise sets WIN_BUILD and exports
# WINEPREFIX and WINEDEBUG.
windows_setup() {
  local name="$1" root="$2"
  shift 2
  local tool
  for tool in x86_64-w64-mingw32-g++-posix wine "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "$name: skipped: $tool is not installed"
      exit 0
    fi
  done
  WIN_BUILD="$root/build-win"
  export WINEPREFIX="$WIN_BUILD/wine" WINEDEBUG=-all
  mkdir -p "$WIN_BUILD"
  (
    flock 9
    "$root/scripts/check-windows-dll.sh" "$WIN_BUILD" >/dev/null
    # The first run of wine creates the prefix; later runs reuse it.
    if [[ ! -d "$WINEPREFIX/drive_c" ]]; then
      wineboot -i >/dev/null 2>&1 || true
    fi
  ) 9>"$WIN_BUILD.lock"
}
