#!/usr/bin/env bash
# Whole-process time of short veldmoor-cli jobs under a warm Wine (median of N runs),
# beside a do-nothing console program as the floor, and the DLLs each job loads.
# Usage: scripts/bench-start.sh [runs] [build-dir] (a build dir holding veldmoor-cli.exe,
# to compare two builds).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${1:-10}
build=${2:-build}
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target veldmoor-cli bench_noop >/dev/null || exit 1
cli="$build/veldmoor-cli.exe"
source scripts/bench-common.sh

# Median wall milliseconds of a command run $runs times.
median_ms() {
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    echo $(((t1 - t0) / 1000))
  done | sort -n | awk '{v[NR] = $1} END {m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.1f", m / 1000}'
}

dlls() {
  WINEDEBUG=+loaddll wine "$@" 2>&1 >/dev/null | sed -n 's/.*Loaded L"[^"]*\\\([^"\\]*\)".*/\1/p' | tr 'A-Z' 'a-z' |
    sort -u | tr '\n' ' '
}

printf '%-34s %9s\n' "job" "ms"
printf '%-34s %9s\n' "do-nothing console program" "$(median_ms wine build/bench/bench_noop.exe)"
for photo in nikon_e950.jpg iphone6.jpg; do
  src="$testdata/camera/$photo"
  printf '%-34s %9s\n' "info $photo" "$(median_ms wine "$cli" info "$src")"
  printf '%-34s %9s\n' "compress $photo --kb 100" "$(median_ms wine "$cli" compress "$src" "$work/out.jpg" --kb 100)"
done
src="$testdata/camera/nikon_e950.jpg"
echo
echo "DLLs loaded beyond the do-nothing program's:"
floor=$(dlls build/bench/bench_noop.exe)
for job in "info $src" "compress $src $work/out.jpg --kb 100" "convert $src $work/out.png"; do
  extra=$(comm -13 <(tr ' ' '\n' <<<"$floor" | sort) <(dlls "$cli" $job | tr ' ' '\n' | sort) | grep -v '^veldmoor-cli.exe$' | tr '\n' ' ')
  echo "  ${job%% *}: ${extra:-none}"
done
