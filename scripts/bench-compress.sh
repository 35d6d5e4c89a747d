#!/usr/bin/env bash
# Compresses each camera photo to 100, 200, 500 and 1024 KB with veldmoor-cli and
# with jpegoptim --size, and prints bytes against the limit, quality, size and times.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-build}
cli="$build/veldmoor-cli.exe"
[ -f "$cli" ] || { echo "build first: $cli is missing"; exit 1; }
command -v jpegoptim >/dev/null || apt-get install -y -qq jpegoptim >/dev/null 2>&1
source scripts/wine-env.sh
veldmoor_warm_wine
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
printf '%-24s %6s | %-9s %4s %-11s %7s %7s | %-9s %4s %-11s %7s | %6s\n' \
  photo limit ours q size wall_s comp_s jpegoptim q size wall_s ratio
for photo in ../shared/testdata/camera/*.jpg; do
  name=$(basename "$photo")
  for kb in 100 200 500 1024; do
    limit=$((kb * 1024))
    t0=$(now)
    line=$(wine "$cli" compress "$photo" "$work/ours.jpg" --kb "$kb" --time 2>/dev/null)
    t1=$(now)
    ours_bytes=$(sed -n 's/.*bytes=\([0-9]*\).*/\1/p' <<<"$line")
    ours_q=$(sed -n 's/.*quality=\([0-9]*\).*/\1/p' <<<"$line")
    ours_size=$(sed -n 's/.*size=\([0-9x]*\).*/\1/p' <<<"$line")
    ours_ms=$(sed -n 's/.*ms=\([0-9.]*\).*/\1/p' <<<"$line")
    missed=$(sed -n 's/.*target_missed=\([01]\).*/\1/p' <<<"$line")
    ours_wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.2f", b - a}')

    mkdir -p "$work/jo" && cp "$photo" "$work/jo/in.jpg"
    t0=$(now)
    jo=$(jpegoptim --size="${kb}k" --stdout "$work/jo/in.jpg" 2>/dev/null > "$work/jo/out.jpg")
    t1=$(now)
    jo_bytes=$(stat -c %s "$work/jo/out.jpg")
    jo_q=$(identify -format '%Q' "$work/jo/out.jpg" 2>/dev/null)
    jo_size=$(identify -format '%wx%h' "$work/jo/out.jpg" 2>/dev/null)
    jo_wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.2f", b - a}')
    flag_ours=$([ "${ours_bytes:-0}" -le "$limit" ] && echo ok || echo OVER)
    [ "$missed" = 1 ] && flag_ours=missed
    flag_jo=$([ "$jo_bytes" -le "$limit" ] && echo ok || echo OVER)
    ratio=$(awk -v a="$ours_wall" -v b="$jo_wall" 'BEGIN {printf "%.2f", a / b}')
    printf '%-24s %6d | %-9s %4s %-11s %7s %7.3f | %-9s %4s %-11s %7s | %6s\n' \
      "$name" "$limit" "${ours_bytes:-fail}/$flag_ours" "$ours_q" "$ours_size" "$ours_wall" \
      "$(awk -v m="${ours_ms:-0}" 'BEGIN {print m / 1000}')" "$jo_bytes/$flag_jo" "$jo_q" "$jo_size" "$jo_wall" "$ratio"
  done
done
