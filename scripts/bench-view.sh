#!/usr/bin/env bash
# Viewer speed under Wine + Xvfb: the in-process wheel-zoom sequence (with the
# plain full-picture box resample timed beside every cache rebuild), then start
# to first picture for a 3264 x 2448 and a 6000 x 4000 JPEG.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${1:-5}
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target Veldmoor bench_view bench_startup >/dev/null
source scripts/wine-env.sh
veldmoor_warm_wine
testdata=${VELDMOOR_TESTDATA:-$root/../shared/testdata}
big=build/bench/photo-6000x4000.jpg
[ -f "$big" ] || convert "$testdata/camera/iphone6.jpg" -resize '6000x4000!' -quality 90 "$big"

wine build/bench/bench_view.exe "$runs"
echo
echo "start to first picture, $runs runs each (before this work: window ~190 ms, picture loaded 623 ms / 1.9 s)"
for photo in "$testdata/camera/iphone6.jpg" "$big"; do
  echo "$(basename "$photo") ($(identify -format '%w x %h' "$photo")):"
  for _ in $(seq "$runs"); do wine build/bench/bench_startup.exe build/Veldmoor.exe "$photo"; done
done
