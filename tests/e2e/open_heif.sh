#!/usr/bin/env bash
# The real window with phone pictures: a HEIC turned by its irot box, named on the command
# line, is shown upright (blue half on top) and copies as upright; then an AVIF dropped
# from outside replaces it.
set -u
source "$(dirname "$0")/begin.sh"
here=$(cd "$(dirname "$0")/../.." && pwd)
xdnd=$here/.deps/bin/xdnd_drop
for tool in heif-enc xclip; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing (scripts/setup.sh)"; exit 77; }
done
[ -x "$xdnd" ] || { echo "SKIP: the XDND client missing (scripts/setup.sh)"; exit 77; }
dir="$outdir/open_heif_$$"
tag=vheif$$
mkdir -p "$dir"
pid=""
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Stored 800 x 600, red left and blue right; a quarter turn anticlockwise puts blue on top.
convert -size 400x600 xc:'#e01010' -size 400x600 xc:'#1010e0' +append PNG24:"$dir/halves.png"
heif-enc -q 90 -o "$dir/stored.heic" "$dir/halves.png" >/dev/null
python3 "$here/tests/heif/add_transform.py" "$dir/stored.heic" "$dir/${tag}.heic" 1
convert -size 320x240 xc:"#f0e020" PNG24:"$dir/yellow.png"
heif-enc -A -q 90 -o "$dir/${tag}_drop.avif" "$dir/yellow.png" >/dev/null

pixel() {  # root X Y -> "r g b"
  import -window root -crop 1x1+$1+$2 -depth 8 txt:- 2>/dev/null | tail -1 | sed -E 's/.*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/'
}
is_colour() {  # "r g b" red|blue|yellow
  read -r r g b <<<"$1"
  case $2 in
    red) [ "$r" -gt 170 ] && [ "$g" -lt 80 ] && [ "$b" -lt 80 ] ;;
    blue) [ "$b" -gt 170 ] && [ "$r" -lt 80 ] && [ "$g" -lt 80 ] ;;
    yellow) [ "$r" -gt 170 ] && [ "$g" -gt 170 ] && [ "$b" -lt 100 ] ;;
  esac
}

wine "$exe" "$(winepath -w "$dir/${tag}.heic")" </dev/null >"$outdir/open_heif.txt" 2>&1 &
pid=$!
win=$(find_window "${tag}\.heic - Veldmoor") || fail "no window for the HEIC"
xdotool windowactivate --sync "$win" >/dev/null 2>&1
sleep 0.8
eval "$(xdotool getwindowgeometry --shell "$win")"
wx=$X wy=$Y
cx=$((wx + WIDTH / 2))
# The canvas lies between the 44-pixel title strip and the 40-pixel bottom strip.
top=$((wy + 44 + (HEIGHT - 84) / 4)) bottom=$((wy + 44 + (HEIGHT - 84) * 3 / 4))
is_colour "$(pixel $cx $top)" blue || fail "upper half is $(pixel $cx $top), not blue"
is_colour "$(pixel $cx $bottom)" red || fail "lower half is $(pixel $cx $bottom), not red"

dib_size() { xclip -selection clipboard -t image/bmp -o 2>/dev/null | od -An -t d4 -j 18 -N 8 | xargs; }
clip_is() { [ "$(dib_size)" = "$1" ]; }
key_until "$win" ctrl+c clip_is "600 800" || fail "clipboard holds '$(dib_size)', not the upright 600 x 800"

"$xdnd" "$win" $((wx + 550)) $((wy + 360)) "$dir/${tag}_drop.avif" || fail "the drop was not taken"
find_window "${tag}_drop\.avif - Veldmoor" >/dev/null || fail "the dropped AVIF did not open"
sleep 0.5
is_colour "$(pixel $cx $((wy + 44 + (HEIGHT - 84) / 2)))" yellow || fail "the dropped AVIF shows $(pixel $cx $((wy + HEIGHT / 2)))"

gone() { ! kill -0 $pid 2>/dev/null; }
key_until "$win" Escape gone || fail "Esc did not close the program"
wait $pid
pid=""
echo "PASS"
