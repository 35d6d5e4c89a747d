#!/usr/bin/env bash
# Crops a photo in the real window: a double click enters crop mode, a dragged
# box must show as a frame over a dimmed surround, and "apply and save" through
# the real save dialog must write a file of the selected size.
set -u
source "$(dirname "$0")/begin.sh"
rm -f "$outdir"/crop_free.jpg
source "$(dirname "$0")/testdata.sh"
wine "$exe" "$testdata/orientation/Landscape_1.jpg" </dev/null >"$outdir/crop_stdout.txt" 2>&1 &  # 1800 x 1200
pid=$!
fail() { echo "FAIL: $*"; kill $pid 2>/dev/null; exit 1; }

win=$(find_window 'Landscape_1\.jpg - Veldmoor') || fail "no window titled 'Landscape_1.jpg - Veldmoor'"
sleep 1
eval "$(xdotool getwindowgeometry --shell "$win")"
shot() { xwd -root -display "$DISPLAY" | convert xwd:- -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage "$outdir/$1"; }
rgb() { convert "$outdir/$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:; }
luma() { set -- $(rgb "$@"); echo $((($1 + $2 + $3) / 3)); }

# At 96 dpi the canvas lies between the 44- and 40-pixel strips, left of the
# 300-pixel panel; the picture is fitted into it.
panel=$((WIDTH - (WIDTH / 2 < 300 ? WIDTH / 2 : 300))) apply_y=$((HEIGHT - 40 - 14 - 4))
read -r zoom vx vy <<<"$(awk -v cw=$panel -v ch=$((HEIGHT - 84)) 'BEGIN { z = cw / 1800; if (ch / 1200 < z) z = ch / 1200
  printf "%.17g %d %d", z, int((cw - int(1800 * z + 0.5)) / 2), 44 + int((ch - int(1200 * z + 0.5)) / 2) }')"

xdotool mousemove --window "$win" $((WIDTH / 3)) $((HEIGHT / 2)) click --repeat 2 --delay 80 1
sleep 1
shot crop_mode.png
[ "$(rgb crop_mode.png $((panel + 20)) $apply_y)" = "76 154 255" ] || fail "no crop panel after the double click"
xdotool mousemove --window "$win" 200 200 mousedown 1 mousemove --window "$win" 320 300 \
  mousemove --window "$win" 500 420 mouseup 1
sleep 0.6
shot crop_selection.png
read -r sw sh L T <<<"$(awk -v z=$zoom -v vx=$vx -v vy=$vy 'BEGIN { x1 = int((200 - vx) / z); y1 = int((200 - vy) / z)
  printf "%d %d %d %d", int((500 - vx) / z) - x1, int((420 - vy) / z) - y1, vx + int(x1 * z), vy + int(y1 * z) }')"
echo "zoom $zoom, picture at $vx,$vy; selection $sw x $sh, frame at $L,$T"
for p in "100 500" "650 300" "300 120"; do  # outside: about 60 % of the picture's brightness
  set -- $p
  before=$(luma crop_mode.png $1 $2) after=$(luma crop_selection.png $1 $2)
  [ $((after * 255 - before * 153)) -le 1020 ] && [ $((before * 153 - after * 255)) -le 1020 ] ||
    fail "pixel $1,$2 not dimmed: $before -> $after"
done
for p in "250 240" "450 380"; do  # inside: untouched
  [ "$(rgb crop_mode.png $p)" = "$(rgb crop_selection.png $p)" ] || fail "pixel $p inside the selection changed"
done
[ "$(rgb crop_selection.png $((L + 30)) $T) / $(rgb crop_selection.png $((L + 30)) $((T + 1)))" = "0 0 0 / 255 255 255" ] ||
  fail "no two-tone frame at y $T"

save_as() {  # clicks "apply and save", answers the real save dialog, checks the file
  xdotool mousemove --window "$win" $((panel + 150)) $apply_y click 1
  dlg=$(find_window '另存为') || fail "no save dialog"
  sleep 0.5
  xdotool windowactivate --sync "$dlg" 2>/dev/null || xdotool windowfocus "$dlg"
  xdotool key --window "$dlg" ctrl+a
  xdotool type --window "$dlg" "$(winepath -w "$outdir/$1")"
  xdotool key --window "$dlg" Return
  for _ in $(seq 50); do [ -s "$outdir/$1" ] && break; sleep 0.2; done
  sleep 0.5
  local size bytes
  size=$(identify -format "%wx%h" "$outdir/$1" 2>/dev/null) bytes=$(stat -c %s "$outdir/$1" 2>/dev/null || echo 0)
  echo "$1: $size, $bytes bytes"
  [ "$size" = "$2" ] && [ "$bytes" -gt 1000 ] || fail "$1 is '$size' ($bytes bytes), expected $2"
}
save_as crop_free.jpg "${sw}x${sh}"

xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
xdotool key --window "$win" alt+F4
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "Veldmoor did not close"
wait $pid || { echo "FAIL: exit code $?"; exit 1; }
echo "PASS"
