#!/usr/bin/env bash
# Times our resampling and thumbnails against Pillow on the same generated
# 6000 x 4000, 3264 x 2448 and 1500 x 1000 RGBA pictures, in one run, and prints
# the ratios. Usage: scripts/bench-image.sh [runs] [native|wine]: "wine" times the
# Windows build under Wine instead of the native one (Pillow runs natively either way).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${1:-5}
where=${2:-native}
out=build-bench-native
mkdir -p "$out"
if ! /usr/bin/python3 -c 'import PIL' 2>/dev/null; then
  apt-get install -y -qq python3-pil >/dev/null 2>&1
fi

flags=(-std=c++17 -O2 -ffp-contract=off -pthread -Isrc)
objs=()
for src in src/image/*.cpp bench/bench_image.cpp; do
  obj="$out/$(basename "${src%.cpp}").o"
  extra=()
  [[ $src == *avx2* ]] && extra=(-mavx2)
  g++ "${flags[@]}" "${extra[@]}" -c "$src" -o "$obj"
  objs+=("$obj")
done
g++ -pthread -o "$out/bench_image" "${objs[@]}"

raw="$out/picture.raw"
if [ "$where" = wine ]; then
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw --target bench_image >/dev/null
  source scripts/wine-env.sh
  veldmoor_warm_wine >/dev/null 2>&1
  wine build/bench/bench_image.exe "$runs" "$raw" > "$out/ours.txt" 2>/dev/null
else
  "$out/bench_image" "$runs" "$raw" > "$out/ours.txt"
fi

/usr/bin/python3 - "$raw" "$runs" > "$out/pillow.txt" <<'PY'
import sys, time
from PIL import Image
raw, runs = sys.argv[1], int(sys.argv[2])
data = open(raw, "rb").read()
big = Image.frombuffer("RGBA", (6000, 4000), data[:6000 * 4000 * 4], "raw", "RGBA", 0, 1)
mid_end = 6000 * 4000 * 4 + 1500 * 1000 * 4
mid = Image.frombuffer("RGBA", (1500, 1000), data[6000 * 4000 * 4:mid_end], "raw", "RGBA", 0, 1)
photo = Image.frombuffer("RGBA", (3264, 2448), data[mid_end:], "raw", "RGBA", 0, 1)
big.load(); mid.load(); photo.load()
def chain(p, stages):
    for _ in range(stages):
        p = p.resize((int(p.width * 0.93 + 0.5), int(p.height * 0.93 + 0.5)), Image.LANCZOS)
    return p
def best(f):
    t = 1e9
    for _ in range(runs):
        s = time.perf_counter(); f(); t = min(t, time.perf_counter() - s)
    return t
print("lanczos3_6000x4000_to_1500x1000 %.4f" % best(lambda: big.resize((1500, 1000), Image.LANCZOS)))
print("box_6000x4000_to_2000x1333 %.4f" % best(lambda: big.resize((2000, 1333), Image.BOX)))
print("catmullrom_1500x1000_to_3000x2000 %.4f" % best(lambda: mid.resize((3000, 2000), Image.BICUBIC)))
print("lanczos3_3264x2448_to_2488x1866 %.4f" % best(lambda: photo.resize((2488, 1866), Image.LANCZOS)))
print("lanczos3_6000x4000_to_3000x2000 %.4f" % best(lambda: big.resize((3000, 2000), Image.LANCZOS)))
print("chain5_3264x2448 %.4f" % best(lambda: chain(photo, 5)))
print("thumb_6000x4000_to_96 %.4f" % best(lambda: big.reduce(62)))
PY

echo "Veldmoor image core ($where, $(head -1 "$out/ours.txt")) against Pillow $(/usr/bin/python3 -c 'import PIL; print(PIL.__version__)'), best of $runs, seconds"
printf '%-42s %9s %9s %7s\n' operation ours pillow ratio
while read -r name ours; do
  [ "$name" = path ] && continue
  # Pillow resamples on one thread: our one- and two-thread figures face the same one.
  pillow=$(awk -v n="${name%_[12]thread}" '$1 == n {print $2}' "$out/pillow.txt")
  if [ -n "$pillow" ]; then
    printf '%-42s %9s %9s %7.3f\n' "$name" "$ours" "$pillow" "$(awk -v a="$ours" -v b="$pillow" 'BEGIN {print a / b}')"
  else
    printf '%-42s %9s %9s %7s\n' "$name" "$ours" "-" "-"
  fi
done < "$out/ours.txt"
