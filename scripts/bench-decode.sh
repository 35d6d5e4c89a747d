#!/usr/bin/env bash
# Decoding against Pillow (libjpeg-turbo natively) in one run: full JPEG decode of a
# 9 MP and a 24 MP photo, a 96-px thumbnail of the 24 MP one (Pillow: draft() then
# thumbnail()), the cost of refusing an oversized header, and the time from launch
# to the titled main window with the 24 MP picture loaded.
# Usage: scripts/bench-decode.sh [build-dir] [runs]  (build-dir: any folder with the two .exe)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-build}
runs=${2:-9}
cli="$build/veldmoor-cli.exe"
app="$build/Veldmoor.exe"
[ -f "$cli" ] || { echo "build first: $cli is missing"; exit 1; }
py=/usr/bin/python3
if ! $py -c 'import PIL' 2>/dev/null; then
  apt-get install -y -qq python3-pil >/dev/null 2>&1 || { echo "Pillow could not be installed"; exit 1; }
fi
testdata=${VELDMOOR_TESTDATA:-../shared/testdata}
[ -f "$testdata/camera/iphone6.jpg" ] || { echo "test pictures missing at $testdata"; exit 1; }
source scripts/wine-env.sh
veldmoor_warm_wine >/dev/null 2>&1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Photos of 9 and 24 MP made from a real one (quality 90, 4:2:0).
$py - "$testdata/camera/iphone6.jpg" "$work" <<'PY'
import struct, sys, zlib
from PIL import Image
src = Image.open(sys.argv[1]).convert("RGB")
for name, size in (("p9.jpg", (3672, 2448)), ("p24.jpg", (6000, 4000))):
    src.resize(size, Image.BICUBIC).save(f"{sys.argv[2]}/{name}", quality=90)
PY
# A complete 30000 x 30000 PNG of zeros, 2.6 MB; kept between runs, as it takes seconds to make.
bomb=build-bench-decode/bomb.png
if [ ! -f "$bomb" ]; then
  mkdir -p build-bench-decode
  $py - "$bomb" <<'PY'
import struct, sys, zlib
chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
z = zlib.compressobj(9)
rows = b"\0" * (30000 * 3 + 1) * 100
idat = b"".join([z.compress(rows) for _ in range(300)] + [z.flush()])
ihdr = struct.pack(">IIBBBBB", 30000, 30000, 8, 2, 0, 0, 0)
open(sys.argv[1], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", idat) + chunk(b"IEND", b""))
PY
fi

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }
pillow_once() {  # in-process milliseconds of one fresh Pillow process, as ours are
  $py - "$@" <<'PY'
import sys, time
from PIL import Image
kind, path = sys.argv[1], sys.argv[2]
Image.preinit()  # plugin imports are start-up, not decoding
t = time.perf_counter()
im = Image.open(path)
if kind == "thumb":
    im.draft("RGB", (96, 96))
    im.thumbnail((96, 96))
else:
    im.load()
print("%.1f" % ((time.perf_counter() - t) * 1000))
PY
}
# One row: ours (the --time figure) and Pillow's, alternating run by run so that
# the load of a shared machine falls on both alike; medians and their ratio.
row() {
  local label=$1 kind=$2 file=$3
  shift 3
  local ours=() theirs=()
  for _ in $(seq "$runs"); do
    ours+=("$(wine "$cli" "$@" --time 2>/dev/null | tr -d '\r' | sed -n 's/.* ms=\([0-9.]*\).*/\1/p')")
    theirs+=("$(pillow_once "$kind" "$file")")
  done
  local a b
  a=$(printf '%s\n' "${ours[@]}" | median)
  b=$(printf '%s\n' "${theirs[@]}" | median)
  printf '%-34s %10s %10s %8s\n' "$label" "$a" "$b" "$(awk -v a="$a" -v b="$b" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')"
}

printf '%-34s %10s %10s %8s\n' "in-process, median of $runs" ours_ms pillow_ms ratio
row "decode 9 MP JPEG" load "$work/p9.jpg" info "$work/p9.jpg"
row "decode 24 MP JPEG" load "$work/p24.jpg" info "$work/p24.jpg"
row "96-px thumbnail of 24 MP JPEG" thumb "$work/p24.jpg" thumb "$work/p24.jpg" "$work/t.png" --max 96

# Whole process, Wine start-up included: the refusal of a 30000 x 30000 PNG.
t0=$(date +%s.%N)
/usr/bin/time -o "$work/rss" -f '%M' wine "$cli" info "$bomb" >/dev/null 2>&1
t1=$(date +%s.%N)
rss=$(tail -1 "$work/rss")
printf 'refusing a 30000 x 30000 PNG (%d KB): %.2f s whole process, peak RSS %d MB\n' \
  "$(($(stat -c %s "$bomb") / 1024))" "$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')" "$((rss / 1024))"

# Launch to the main window titled with the 24 MP picture's name (set once it is loaded).
if [ -f "$app" ]; then
  starts=()
  for _ in $(seq "$runs"); do
    t0=$(date +%s.%N)
    wine "$app" "$work/p24.jpg" >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 3000); do
      xdotool search --name '^p24\.jpg - Veldmoor$' >/dev/null 2>&1 && break
      sleep 0.005
    done
    t1=$(date +%s.%N)
    starts+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", b - a}')")
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    sleep 0.3
  done
  printf 'launch to the titled window with the 24 MP picture: %s s (median of %d)\n' \
    "$(printf '%s\n' "${starts[@]}" | median)" "$runs"
fi
