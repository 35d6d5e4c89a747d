#!/usr/bin/env bash
# Crops a photo in the real window: a double click enters crop mode, a box is
# dragged with the mouse, the screenshot must show the dimmed surround and the
# frame; "apply and save" goes through the real save dialog and the written
# file must have the selected size. A second round picks the 1080 x 1080 size
# in the panel and expects exactly that size.
set -u
exe=$1
outdir=$2
mkdir -p "$outdir"
rm -f "$outdir"/crop_free.jpg "$outdir"/crop_square.jpg
source "$(dirname "$0")/../../scripts/wine-env.sh"
veldmoor_start_xvfb

source "$(dirname "$0")/testdata.sh"
photo=$testdata/orientation/Landscape_1.jpg  # 1800 x 1200
wine "$exe" "$photo" </dev/null >"$outdir/crop_stdout.txt" 2>&1 &
pid=$!

fail() {
  echo "FAIL: $*"
  kill $pid 2>/dev/null
  exit 1
}

win=""
for _ in $(seq 100); do
  win=$(xdotool search --name '^Landscape_1\.jpg - Veldmoor$' 2>/dev/null | head -1)
  [ -n "$win" ] && break
  sleep 0.2
done
[ -n "$win" ] || fail "no window titled 'Landscape_1.jpg - Veldmoor'"
sleep 1
eval "$(xdotool getwindowgeometry --shell "$win")"
WX=$X WY=$Y WW=$WIDTH WH=$HEIGHT

shot() {
  xwd -root -display "$DISPLAY" | convert xwd:- -crop "${WW}x${WH}+${WX}+${WY}" +repage "$outdir/$1"
}
# "r g b" of a client pixel in a screenshot.
rgb() {
  convert "$outdir/$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:
}
luma() {
  set -- $(rgb "$@")
  echo $(( ($1 + $2 + $3) / 3 ))
}

# The canvas at 96 dpi in crop mode: below the 44-pixel strip, above the
# 40-pixel one, left of the 300-pixel panel; the picture is fitted into it.
panel_left=$((WW - (WW / 2 < 300 ? WW / 2 : 300)))
read -r zoom vx vy <<<"$(awk -v cw=$panel_left -v ch=$((WH - 84)) 'BEGIN {
  z = cw / 1800; if (ch / 1200 < z) z = ch / 1200; if (z > 1) z = 1
  printf "%.17g %d %d", z, int((cw - int(1800 * z + 0.5)) / 2), 44 + int((ch - int(1200 * z + 0.5)) / 2) }')"

xdotool mousemove --window "$win" $((WW / 3)) $((WH / 2))
sleep 0.2
xdotool click --repeat 2 --delay 80 1
sleep 1
shot crop_mode.png
set -- $(rgb crop_mode.png $((panel_left + 20)) $((WH - 40 - 14 - 4)))
[ "$1 $2 $3" = "76 154 255" ] || fail "no crop panel with its apply button after the double click (got $*)"

# Drag from (200, 200) to (500, 420) in client coordinates.
xdotool mousemove --window "$win" 200 200 mousedown 1
xdotool mousemove --window "$win" 320 300
xdotool mousemove --window "$win" 500 420
sleep 0.2
xdotool mouseup 1
sleep 0.6
shot crop_selection.png
read -r sx sy sw sh L T <<<"$(awk -v z=$zoom -v vx=$vx -v vy=$vy 'function fl(v) { return v < 0 && v != int(v) ? int(v) - 1 : int(v) }
  BEGIN { x1 = fl((200 - vx) / z); y1 = fl((200 - vy) / z); x2 = fl((500 - vx) / z); y2 = fl((420 - vy) / z)
  printf "%d %d %d %d %d %d", x1, y1, x2 - x1, y2 - y1, vx + int(x1 * z), vy + int(y1 * z) }')"
