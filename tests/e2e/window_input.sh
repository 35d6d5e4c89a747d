#!/usr/bin/env bash
# Drives the real window from outside: zoom keys and a wheel notch (the picture
# point under the pointer stays put), a left-drag pan, paging keys, F11 and Esc,
# Ctrl+C read back with xclip, a rotation from the main menu and a real XDND drop.
set -u
source "$(dirname "$0")/begin.sh"
here=$(cd "$(dirname "$0")/../.." && pwd)
xdnd=$here/.deps/bin/xdnd_drop
command -v xclip >/dev/null && [ -x "$xdnd" ] || { echo "SKIP: xclip or the XDND client missing (scripts/setup.sh)"; exit 77; }
dir="$outdir/window_input_$$"
tag=vwin$$
mkdir -p "$dir/other"
# Red follows x and green follows y, so a colour names its picture point.
convert -size 1600x1000 gradient:black-lime \( -size 1000x1600 gradient:black-red -rotate -90 \) \
  -compose plus -composite "$dir/${tag}_1.png"
convert -size 64x48 xc:blue "$dir/${tag}_2.png"
convert -size 64x48 xc:yellow "$dir/other/${tag}_drop.png"
pid=""
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

pixel() {  # root X Y -> "r g b"
  import -window root -crop 1x1+$1+$2 -depth 8 txt:- 2>/dev/null | tail -1 | sed -E 's/.*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/'
}
settle() { sleep 0.4; }
geometry() { xdotool getwindowgeometry --shell "$win" | grep -E '^(X|Y|WIDTH|HEIGHT)=' | tr '\n' ' '; }

wine "$exe" "$(winepath -w "$dir/${tag}_1.png")" </dev/null >"$outdir/window_input.txt" 2>&1 &
pid=$!
win=$(find_window "${tag}_1\.png - Veldmoor") || exit 1
xdotool windowactivate --sync "$win" >/dev/null 2>&1
settle
eval "$(xdotool getwindowgeometry --shell "$win")"
wx=$X wy=$Y
px=$((wx + 250)) py=$((wy + 150))   # well left of and above the canvas centre
mx=$((wx + 550)) my=$((wy + 380))

fit=$(pixel $px $py)
xdotool mousemove $px $py click 4
settle
near "$(pixel $px $py)" "$fit" 6 || fail "wheel moved the point under the pointer: $fit -> $(pixel $px $py)"
at_fit() { near "$(pixel $px $py)" "$fit" 2; }
zoomed() { ! near "$(pixel $px $py)" "$fit" 6; }
key_until "$win" 0 at_fit || fail "0 did not fit again"
for k in equal minus 1; do
  key_until "$win" $k zoomed || fail "key $k did not zoom"
  key_until "$win" 0 at_fit || fail "0 did not fit again"
done

xdotool mousemove $mx $my mousedown 1 mousemove $((mx + 30)) $((my + 20)) mousemove $((mx + 60)) $((my + 40)) mouseup 1
settle
near "$(pixel $((px + 60)) $((py + 40)))" "$fit" 6 || fail "left drag did not pan the picture by the drag"
key_until "$win" 0 at_fit || fail "0 did not fit again"

key_until "$win" Right window_titled "${tag}_2\.png - Veldmoor" || fail "Right did not page"
key_until "$win" Left window_titled "${tag}_1\.png - Veldmoor" || fail "Left did not page back"

before=$(geometry)
full() { eval "$(xdotool getwindowgeometry --shell "$win")"; [ "$WIDTH" = 1600 ] && [ "$HEIGHT" = 1000 ]; }
restored() { [ "$(geometry)" = "$before" ]; }
key_until "$win" F11 full || fail "F11 did not fill the screen"
key_until "$win" Escape restored || fail "Esc did not restore the window: $(geometry) vs $before"
kill -0 $pid 2>/dev/null || fail "Esc in full screen closed the program"

dib_size() {  # clipboard picture's width and height from the BMP header
  xclip -selection clipboard -t image/bmp -o 2>/dev/null | od -An -t d4 -j 18 -N 8 | xargs
}
clip_is() { [ "$(dib_size)" = "$1" ]; }
key_until "$win" ctrl+c clip_is "1600 1000" || fail "clipboard holds '$(dib_size)'"

xdotool mousemove $((wx + 1100 - 134)) $((wy + 22)) click 1
sleep 0.6
import -window root "$outdir/window_input_menu.png" 2>/dev/null  # xwd would show the menu black
xdotool key Down Down Down Down Down Down Return
settle
key_until "$win" ctrl+c clip_is "1000 1600" || fail "rotation from the main menu gave '$(dib_size)'"

"$xdnd" "$win" $((wx + 550)) $((wy + 360)) "$dir/other/${tag}_drop.png" || fail "the drop was not taken"
find_window "${tag}_drop\.png - Veldmoor" >/dev/null || exit 1

gone() { ! kill -0 $pid 2>/dev/null; }
key_until "$win" Escape gone || fail "Esc did not close the program"
wait $pid
pid=""
echo "PASS"
