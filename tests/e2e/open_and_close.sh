#!/usr/bin/env bash
# Starts Veldmoor.exe with a photo, finds its window by title, checks a
# screenshot, closes it with Alt+F4 and expects exit code 0.
set -u
exe=$1
outdir=$2
mkdir -p "$outdir"
source "$(dirname "$0")/../../scripts/wine-env.sh"
veldmoor_start_xvfb

source "$(dirname "$0")/testdata.sh"
photo=$testdata/orientation/Landscape_1.jpg
wine "$exe" "$photo" </dev/null >"$outdir/stdout.txt" 2>&1 &
pid=$!

win=""
for _ in $(seq 100); do
  win=$(xdotool search --name '^Landscape_1\.jpg - Veldmoor$' 2>/dev/null | head -1)
  [ -n "$win" ] && break
  sleep 0.2
done
if [ -z "$win" ]; then
  echo "FAIL: no window titled 'Landscape_1.jpg - Veldmoor'"
  kill $pid 2>/dev/null
  exit 1
fi
sleep 1

shot="$outdir/open_and_close.png"
xwd -root -display "$DISPLAY" | convert xwd:- "$shot"
eval "$(xdotool getwindowgeometry --shell "$win")"
# The window is painted with the dark background, not left blank or white.
colour=$(convert "$shot" -format "%[pixel:p{$((X + WIDTH / 2)),$((Y + HEIGHT / 2))}]" info:)
echo "window $WIDTH x $HEIGHT at $X,$Y; centre pixel $colour"
case "$colour" in
  "srgb(26,26,29)"|"rgb(26,26,29)") ;;
  *) echo "FAIL: expected the dark window background"; kill $pid 2>/dev/null; exit 1 ;;
esac
# The X window is the client area: 1100 x 720 less the sizing border.
if [ "$WIDTH" -lt 1080 ] || [ "$WIDTH" -gt 1100 ] || [ "$HEIGHT" -lt 700 ] || [ "$HEIGHT" -gt 720 ]; then
  echo "FAIL: expected a window of about 1100 x 720"
  kill $pid 2>/dev/null
  exit 1
fi

xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
xdotool key --window "$win" alt+F4
for _ in $(seq 100); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
if kill -0 $pid 2>/dev/null; then
  echo "FAIL: Veldmoor did not close on Alt+F4"
  kill $pid
  exit 1
fi
wait $pid
code=$?
echo "exit code $code"
[ $code -eq 0 ] || { echo "FAIL: exit code $code"; exit 1; }
echo "PASS"
