#!/usr/bin/env bash
# A camera folder of 200 pictures in the real program: opened at IMG_0150, Right
# shows IMG_0151 (past the old 64-entry queue); handed IMG_0200 by a second start,
# Right wraps to IMG_0001.
set -u
source "$(dirname "$0")/begin.sh"
dir="$outdir/whole_folder_$$"
mkdir -p "$dir"
convert -size 48x32 xc:'rgb(200,120,40)' -quality 90 "$dir/IMG_0001.jpg"
for i in $(seq 2 200); do cp "$dir/IMG_0001.jpg" "$dir/$(printf 'IMG_%04d.jpg' "$i")"; done
pid=""
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$dir"' EXIT

wine "$exe" "$(winepath -w "$dir/IMG_0150.jpg")" </dev/null >"$outdir/whole_folder.txt" 2>&1 &
pid=$!
win=$(find_window "IMG_0150\.jpg - Veldmoor") || exit 1
key_until "$win" Right window_titled "IMG_0151\.jpg - Veldmoor" || { echo "FAIL: Right did not show IMG_0151.jpg"; exit 1; }
wine "$exe" "$(winepath -w "$dir/IMG_0200.jpg")" </dev/null >>"$outdir/whole_folder.txt" 2>&1
find_window "IMG_0200\.jpg - Veldmoor" >/dev/null || { echo "FAIL: the hand-over did not show IMG_0200.jpg"; exit 1; }
key_until "$win" Right window_titled "IMG_0001\.jpg - Veldmoor" || { echo "FAIL: Right from IMG_0200 did not wrap to IMG_0001"; exit 1; }
key_until "$win" Left window_titled "IMG_0200\.jpg - Veldmoor" || { echo "FAIL: Left from IMG_0001 did not wrap to IMG_0200"; exit 1; }
xdotool key --window "$win" alt+F4 2>/dev/null
wait $pid
pid=""
echo "PASS"
