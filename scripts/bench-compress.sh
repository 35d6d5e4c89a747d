#!/usr/bin/env bash
# Compresses each camera photo to 100, 200, 500 and 1024 KB with veldmoor-cli and
# with jpegoptim --size, and prints bytes against the limit, quality, picture size
# and times, then the median time ratios. Usage: scripts/bench-compress.sh [build-dir] [runs]
# (the build dir is any folder holding a veldmoor-cli.exe, to compare two builds; each
# side runs each case `runs` times, 3 by default, alternating, and keeps its median).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-build}
runs=${2:-3}
cli="$build/veldmoor-cli.exe"
[ -f "$cli" ] || { echo "build first: $cli is missing"; exit 1; }
if ! command -v jpegoptim >/dev/null; then
  apt-get install -y -qq jpegoptim >/dev/null 2>&1 || { echo "jpegoptim could not be installed"; exit 1; }
fi
source scripts/bench-common.sh

now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", b - a}'; }
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }

# Picture size from the frame header, and the quality estimated from the first
# quantisation table against the standard luminance table (quality scaling of libjpeg).
jpeg_facts() {
  python3 - "$1" <<'EOF'
import struct, sys
STD = [16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55, 14, 13, 16, 24, 40, 57, 69, 56,
       14, 17, 22, 29, 51, 87, 80, 62, 18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
       49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99]
ZIGZAG = [0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,
          7, 14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31,
          39, 46, 53, 60, 61, 54, 47, 55, 62, 63]
d = open(sys.argv[1], 'rb').read()
i, size, q = 2, '-', '-'
while i + 4 <= len(d) and d[i] == 0xFF:
    m, n = d[i + 1], struct.unpack('>H', d[i + 2:i + 4])[0]
    seg = d[i + 4:i + 2 + n]
    if m == 0xDB and q == '-' and seg and seg[0] == 0:  # 8-bit table 0
        tab = seg[1:65]
        scale = sum(tab[k] * 100.0 / STD[ZIGZAG[k]] for k in range(64)) / 64
        q = str(max(1, min(100, round(5000 / scale if scale > 100 else (200 - scale) / 2))))
    if m in (0xC0, 0xC1, 0xC2):
        h, w = struct.unpack('>HH', seg[1:5])
        size = '%dx%d' % (w, h)
    if m == 0xDA:
        break
    i += 2 + n
print(size, q)
EOF
}

printf '%-24s %7s | %-15s %4s %-10s %6s %6s | %-15s %4s %-10s %6s | %6s %6s\n' \
  photo limit ours q size wall_s in_s jpegoptim q~ size wall_s wall× in×
ratios=()
over=0
for photo in "$testdata"/camera/*.jpg; do
  name=$(basename "$photo")
  for kb in 100 200 500 1024; do
    limit=$((kb * 1024))
    ours_walls=() jo_walls=() ours_mss=()
    cp "$photo" "$work/in.jpg"
    for ((r = 0; r < runs; r++)); do
      rm -f "$work/ours.jpg"
      t0=$(now)
      line=$(wine "$cli" compress "$photo" "$work/ours.jpg" --kb "$kb" --time 2>/dev/null | tr -d '\r')
      t1=$(now)
      ours_walls+=("$(secs "$t0" "$t1")")
      ours_mss+=("$(sed -n 's/.* ms=\([0-9.]*\).*/\1/p' <<<"$line")")
      t0=$(now)
      jpegoptim -q --size="${kb}k" --stdout "$work/in.jpg" > "$work/jo.jpg" 2>/dev/null
      t1=$(now)
      jo_walls+=("$(secs "$t0" "$t1")")
    done
    ours_wall=$(median "${ours_walls[@]}")
    jo_wall=$(median "${jo_walls[@]}")
    field() { sed -n "s/.*\b$1=\([0-9x.]*\).*/\1/p" <<<"$line"; }
    ours_bytes=$(field bytes)
    ours_ms=$(median "${ours_mss[@]:-0}")
    if [ -n "$ours_bytes" ]; then
      # The file on disk is what the promise is about.
      on_disk=$(stat -c %s "$work/ours.jpg")
      flag=$([ "$on_disk" -le "$limit" ] && echo ok || echo OVER)
      [ "$(field target_missed)" = 1 ] && flag=missed
      ours="$on_disk/$flag"
    else
      ours="failed"
    fi
    ours_in=$(awk -v m="${ours_ms:-0}" 'BEGIN {printf "%.2f", m / 1000}')

    jo_bytes=$(stat -c %s "$work/jo.jpg")
    if [ "$jo_bytes" -gt 0 ]; then
      read -r jo_size jo_q < <(jpeg_facts "$work/jo.jpg")
      jo="$jo_bytes/$([ "$jo_bytes" -le "$limit" ] && echo ok || echo OVER)"
    else
      jo_size=- jo_q=- jo=failed
    fi
    ratio=$(awk -v a="$ours_wall" -v b="$jo_wall" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')
    ratio_in=$(awk -v a="$ours_in" -v b="$jo_wall" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')
    ratios+=("$ratio")
    case "$ours" in */ok|*/missed) ;; *) over=$((over + 1)) ;; esac
    printf '%-24s %7d | %-15s %4s %-10s %6s %6s | %-15s %4s %-10s %6s | %6s %6s\n' \
      "$name" "$limit" "$ours" "$(field quality)" "$(field size)" "$ours_wall" "$ours_in" \
      "$jo" "$jo_q" "$jo_size" "$jo_wall" "$ratio" "$ratio_in"
  done
done
echo "median wall time ours / jpegoptim: $(median "${ratios[@]}") over ${#ratios[@]} cases (each the median of $runs runs); ours over the limit or failed: $over"
echo "wall_s: whole process (ours under wine, including start-up and decoding); in_s: compress_run alone."
