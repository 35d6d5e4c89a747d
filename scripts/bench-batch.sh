#!/usr/bin/env bash
# Batch-compresses a generated folder of 500 photos (mixed sizes) to JPEG at 200 KB
# with veldmoor-cli batch (one worker, then the pool) and with jpegoptim --size=200k
# over the same files (one process, then one per core), and prints files per second.
# Usage: scripts/bench-batch.sh [build-dir] [photo-count]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-build}
count=${2:-500}
cli="$build/veldmoor-cli.exe"
[ -f "$cli" ] || { echo "build first: $cli is missing"; exit 1; }
command -v convert >/dev/null || { echo "ImageMagick's convert is needed to make the photos"; exit 1; }
if ! command -v jpegoptim >/dev/null; then
  apt-get install -y -qq jpegoptim >/dev/null 2>&1 || { echo "jpegoptim could not be installed"; exit 1; }
fi
testdata=${VELDMOOR_TESTDATA:-$root/../shared/testdata}
[ -d "$testdata/camera" ] || { echo "the camera photos are missing at $testdata"; exit 1; }
source scripts/wine-env.sh
veldmoor_warm_wine >/dev/null 2>&1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cores=$(nproc)

now() { date +%s.%N; }
rate() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN {printf "%.2f", n / (b - a)}'; }
over() { find "$1" -name '*.jpg' -size +200k | wc -l; }

# 50 distinct photos cut from the camera set at phone and camera sizes, each
# copied so that the folder holds $count files of real photographic content.
sources=("$testdata"/camera/iphone6.jpg "$testdata"/camera/canon_sx60_orient6.jpg
         "$testdata"/camera/olympus_corrupted.jpg "$testdata"/camera/nikon_e950.jpg)
sizes=(1280x960 1600x1200 2048x1536 2592x1944 3264x2448)
gravities=(center north south east west)
mkdir -p "$work/base" "$work/photos"
for i in $(seq 0 49); do
  convert "${sources[$((i % 4))]}" -resize "${sizes[$((i % 5))]}^" -gravity "${gravities[$((i / 10 % 5))]}" \
    -extent "${sizes[$((i % 5))]}" -quality 92 "$work/base/b$i.jpg" 2>/dev/null
done
for n in $(seq 1 "$count"); do
  cp "$work/base/b$(( (n - 1) % 50 )).jpg" "$work/photos/p$(printf %04d "$n").jpg"
done
echo "$count photos, $(du -sh "$work/photos" | cut -f1), sizes ${sizes[*]}; $cores cores"

photos_win=$(winepath -w "$work/photos" 2>/dev/null)
run_ours() {  # $1: label, the rest: extra options
  local label=$1 out="$work/ours-$1"
  shift
  local t0 t1
  t0=$(now)
  wine "$cli" batch --dir "$photos_win" --out "$(winepath -w "$work")\\ours-$label" --convert jpg --compress 200 \
    --no-shrink "$@" </dev/null >"$work/$label.log" 2>/dev/null
  t1=$(now)
  local written
  written=$(find "$out" -name '*.jpg' | wc -l)
  printf '%-28s %8s files/s  %4d written  %3d over 200 KB  (%s)\n' "veldmoor $label" "$(rate "$count" "$t0" "$t1")" \
    "$written" "$(over "$out")" "$(tail -1 "$work/$label.log" | tr -d '\r')"
}

run_peer() {  # $1: label, $2: processes
  local out="$work/peer-$1" t0 t1
  mkdir -p "$out"
  t0=$(now)
  find "$work/photos" -name '*.jpg' -print0 |
    xargs -0 -P "$2" -n $(( (count + $2 - 1) / $2 )) jpegoptim -q -o --size=200k -d "$out" >/dev/null 2>&1
  t1=$(now)
  printf '%-28s %8s files/s  %4d written  %3d over 200 KB\n' "jpegoptim $1" "$(rate "$count" "$t0" "$t1")" \
    "$(find "$out" -name '*.jpg' | wc -l)" "$(over "$out")"
}

run_ours "1-worker" --workers 1
run_ours "pool"
run_peer "1-process" 1
run_peer "$cores-processes" "$cores"
echo "Both re-encode every photo at the highest quality that fits 200 KB without shrinking it;"
echo "ours runs under Wine and includes start-up, the folder scan, decoding and writing."
