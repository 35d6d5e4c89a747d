#!/usr/bin/env bash
# Work started from the real window's menus: compress a photo to 200 KB through
# the canvas menu, the compression menu, the export dialog and the save dialog;
# print it to the PDF printer from the main menu; add the program to the
# open-with list from the main menu and read the registry back.
set -u
source "$(dirname "$0")/begin.sh"
source "$(dirname "$0")/testdata.sh"
if ! lpstat -d 2>/dev/null | grep -q ': PDF$'; then
  echo "SKIP: no default PDF printer (scripts/test.sh sets one up)"
  exit 77
fi
dir="$outdir/menu_jobs_$$"
tag=vjob$$
mkdir -p "$dir"
cp "$testdata/camera/iphone6.jpg" "$dir/$tag.jpg"
pdfdir=$(getent passwd "$(id -un)" | cut -d: -f6)/PDF
app_key='HKCU\Software\Classes\Applications\Veldmoor.exe'
unregister() {  # the menu offers "add" only while the program is not registered
  for k in "$app_key" 'HKCU\Software\Classes\Veldmoor.jpg'; do wine reg delete "$k" /f </dev/null >/dev/null 2>&1; done
}
unregister
pid=""
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$dir" "$pdfdir/$tag"*; unregister' EXIT
fail() { echo "FAIL: $*"; exit 1; }

keys() { sleep 0.6; xdotool key "$@" 2>/dev/null; }
answer() {  # window title, keys
  local w
  w=$(find_window "$1") || exit 1
  sleep 0.5
  xdotool windowactivate --sync "$w" >/dev/null 2>&1
  shift
  xdotool key --window "$w" "$@" 2>/dev/null
}
main_menu() { xdotool mousemove $((wx + 1100 - 134)) $((wy + 22)) click 1; }

wine "$exe" "$(winepath -w "$dir/$tag.jpg")" </dev/null >"$outdir/menu_jobs.txt" 2>&1 &
pid=$!
win=$(find_window "$tag\.jpg - Veldmoor") || exit 1
xdotool windowactivate --sync "$win" >/dev/null 2>&1
eval "$(xdotool getwindowgeometry --shell "$win")"
wx=$X wy=$Y

# Canvas menu: open, convert, compress; then the 200 KB preset.
xdotool mousemove $((wx + 550)) $((wy + 360)) click 3
keys Down Down Down Return
keys Down Down Return
answer '压缩图片' Return
out="$dir/small_$tag.jpg"
answer '另存为' ctrl+a
xdotool type --delay 20 "$(winepath -w "$out")" 2>/dev/null
keys Return
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.2; done
sleep 0.5
size=$(stat -c %s "$out" 2>/dev/null || echo 0)
[ "$size" -gt 100000 ] && [ "$size" -le 204800 ] || fail "compressed file has $size bytes"
identify "$out" >/dev/null 2>&1 || fail "compressed file is no JPEG"

main_menu
keys Down Down Return
answer 'Print' Return
pdf=""
for _ in $(seq 60); do
  pdf=$(ls "$pdfdir/$tag"*pdf 2>/dev/null | head -1) && [ -n "$pdf" ] && break
  sleep 0.5
done
[ -n "$pdf" ] || fail "no PDF in $pdfdir"

main_menu
keys $(printf 'Down %.0s' $(seq 14)) Return
answer 'Veldmoor' Return
sleep 0.5
wine reg query "$app_key" </dev/null >/dev/null 2>&1 &&
  wine reg query 'HKCU\Software\Classes\Veldmoor.jpg' </dev/null >/dev/null 2>&1 || fail "open-with entry missing after the menu command"

gone() { ! kill -0 $pid 2>/dev/null; }
key_until "$win" Escape gone || fail "Esc did not close the program"
wait $pid
pid=""
echo "PASS"
