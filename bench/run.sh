#!/usr/bin/env bash
# Speed benchmarks of the whole plug-in, run through the command-line host and
# compared in the same run against ffmpeg's decoders on the same files.
#   bench/run.sh [BUILD_DIR]      (default: build)
# Prints one line per measurement; each time is the median of RUNS runs.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$ROOT/build}"
BIN="$BUILD/bin"
RUNS="${RUNS:-5}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
export XDG_CONFIG_HOME="$WORK/config"

# median wall time in seconds of a command
timeit() {
  local times=()
  for _ in $(seq "$RUNS"); do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

ratio() { echo "scale=3; $1 / $2" | bc -l; }

SECONDS_OF_AUDIO=60
DSF="$WORK/bench.dsf"
"$BIN/dsdgen" --rate 2822400 --channels 2 --seconds "$SECONDS_OF_AUDIO" --freq 1000,1500 --level -6 "$DSF" >/dev/null

echo "== native DSD delivery, ${SECONDS_OF_AUDIO} s stereo DSD64"
t=$(timeit "$BIN/dsdhost" decode --output native "$DSF" -)
echo "dsdhost decode --output native: ${t} s, $(echo "scale=0; $SECONDS_OF_AUDIO / $t" | bc -l) x real time"

if [ -x "$BIN/dsdhost" ] && command -v ffmpeg >/dev/null; then
  echo "== PCM conversion against ffmpeg -threads 1 (same file)"
  tf=$(timeit ffmpeg -v error -threads 1 -i "$DSF" -f f64le -y /dev/null)
  echo "ffmpeg: ${tf} s"
  for mode in 0 3; do
    "$BIN/dsdhost" settings set "Low-pass mode" "$mode"
    tp=$(timeit "$BIN/dsdhost" decode --output pcm "$DSF" -)
    echo "dsdhost pcm, low-pass mode $mode: ${tp} s, ratio to ffmpeg $(ratio "$tp" "$tf")"
  done
  "$BIN/dsdhost" settings set "Low-pass mode" 0
fi

if [ -x "$BIN/dstenc" ]; then
  echo "== DST-compressed DSDIFF against ffmpeg -threads 1"
  DST="$WORK/bench-dst.dff"
  "$BIN/dstenc" "$DSF" "$DST" >/dev/null
  tf=$(timeit ffmpeg -v error -threads 1 -i "$DST" -f f64le -y /dev/null)
  echo "ffmpeg: ${tf} s"
  for threads in 1 0; do
    "$BIN/dsdhost" settings set "DST Decoding Threads" "$threads"
    tp=$(timeit "$BIN/dsdhost" decode --output pcm "$DST" -)
    echo "dsdhost pcm, DST threads $threads (0: automatic): ${tp} s, ratio to ffmpeg $(ratio "$tp" "$tf")"
  done
  "$BIN/dsdhost" settings set "DST Decoding Threads" 0
fi

if [ -x "$BIN/sacdimage" ]; then
  echo "== disc image: a ${SECONDS_OF_AUDIO} s stereo track"
  ISO="$WORK/bench.iso"
  "$BIN/sacdimage" --quiet --track "$DSF" "$ISO"
  t=$(timeit "$BIN/dsdhost" decode --output native "$ISO;1" -)
  echo "dsdhost decode --output native IMAGE;1 (plain): ${t} s, $(echo "scale=0; $SECONDS_OF_AUDIO / $t" | bc -l) x real time"
  if [ -n "${DST:-}" ] && [ -f "$DST" ]; then
    # The same coded frames as the DST-compressed DSDIFF file, on a disc image.
    "$BIN/sacdimage" --quiet --dst --track "$DST" "$WORK/bench-dst.iso"
    for threads in 1 0; do
      "$BIN/dsdhost" settings set "DST Decoding Threads" "$threads"
      td=$(timeit "$BIN/dsdhost" decode --output native "$DST" -)
      ti=$(timeit "$BIN/dsdhost" decode --output native "$WORK/bench-dst.iso;1" -)
      echo "DST threads $threads (0: automatic): DSDIFF ${td} s, disc image ${ti} s, ratio $(ratio "$ti" "$td")"
    done
    "$BIN/dsdhost" settings set "DST Decoding Threads" 0
  fi
fi
