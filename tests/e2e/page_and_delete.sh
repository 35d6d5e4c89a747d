#!/usr/bin/env bash
# Opens the fourth of five pictures in the real program, pages with Right three
# times (wrapping from the last to the first), then deletes with Delete and
# "y": the shown file goes to the recycle bin and the next one is shown.
set -u
exe=$1
outdir=$2
source "$(dirname "$0")/../../scripts/wine-env.sh"
veldmoor_start_xvfb

dir="$outdir/page_and_delete_$$"
rm -rf "$dir"
mkdir -p "$dir"
tag=vnav$$
for i in 1 2 3 4 5; do convert -size 64x48 "xc:rgb($((i * 40)),90,160)" "$dir/${tag}_$i.png"; done
trash=${XDG_DATA_HOME:-$HOME/.local/share}/Trash
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -f "$trash/files/${tag}_"* "$trash/info/${tag}_"*
  rm -rf "$dir"
}
trap cleanup EXIT

wait_title() {
  for _ in $(seq 75); do
    xdotool search --name "^$1 - Veldmoor\$" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  echo "FAIL: no window titled '$1 - Veldmoor'"
  exit 1
}

wine "$exe" "$(winepath -w "$dir/${tag}_4.png")" </dev/null >"$outdir/page_and_delete.txt" 2>&1 &
pid=$!
wait_title "${tag}_4\.png"
win=$(xdotool search --name "^${tag}_4\.png - Veldmoor\$" | head -1)
xdotool windowactivate --sync "$win" >/dev/null 2>&1 || xdotool windowfocus "$win" 2>/dev/null
for expected in 5 1 2; do
  xdotool key --window "$win" Right
  wait_title "${tag}_$expected\.png"
done

xdotool key --window "$win" Delete
box=""
for _ in $(seq 50); do
  box=$(xdotool search --name '^删除图片$' 2>/dev/null | head -1)
  [ -n "$box" ] && break
  sleep 0.2
done
[ -n "$box" ] || { echo "FAIL: no delete question"; exit 1; }
sleep 0.3
xdotool windowactivate --sync "$box" >/dev/null 2>&1 || xdotool windowfocus "$box" 2>/dev/null
xdotool key --window "$box" y
wait_title "${tag}_3\.png"
[ -e "$dir/${tag}_2.png" ] && { echo "FAIL: ${tag}_2.png is still in its folder"; exit 1; }
[ -e "$trash/files/${tag}_2.png" ] || { echo "FAIL: ${tag}_2.png is not in $trash/files"; exit 1; }
for i in 1 3 4 5; do
  [ -e "$dir/${tag}_$i.png" ] || { echo "FAIL: ${tag}_$i.png went too"; exit 1; }
done

xdotool key --window "$win" alt+F4
for _ in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
wait $pid
pid=""
echo "PASS"
