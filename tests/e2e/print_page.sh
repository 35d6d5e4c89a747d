#!/usr/bin/env bash
# Prints a red | transparent | blue picture through the real print dialog to
# the "PDF" printer, then reads the page back with pdftoppm: the picture fills
# the printable width, is centred, its transparent third is white, and the
# page around it is white. Escape in the dialog prints nothing.
set -u
helper=$1
outdir=$2
mkdir -p "$outdir"
source "$(dirname "$0")/../../scripts/wine-env.sh"
veldmoor_start_xvfb

if ! lpstat -d 2>/dev/null | grep -q ': PDF$' || ! command -v pdftoppm >/dev/null; then
  echo "SKIP: no default PDF printer (scripts/test.sh sets one up)"
  exit 77
fi
pdfdir=$HOME/PDF
tag=vprint_$$
picture="$outdir/$tag.png"
convert -size 200x300 xc:red \( -size 200x300 xc:none \) \( -size 200x300 xc:blue \) +append "PNG32:$picture"
cleanup() { rm -f "$pdfdir/$tag".* "$picture"; }
trap cleanup EXIT

# Runs the helper, answers the print dialog with a key, echoes the exit code.
print_with_key() {
  wine "$helper" print "$(winepath -w "$picture")" </dev/null >"$outdir/print_$1.txt" 2>&1 &
  local pid=$! dlg=""
  for _ in $(seq 100); do
    dlg=$(xdotool search --name '^Print$' 2>/dev/null | head -1)
    [ -n "$dlg" ] && break
    sleep 0.2
  done
  if [ -z "$dlg" ]; then kill $pid 2>/dev/null; echo 0; return; fi
  sleep 0.5
  xdotool windowactivate --sync "$dlg" >/dev/null 2>&1 || xdotool windowfocus "$dlg" 2>/dev/null
  xdotool key --window "$dlg" "$1"
  wait $pid
  echo $?
}

code=$(print_with_key Escape)
[ "$code" = 4 ] || { echo "FAIL: Escape in the print dialog gave exit code $code, expected 4 (nothing sent)"; exit 1; }
sleep 3
if ls "$pdfdir/$tag".*pdf >/dev/null 2>&1; then echo "FAIL: a cancelled print produced a PDF"; exit 1; fi

code=$(print_with_key Return)
[ "$code" = 3 ] || { echo "FAIL: printing gave exit code $code: $(cat "$outdir/print_Return.txt")"; exit 1; }
pdf=""
for _ in $(seq 60); do
  pdf=$(ls "$pdfdir/$tag".*pdf 2>/dev/null | head -1)
  [ -n "$pdf" ] && break
  sleep 0.5
done
[ -n "$pdf" ] || { echo "FAIL: no PDF from the printer in $pdfdir"; exit 1; }
sleep 1
pages=$(pdfinfo "$pdf" | awk '/^Pages:/ {print $2}')
[ "$pages" = 1 ] || { echo "FAIL: expected one page, got $pages"; exit 1; }
pdftoppm -r 40 -singlefile "$pdf" "$outdir/page" || { echo "FAIL: pdftoppm"; exit 1; }

python3 - "$outdir/page.ppm" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
parts = data.split(maxsplit=4)
W, H = int(parts[1]), int(parts[2])
px = parts[4]
def at(x, y):
    i = (y * W + x) * 3
    return tuple(px[i:i + 3])
def white(c): return min(c) > 235
ink = [(x, y) for y in range(H) for x in range(W) if not white(at(x, y))]
if not ink:
    sys.exit("FAIL: the page is blank")
x0, x1 = min(p[0] for p in ink), max(p[0] for p in ink)
y0, y1 = min(p[1] for p in ink), max(p[1] for p in ink)
w, h = x1 - x0 + 1, y1 - y0 + 1
print(f"page {W} x {H}, picture {w} x {h} at {x0},{y0}")
fails = []
if w < 0.85 * W: fails.append("the picture does not fill the printable width")
if abs((x0 + x1) / 2 - W / 2) > 3: fails.append("not centred across")
if abs((y0 + y1) / 2 - H / 2) > 0.03 * H: fails.append("not centred down the page")
if abs(w / h - 2.0) > 0.08: fails.append(f"aspect {w / h:.2f}, expected 2")
cy = (y0 + y1) // 2
def near(c, ref): return all(abs(a - b) < 40 for a, b in zip(c, ref))
for name, fx, ref in (("left", 1 / 6, (255, 0, 0)), ("middle", 1 / 2, (255, 255, 255)), ("right", 5 / 6, (0, 0, 255))):
    c = at(int(x0 + fx * w), cy)
    if not near(c, ref): fails.append(f"{name} third is {c}, expected {ref}")
for y in list(range(0, max(y0 - 2, 0))) + list(range(min(y1 + 3, H), H)):
    if any(not white(at(x, y)) for x in range(0, W, 4)):
        fails.append(f"row {y} outside the picture is not white"); break
if fails:
    sys.exit("FAIL: " + "; ".join(fails))
PY
[ $? = 0 ] || exit 1
echo "PASS"
