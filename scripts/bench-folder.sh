#!/usr/bin/env bash
# Whole folders: start to first picture pixel in folders of 1, 1,000, 10,000 and
# 100,000 small JPEGs (the 1-file folder is the reference), the whole queue known
# and the private memory with each folder open, and paging 20 photos of 12-24 MP at
# one Right per 0.5 s with and without decoding ahead, beside Pillow's decode of the
# same photo (a viewer that decodes on demand).
# Usage: scripts/bench-folder.sh [runs]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${1:-5}
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target Veldmoor bench_folder bench_startup >/dev/null || exit 1
py=/usr/bin/python3
if ! $py -c 'import PIL' 2>/dev/null; then
  apt-get install -y -qq python3-pil >/dev/null 2>&1 || { echo "Pillow could not be installed"; exit 1; }
fi
source scripts/bench-common.sh
# The folders take a while to make: kept between runs.
store=build/bench-folder
mkdir -p "$store"
$py - "$testdata/camera" "$store" <<'PY'
import os, sys
from PIL import Image
src, store = sys.argv[1:]
for n in (1, 1000, 10000, 100000):
    d = f"{store}/f{n}"
    if os.path.isfile(f"{d}/IMG_{n:06d}.jpg"):
        continue
    os.makedirs(d, exist_ok=True)
    first = f"{d}/IMG_000001.jpg"
    Image.new("RGB", (64, 48), (200, 120, 40)).save(first, quality=90)
    data = open(first, "rb").read()
    for i in range(2, n + 1):
        with open(f"{d}/IMG_{i:06d}.jpg", "wb") as f:
            f.write(data)
d = f"{store}/photos"
if not os.path.isfile(f"{d}/P20.jpg"):
    os.makedirs(d, exist_ok=True)
    sources = [Image.open(f"{src}/{name}").convert("RGB") for name in ("iphone6.jpg", "olympus_corrupted.jpg")]
    for i in range(1, 21):
        size = (6000, 4000) if i % 2 else (4000, 3000)
        sources[i % 2].resize(size, Image.BICUBIC).save(f"{d}/P{i:02d}.jpg", quality=90)
PY

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }
echo "start to first picture pixel (Veldmoor.exe started with the folder's middle picture), median of $runs;"
echo "the process start varies on a shared machine, so also from the window's appearance to the pixel:"
for n in 1 1000 10000 100000; do
  pic=$(printf '%s/f%d/IMG_%06d.jpg' "$store" "$n" $(((n + 1) / 2)))
  for _ in $(seq "$runs"); do
    wine build/bench/bench_startup.exe build/Veldmoor.exe "$(winepath -w "$pic")" | tr -d '\r' |
      sed -n 's/window found \([0-9-]*\) ms.*first picture pixel \([0-9-]*\) ms.*/\1 \2/p'
  done >"$work/start"
  total=$(awk '{print $2}' "$work/start" | median)
  after=$(awk '{print $2 - $1}' "$work/start" | median)
  printf '  %6d files: %5s ms (window to pixel %s ms)\n' "$n" "$total" "$after"
done
echo
echo "in the window: picture painted, whole queue known, private memory"
for n in 1 1000 10000 100000; do
  printf '  %6d files: ' "$n"
  wine build/bench/bench_folder.exe queue "$(winepath -w "$(printf '%s/f%d/IMG_%06d.jpg' "$store" "$n" $(((n + 1) / 2)))")" | tr -d '\r'
done
echo
echo "paging 20 photos of 12 and 24 MP, one Right per 0.5 s, 39 steps (twice round the folder; of 19 the 95th percentile would be the slowest one):"
first=$(winepath -w "$store/photos/P01.jpg")
wine build/bench/bench_folder.exe page "$first" 39 1 | tr -d '\r' | sed 's/^/  /'
wine build/bench/bench_folder.exe page "$first" 39 0 | tr -d '\r' | sed 's/^/  /'
pillow=$(for _ in $(seq "$runs"); do
  $py - "$store/photos/P01.jpg" <<'PY'
import sys, time
from PIL import Image
Image.preinit()
t = time.perf_counter()
Image.open(sys.argv[1]).load()
print("%.1f" % ((time.perf_counter() - t) * 1000))
PY
done | median)
echo "  reference, Pillow decoding the 24 MP photo natively (a viewer that decodes on demand): $pillow ms"
