#!/usr/bin/env bash
# Starts the real program with a test photo under Xvfb and writes the window,
# as it is drawn, to docs/screenshot.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
photo=${1:-}
out=${2:-docs/screenshot.png}
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target Veldmoor >/dev/null
source scripts/wine-env.sh
veldmoor_warm_wine
if [ -z "$photo" ]; then
  testdata=${VELDMOOR_TESTDATA:-$root/../shared/testdata}
  photo=$testdata/camera/iphone6.jpg
fi
name=$(basename "$photo")
xdotool mousemove 0 0
wine build/Veldmoor.exe "$photo" </dev/null >/dev/null 2>&1 &
pid=$!
win=""
for _ in $(seq 100); do
  win=$(xdotool search --name "^${name//./\\.} - Veldmoor\$" 2>/dev/null | head -1 || true)
  [ -n "$win" ] && break
  sleep 0.2
done
[ -n "$win" ] || { echo "no Veldmoor window"; kill $pid; exit 1; }
sleep 2  # the picture and the thumbnail row, one thumbnail per frame
eval "$(xdotool getwindowgeometry --shell "$win")"
mkdir -p "$(dirname "$out")"
xwd -root -display "$DISPLAY" | convert xwd:- -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out"
xdotool key --window "$win" alt+F4
wait $pid || true
echo "wrote $out (${WIDTH} x ${HEIGHT})"
