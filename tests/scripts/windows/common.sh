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
  # The Windows binaries are the same whichever Linux build runs the suite:
  # test them once, in the plain build, not again in the sanitizer build.
  if [[ -n "${bin:-}" && -f "$bin/../CMakeCache.txt" ]] && grep -q "^DSD_SANITIZE:BOOL=ON" "$bin/../CMakeCache.txt"; then
    echo "$name: skipped: the sanitizer build's pass (the Windows binaries are tested in the plain build)"
    exit 0
  fi
  WIN_BUILD="$root/build-win"
  export WINEPREFIX="$WIN_BUILD/wine" WINEDEBUG=-all
  mkdir -p "$WIN_BUILD"
  (
    flock 9
    "$root/scripts/check-windows-dll.sh" "$WIN_BUILD" >/dev/null
    # The first run of wine creates the prefix; later runs reuse it. The wine
    # server and its helper processes start here, detached from the caller's
    # output and from the lock: otherwise a later "wine ... | filter" waits
    # until they exit, and so would the next test waiting for the lock.
    wineserver -p 30 </dev/null >/dev/null 2>&1 9>&- || true
    wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
  ) 9>"$WIN_BUILD/build.lock"
}

# windows_build_host ROOT: adds the reference host (KwTools.dll, KwReader.dll,
# KwImage.dll, dsdhost.exe) to the shared build folder, under the same lock.
windows_build_host() {
  local root="$1"
  (
    flock 9
    cmake -S "$root" -B "$WIN_BUILD" -DDSD_WINDOWS_HOST=ON >/dev/null
    cmake --build "$WIN_BUILD" --target dsdhost KwTools KwReader KwImage -j"${JOBS:-2}" >/dev/null
  ) 9>"$WIN_BUILD/build.lock"
}