echo "window $WW x $WH, zoom $zoom, picture at $vx,$vy; selection $sx,$sy $sw x $sh, frame at $L,$T"

# Outside the selection the picture is dimmed to about 60 %; inside it is untouched.
for p in "100 500" "650 300" "300 120"; do
  set -- $p
  before=$(luma crop_mode.png $1 $2) after=$(luma crop_selection.png $1 $2)
  expect=$((before * 153 / 255))
  [ $((after - expect)) -le 4 ] && [ $((expect - after)) -le 4 ] ||
    fail "pixel $1,$2 not dimmed: $before -> $after (expected about $expect)"
done
for p in "250 240" "450 380"; do
  set -- $p
  [ "$(rgb crop_mode.png $1 $2)" = "$(rgb crop_selection.png $1 $2)" ] || fail "pixel $1,$2 inside the selection changed"
done
# The frame: dark on the edge, light beside it.
[ "$(rgb crop_selection.png $((L + 30)) $T)" = "0 0 0" ] || fail "no dark frame line at y $T"
[ "$(rgb crop_selection.png $((L + 30)) $((T + 1)))" = "255 255 255" ] || fail "no light frame line at y $((T + 1))"
[ "$(rgb crop_selection.png $L $((T + 30)))" = "0 0 0" ] || fail "no dark frame line at x $L"

# Apply and save through the real save dialog.
save_as() {
  local target=$1 dlg=""
  xdotool mousemove --window "$win" $((panel_left + 150)) $((WH - 40 - 14 - 18)) click 1
  for _ in $(seq 50); do
    dlg=$(xdotool search --name '^另存为$' 2>/dev/null | head -1)
    [ -n "$dlg" ] && break
    sleep 0.2
  done
  [ -n "$dlg" ] || fail "no save dialog"
  sleep 0.5
  xdotool windowactivate --sync "$dlg" 2>/dev/null || xdotool windowfocus "$dlg"
  xdotool key --window "$dlg" ctrl+a
  xdotool type --window "$dlg" "$(winepath -w "$target")"
  xdotool key --window "$dlg" Return
  for _ in $(seq 50); do
    [ -s "$target" ] && break
    sleep 0.2
  done
  sleep 0.5
  [ -s "$target" ] || fail "nothing written to $target"
}
check_size() {
  local size bytes
  size=$(identify -format "%wx%h" "$1")
  bytes=$(stat -c %s "$1")
  echo "$(basename "$1"): $size, $bytes bytes"
  [ "$size" = "$2" ] || fail "$(basename "$1") is $size, expected $2"
  [ "$bytes" -gt 1000 ] || fail "$(basename "$1") is only $bytes bytes"
}

save_as "$outdir/crop_free.jpg"
check_size "$outdir/crop_free.jpg" "${sw}x${sh}"

# Second round on the cropped picture, now shown at 100 %: the square size.
sleep 0.5
xdotool mousemove --window "$win" $((panel_left / 2)) $((WH / 2))
xdotool click --repeat 2 --delay 80 1
sleep 1
xdotool mousemove --window "$win" $((panel_left + 80)) 208 click 1
sleep 0.3
cx=$((panel_left / 2)) cy=$((WH / 2))
xdotool mousemove --window "$win" $((cx - 100)) $((cy - 100)) mousedown 1
xdotool mousemove --window "$win" $((cx + 20)) $((cy + 10))
xdotool mousemove --window "$win" $((cx + 60)) $((cy + 40))
xdotool mouseup 1
sleep 0.5
shot crop_square.png
save_as "$outdir/crop_square.jpg"
check_size "$outdir/crop_square.jpg" "1080x1080"

xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
xdotool key --window "$win" alt+F4
for _ in $(seq 100); do
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
kill -0 $pid 2>/dev/null && fail "Veldmoor did not close"
wait $pid
code=$?
[ $code -eq 0 ] || { echo "FAIL: exit code $code"; exit 1; }
echo "PASS"
