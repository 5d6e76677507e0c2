#!/usr/bin/env bash
# Tag reading speed: the summary and every field of 1000 tagged DSF files,
# read in one process through the plug-in's GetFileInfo object (dsdhost tags,
# which reads files on one thread per processor, and again on one thread),
# against mutagen-inspect reading the same files in one process (one thread).
#   bench/tags.sh [BUILD_DIR]      (default: build)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$ROOT/build}"
BIN="$BUILD/bin"
RUNS="${RUNS:-3}"
FILES="${FILES:-1000}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
export XDG_CONFIG_HOME="$WORK/config"

# One timed run: "WALL CPU" in seconds, CPU being user + system time.
timeone() {
  local out
  out=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1 )
  read -r r u s <<<"$out"
  echo "$r $(echo "$u + $s" | bc -l)"
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# One short stereo DSD64 file, then FILES copies, each tagged by mutagen with
# fifteen text, comment, user-text, rating and picture frames.
"$BIN/dsdgen" --rate 2822400 --channels 2 --seconds 0.05 --freq 1000 --level -6 "$WORK/base.dsf" >/dev/null
/usr/bin/python3 - "$WORK" "$FILES" <<'PY'
import shutil, sys
from mutagen import id3
from mutagen.dsf import DSF
work, count = sys.argv[1], int(sys.argv[2])
picture = bytes(range(256)) * 8
for i in range(count):
    path = f"{work}/t{i:04d}.dsf"
    shutil.copy(f"{work}/base.dsf", path)
    f = DSF(path)
    f.add_tags()
    t = f.tags
    t.add(id3.TIT2(encoding=3, text=f"Title number {i}"))
    t.add(id3.TPE1(encoding=1, text=["Ensemble \u00e9", "Soloist"]))
    t.add(id3.TALB(encoding=0, text="An album"))
    t.add(id3.TRCK(encoding=0, text=f"{i % 20 + 1}/20"))
    t.add(id3.TPOS(encoding=0, text="1/2"))
    t.add(id3.TCON(encoding=0, text="(32)"))
    t.add(id3.TCOM(encoding=1, text="A composer"))
    t.add(id3.TPE3(encoding=0, text="A conductor"))
    t.add(id3.TCOP(encoding=0, text="(c) nobody"))
    t.add(id3.TYER(encoding=0, text="1999"))
    t.add(id3.COMM(encoding=1, lang="eng", desc="", text="A comment line"))
    t.add(id3.TXXX(encoding=0, desc="replaygain_track_gain", text="-6.20 dB"))
    t.add(id3.TXXX(encoding=0, desc="replaygain_track_peak", text="0.912000"))
    t.add(id3.POPM(email="someone@example.org", rating=196))
    t.add(id3.APIC(encoding=0, mime="image/png", type=3, desc="front", data=picture + i.to_bytes(4, "little")))
    f.save(v2_version=3)
PY

files=("$WORK"/t*.dsf)
echo "== summary and all fields of ${#files[@]} tagged DSF files, one process each side"
# The two sides take turns, so that a slow spell of a shared machine weighs
# on both; each figure is the median of its runs.
pw=() pc=() sw=() sc=() mw=() mc=()
for _ in $(seq "$RUNS"); do
  read -r w c <<<"$(timeone "$BIN/dsdhost" tags "${files[@]}")"; pw+=("$w"); pc+=("$c")
  read -r w c <<<"$(timeone "$BIN/dsdhost" tags -j 1 "${files[@]}")"; sw+=("$w"); sc+=("$c")
  read -r w c <<<"$(timeone mutagen-inspect "${files[@]}")"; mw+=("$w"); mc+=("$c")
done
tpw=$(median "${pw[@]}") tpc=$(median "${pc[@]}") tsw=$(median "${sw[@]}") tsc=$(median "${sc[@]}")
tmw=$(median "${mw[@]}") tmc=$(median "${mc[@]}")
ratio() { echo "scale=1; $1 / $2" | bc -l; }
echo "dsdhost tags ($(nproc) processors):   wall ${tpw} s, processor ${tpc} s"
echo "dsdhost tags -j 1 (one thread): wall ${tsw} s, processor ${tsc} s"
echo "mutagen-inspect:                wall ${tmw} s, processor ${tmc} s"
echo "mutagen-inspect / dsdhost:      wall $(ratio "$tmw" "$tpw") x, processor $(ratio "$tmc" "$tpc") x"
echo "mutagen-inspect / dsdhost -j 1: wall $(ratio "$tmw" "$tsw") x, processor $(ratio "$tmc" "$tsc") x"
