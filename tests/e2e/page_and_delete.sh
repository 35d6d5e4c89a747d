#!/usr/bin/env bash
# Opens the fourth of five pictures in the real program, pages with Right three
# times (wrapping from the last to the first), then deletes with Delete and
# "y": the shown file goes to the recycle bin and the next one is shown.
set -u
source "$(dirname "$0")/begin.sh"
dir="$outdir/page_and_delete_$$"
tag=vnav$$
trash=${XDG_DATA_HOME:-$HOME/.local/share}/Trash
mkdir -p "$dir"
for i in 1 2 3 4 5; do convert -size 64x48 "xc:rgb($((i * 40)),90,160)" "$dir/${tag}_$i.png"; done
pid=""
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$dir" "$trash/files/${tag}_"* "$trash/info/${tag}_"*' EXIT


wine "$exe" "$(winepath -w "$dir/${tag}_4.png")" </dev/null >"$outdir/page_and_delete.txt" 2>&1 &
pid=$!
win=$(find_window "${tag}_4\.png - Veldmoor") || exit 1
for expected in 5 1 2; do
  key_until "$win" Right window_titled "${tag}_$expected\.png - Veldmoor" ||
    { echo "FAIL: Right did not show ${tag}_$expected.png"; exit 1; }
done
key_until "$win" Delete window_titled '删除图片' || { echo "FAIL: Delete asked nothing"; exit 1; }
box=$(find_window '删除图片') || exit 1
key_until "$box" y window_titled "${tag}_3\.png - Veldmoor" || { echo "FAIL: y did not show ${tag}_3.png"; exit 1; }
[ -e "$trash/files/${tag}_2.png" ] && [ ! -e "$dir/${tag}_2.png" ] || { echo "FAIL: ${tag}_2.png not recycled"; exit 1; }
for i in 1 3 4 5; do [ -e "$dir/${tag}_$i.png" ] || { echo "FAIL: ${tag}_$i.png went too"; exit 1; }; done
xdotool key --window "$win" alt+F4 2>/dev/null
wait $pid
pid=""
echo "PASS"
