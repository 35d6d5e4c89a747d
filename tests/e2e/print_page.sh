#!/usr/bin/env bash
# Prints a red | transparent | blue picture through the real print dialog to the
# "PDF" printer and reads the page back: the picture fills the printable width,
# centred, its transparent third white, white around it. Escape prints nothing.
set -u
source "$(dirname "$0")/begin.sh"
helper=$exe
if ! lpstat -d 2>/dev/null | grep -q ': PDF$' || ! command -v pdftoppm >/dev/null; then
  echo "SKIP: no default PDF printer (scripts/test.sh sets one up)"
  exit 77
fi
# cups-pdf writes into the job owner's home from the user database, whatever $HOME says.
pdfdir=$(getent passwd "$(id -un)" | cut -d: -f6)/PDF
tag=vprint_$$
picture="$outdir/$tag.png"
convert -size 200x300 xc:red \( -size 200x300 xc:none \) \( -size 200x300 xc:blue \) +append "PNG32:$picture"
trap 'rm -f "$pdfdir/$tag".* "$picture"' EXIT

print_with_key() {  # answers the dialog with a key; prints the helper's exit code
  wine "$helper" "$(winepath -w "$picture")" </dev/null >"$outdir/$tag.txt" 2>&1 &
  local pid=$! dlg=""
  for _ in $(seq 100); do
    dlg=$(xdotool search --name '^Print$' 2>/dev/null | head -1) && [ -n "$dlg" ] && break
    sleep 0.2
  done
  key_until "$dlg" "$1" no_window_titled Print || kill $pid 2>/dev/null
  wait $pid
  echo $?
}

[ "$(print_with_key Escape)" = 4 ] || { echo "FAIL: Escape in the print dialog did not cancel"; exit 1; }
sleep 3
ls "$pdfdir/$tag".*pdf >/dev/null 2>&1 && { echo "FAIL: a cancelled print produced a PDF"; exit 1; }
[ "$(print_with_key Return)" = 3 ] || { echo "FAIL: not printed: $(cat "$outdir/$tag.txt")"; exit 1; }
pdf=""
for _ in $(seq 60); do
  pdf=$(ls "$pdfdir/$tag".*pdf 2>/dev/null | head -1) && [ -n "$pdf" ] && break
  sleep 0.5
done
[ -n "$pdf" ] || { echo "FAIL: no PDF in $pdfdir"; exit 1; }
sleep 1
[ "$(pdfinfo "$pdf" | awk '/^Pages:/ {print $2}')" = 1 ] || { echo "FAIL: expected one page"; exit 1; }
pdftoppm -r 40 -singlefile "$pdf" "$outdir/page" || exit 1
python3 - "$outdir/page.ppm" <<'PY' || exit 1
import sys
_, w_, h_, _, px = open(sys.argv[1], 'rb').read().split(maxsplit=4)
W, H = int(w_), int(h_)
at = lambda x, y: tuple(px[(y * W + x) * 3:(y * W + x) * 3 + 3])
white = lambda c: min(c) > 235
rows = [y for y in range(H) if any(not white(at(x, y)) for x in range(0, W, 2))]
cols = [x for x in range(W) if any(not white(at(x, y)) for y in range(0, H, 2))]
if not rows: sys.exit("FAIL: blank page")
x0, x1, y0, y1 = cols[0], cols[-1], rows[0], rows[-1]
w, h, cy = x1 - x0 + 1, y1 - y0 + 1, (y0 + y1) // 2
print(f"page {W} x {H}, picture {w} x {h} at {x0},{y0}")
near = lambda c, ref: all(abs(a - b) < 40 for a, b in zip(c, ref))
fails = [why for bad, why in (
    (w < 0.85 * W, "narrower than the printable width"), (abs(x0 + x1 - W) > 6, "not centred across"),
    (abs(y0 + y1 - H) > 0.06 * H, "not centred down"), (abs(w / h - 2) > 0.08, f"aspect {w / h:.2f}, not 2"),
    (not near(at(x0 + w // 6, cy), (255, 0, 0)), "left third not red"),
    (not near(at(x0 + w // 2, cy), (255, 255, 255)), "transparent third not white"),
    (not near(at(x0 + 5 * w // 6, cy), (0, 0, 255)), "right third not blue"),
    (len(rows) != h, "ink outside the picture")) if bad]
if fails: sys.exit("FAIL: " + "; ".join(fails))
PY
echo "PASS"
