#!/usr/bin/env bash
# HEIC and AVIF against the native tools of the same libheif version, in one run:
# - decoding a 12 MP HEIC and a 12 MP AVIF in-process (ours: the --time figure; native:
#   bench/heif_native.c on the system libheif, decoding as heif-convert does), target <= 1.3x;
# - HEIC to a JPEG of at most 200 KB, whole process: veldmoor-cli compress against
#   heif-convert followed by jpegoptim --size=200k; target: faster, and never over.
# The pictures are made once with native heif-enc from a camera photo and kept.
# Usage: scripts/bench-heif.sh [build-dir] [runs]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-build}
runs=${2:-7}
cli="$build/veldmoor-cli.exe"
[ -f "$cli" ] || { echo "build first: $cli is missing"; exit 1; }
for tool in heif-enc heif-convert jpegoptim convert cc; do
  command -v $tool >/dev/null || { echo "missing $tool (scripts/setup.sh installs it)"; exit 1; }
done
source scripts/bench-common.sh

kept=build-bench-heif
mkdir -p "$kept"
if [ ! -f "$kept/p12.heic" ] || [ ! -f "$kept/p12.avif" ]; then
  echo "making the 12 MP pictures (once; heif-enc takes a while)"
  convert "$testdata/camera/iphone6.jpg" -resize 4000x3000! -quality 95 "$kept/p12.jpg"
  heif-enc -q 80 -o "$kept/p12.heic" "$kept/p12.jpg" >/dev/null
  heif-enc -A -q 70 -o "$kept/p12.avif" "$kept/p12.jpg" >/dev/null
fi
native="$work/heif_native"
cc -O2 -I"$root/.deps/mingw/include" -o "$native" bench/heif_native.c -l:libheif.so.1 ||
  { echo "could not build bench/heif_native.c"; exit 1; }

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }
seconds() { local t0=$(date +%s.%N); "$@" >/dev/null 2>&1; local t1=$(date +%s.%N); awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.0f", (b - a) * 1000}'; }

# Alternating run by run, so that the load of a shared machine falls on both alike.
decode_row() {
  local label=$1 file=$2 ours=() theirs=()
  for _ in $(seq "$runs"); do
    ours+=("$(wine "$cli" info "$file" --time 2>/dev/null | tr -d '\r' | sed -n 's/.* ms=\([0-9.]*\).*/\1/p')")
    theirs+=("$("$native" "$file")")
  done
  local a b
  a=$(printf '%s\n' "${ours[@]}" | median)
  b=$(printf '%s\n' "${theirs[@]}" | median)
  printf '%-40s %10s %10s %8s\n' "$label" "$a" "$b" "$(ratio "$a" "$b")"
}

# The machine is shared: its load beside the figures says how far to trust them.
load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "load average before: $(load)"
printf '%-40s %10s %10s %8s\n' "in-process decode, median of $runs" ours_ms native_ms ratio
decode_row "12 MP HEIC (4000 x 3000)" "$kept/p12.heic"
decode_row "12 MP AVIF (4000 x 3000)" "$kept/p12.avif"
[ -f "$testdata/camera/iphone13.HEIC" ] && decode_row "phone HEIC, 48-tile grid (3024 x 4032)" "$testdata/camera/iphone13.HEIC"

native_jpeg() { heif-convert "$kept/p12.heic" "$work/n.jpg" && jpegoptim -q --size=200k "$work/n.jpg"; }
ours=() theirs=() over=0
for _ in $(seq "$runs"); do
  ours+=("$(seconds wine "$cli" compress "$kept/p12.heic" "$work/o.jpg" --kb 200)")
  [ "$(stat -c %s "$work/o.jpg")" -le 204800 ] || over=$((over + 1))
  rm -f "$work/n.jpg"
  theirs+=("$(seconds native_jpeg)")
done
a=$(printf '%s\n' "${ours[@]}" | median)
b=$(printf '%s\n' "${theirs[@]}" | median)
printf '%-40s %10s %10s %8s\n' "HEIC -> JPEG <= 200 KB, whole process" "$a" "$b" "$(ratio "$a" "$b")"
printf 'sizes: ours %d bytes (%d of %d runs over 200 KB), heif-convert + jpegoptim %d bytes\n' \
  "$(stat -c %s "$work/o.jpg")" "$over" "$runs" "$(stat -c %s "$work/n.jpg")"
echo "load average after: $(load)"
