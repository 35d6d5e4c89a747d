#!/usr/bin/env bash
# Types two quoted names into the real multi-selection open dialog and expects
# the two full paths back, in the order typed.
set -u
helper=$(realpath "$1")
mkdir -p "$2"; outdir=$(realpath "$2")
source "$(dirname "$0")/../../scripts/wine-env.sh"
veldmoor_start_xvfb

dir="$outdir/open_multi_$$"
rm -rf "$dir"
mkdir -p "$dir"
trap 'rm -rf "$dir"' EXIT
for n in a b c; do convert -size 16x16 xc:gray "$dir/$n.jpg"; done

(cd "$dir" && wine "$helper" open </dev/null >"$outdir/open_multi.txt" 2>/dev/null) &
pid=$!
dlg=""
for _ in $(seq 100); do
  dlg=$(xdotool search --name '^打开图片（可多选）$' 2>/dev/null | head -1)
  [ -n "$dlg" ] && break
  sleep 0.2
done
[ -n "$dlg" ] || { echo "FAIL: no open dialog"; kill $pid; exit 1; }
sleep 0.5
xdotool windowactivate --sync "$dlg" >/dev/null 2>&1 || xdotool windowfocus "$dlg" 2>/dev/null
# xdotool types a double quote as a single one on this server: send the key.
xdotool key --window "$dlg" quotedbl
xdotool type --window "$dlg" "c.jpg"
xdotool key --window "$dlg" quotedbl space quotedbl
xdotool type --window "$dlg" "a.jpg"
xdotool key --window "$dlg" quotedbl Return
wait $pid
code=$?
[ $code = 3 ] || { echo "FAIL: exit code $code"; cat "$outdir/open_multi.txt"; exit 1; }
win=$(winepath -w "$dir" | tr -d '\r')
expected=$(printf '2\n%s\\c.jpg\n%s\\a.jpg' "$win" "$win")
got=$(tr -d '\r' <"$outdir/open_multi.txt")
if [ "$got" != "$expected" ]; then
  echo "FAIL: expected"; echo "$expected"; echo "got"; echo "$got"
  exit 1
fi
echo "PASS"
