#!/usr/bin/env bash
# Starts Veldmoor.exe with a photo and checks the real window from outside:
# picture pixels in the canvas, the close button's hover colour, a tooltip that
# appears after its delay and goes with the pointer, Alt+F4 with exit code 0;
# then starts it without a picture and looks for the two hint lines.
set -u
source "$(dirname "$0")/begin.sh"

source "$(dirname "$0")/testdata.sh"
photo=$testdata/orientation/Landscape_1.jpg
pid=""
fail() { echo "FAIL: $*"; [ -n "$pid" ] && kill $pid 2>/dev/null; exit 1; }

# pixel FILE X Y -> "r g b"
pixel() {
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:
}
shot() { xwd -root -display "$DISPLAY" | convert xwd:- "$outdir/$1.png"; }
await_window() {
  win=$(find_window "$1") || fail "no window titled '$1'"
  eval "$(xdotool getwindowgeometry --shell "$win")"
}
close_window() {
  xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
  xdotool key --window "$win" alt+F4
  for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  kill -0 $pid 2>/dev/null && fail "Veldmoor did not close on Alt+F4"
  wait $pid
  code=$?
  echo "exit code $code"
  [ $code -eq 0 ] || { pid=""; fail "exit code $code"; }
  pid=""
}

xdotool mousemove 0 0
wine "$exe" "$photo" </dev/null >"$outdir/stdout.txt" 2>&1 &
pid=$!
await_window 'Landscape_1\.jpg - Veldmoor'
sleep 1.5
# The frame may still settle after the title shows: measure again before the shot.
eval "$(xdotool getwindowgeometry --shell "$win")"
shot picture
echo "window $WIDTH x $HEIGHT at $X,$Y"
# The X window is the client area: 1100 x 720 less the sizing border.
if [ "$WIDTH" -lt 1080 ] || [ "$WIDTH" -gt 1100 ] || [ "$HEIGHT" -lt 700 ] || [ "$HEIGHT" -gt 720 ]; then
  fail "expected a window of about 1100 x 720"
fi

# The photo (1800 x 1200) is fitted into the canvas between the 44-pixel title
# strip and the 40-pixel bottom strip; compare a few points with the photo itself.
cw=$WIDTH; ch=$((HEIGHT - 84))
read -r dw dh ox oy < <(awk -v cw=$cw -v ch=$ch 'BEGIN { z = cw / 1800; if (ch / 1200 < z) z = ch / 1200;
  if (z > 1) z = 1; dw = int(1800 * z + 0.5); dh = int(1200 * z + 0.5);
  printf "%d %d %d %d\n", dw, dh, int((cw - dw) / 2), 44 + int((ch - dh) / 2) }')
for f in "0.25 0.3" "0.7 0.75" "0.15 0.8"; do
  read -r fx fy <<<"$f"
  px=$(awk -v a=$fx -v d=$dw -v o=$ox 'BEGIN { printf "%d", o + a * d }')
  py=$(awk -v a=$fy -v d=$dh -v o=$oy 'BEGIN { printf "%d", o + a * d }')
  sx=$(awk -v a=$fx 'BEGIN { printf "%d", a * 1800 }')
  sy=$(awk -v a=$fy 'BEGIN { printf "%d", a * 1200 }')
  got=$(pixel "$outdir/picture.png" $((X + px)) $((Y + py)))
  want=$(convert "$photo" -crop 5x5+$((sx - 2))+$((sy - 2)) +repage -scale 1x1\! -format "%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]" info:)
  echo "canvas ($px,$py): $got; photo ($sx,$sy): $want"
  near "$got" "$want" 40 || fail "the canvas does not show the photo at ($px,$py)"
done

# Hovering the close button turns it red at once; its tooltip follows after 420 ms.
bx=$((X + WIDTH - 4 - 32 + 4)); by=$((Y + 22))
xdotool mousemove $((X + WIDTH - 20)) $((Y + 22))
sleep 0.15
shot hover
got=$(pixel "$outdir/hover.png" $bx $by)
echo "close button while hovered: $got"
near "$got" "196 43 28" 3 || fail "the close button is not red while hovered"
tip_x=$((X + WIDTH - 6 - 4)); tip_y=$((Y + 44 + 6 + 13))
tip_before=$(pixel "$outdir/hover.png" $tip_x $tip_y)
sleep 0.8
shot tooltip
tip_after=$(pixel "$outdir/tooltip.png" $tip_x $tip_y)
echo "tooltip spot before the delay: $tip_before, after: $tip_after"
near "$tip_before" "44 44 51" 4 && fail "the tooltip showed before its delay"
near "$tip_after" "44 44 51" 4 || fail "no tooltip after the delay"
xdotool mousemove 0 0
sleep 0.4
shot left
gone=$(pixel "$outdir/left.png" $tip_x $tip_y)
button=$(pixel "$outdir/left.png" $bx $by)
echo "after leaving: tooltip spot $gone, close button $button"
near "$gone" "44 44 51" 4 && fail "the tooltip stayed after the pointer left"
near "$button" "26 26 29" 3 || fail "the close button stayed highlighted"
close_window

# Without a picture: the two hint lines in the canvas, nothing at its centre.
wine "$exe" </dev/null >"$outdir/stdout2.txt" 2>&1 &
pid=$!
await_window 'Veldmoor'
sleep 1.5
shot empty
c=$(( (HEIGHT - 84) / 2 + 44 ))
centre=$(pixel "$outdir/empty.png" $((X + WIDTH / 2)) $((Y + c + 10)))
line1=$(convert "$outdir/empty.png" -crop ${WIDTH}x34+$X+$((Y + c - 34)) +repage -format "%[fx:int(255*maxima.r)]" info:)
line2=$(convert "$outdir/empty.png" -crop ${WIDTH}x22+$X+$((Y + c + 34)) +repage -format "%[fx:int(255*maxima.r)]" info:)
echo "empty canvas: centre $centre, brightest red in hint lines $line1 / $line2"
near "$centre" "26 26 29" 2 || fail "expected the dark background between the hint lines"
[ "$line1" -ge 100 ] && [ "$line2" -ge 100 ] || fail "the hint lines are missing"
close_window
echo "PASS"
