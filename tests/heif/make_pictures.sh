#!/usr/bin/env bash
# Makes the HEIC and AVIF test pictures with the native heif-enc (Debian's libheif-examples,
# the same libheif version as ours) and heif-convert's PNG of each, to compare our decode with.
# make_pictures.sh OUT_DIR [TESTDATA_DIR]. Kept between runs while this script is unchanged.
set -euo pipefail
out=$1
testdata=${VELDMOOR_TESTDATA:-${2:-}}
here=$(cd "$(dirname "$0")" && pwd)
stamp=$out/.made
if [ -f "$stamp" ] && [ "$stamp" -nt "$0" ] && [ "$stamp" -nt "$here/add_transform.py" ] &&
   [ "$stamp" -nt "$here/make_grid.py" ]; then exit 0; fi
for tool in heif-enc heif-convert convert python3; do
  command -v $tool >/dev/null || { echo "missing $tool (scripts/setup.sh installs it)"; exit 1; }
done
rm -rf "$out"
mkdir -p "$out"
cd "$out"

# Synthetic pictures: 8-bit colour, 16-bit colour for 10 and 12 bits, colour with varying alpha.
# Odd sizes, so chroma subsampling meets a ragged edge.
convert -size 257x171 -seed 7 plasma:fractal -blur 0x1 -depth 8 PNG24:syn8.png
convert -size 257x171 gradient:'#102040-#f0c080' \( -size 257x171 gradient:'#ff0000-#0000ff' -rotate 90 \
  -resize 257x171! \) -compose blend -define compose:args=50 -composite -depth 16 PNG48:syn16.png
convert -size 200x131 -seed 3 plasma:fractal \( -size 131x200 gradient:white-black -rotate 90 \) \
  -alpha off -compose copy_opacity -composite PNG32:alpha.png

heif-enc -q 90 -o h8.heic syn8.png
heif-enc -A -q 90 -o a8.avif syn8.png
heif-enc -q 90 -b 10 -o h10.heic syn16.png
# Debian's aom asserts on 10-bit 4:2:0 and 4:4:4 here; 4:2:2 goes through.
heif-enc -A -q 90 -b 10 -p chroma=422 -o a10.avif syn16.png
heif-enc -A -q 90 -b 12 -o a12.avif syn16.png
heif-enc -q 90 -o alpha.heic alpha.png
heif-enc -A -q 90 -o alpha.avif alpha.png
# Stored premultiplied: a flat colour at half alpha, kept as (100, 50, 25) in the file.
convert -size 64x48 xc:'rgba(100,50,25,0.5)' PNG32:premul.png
heif-enc -q 90 --premultiplied-alpha -o premul.heic premul.png
# Turned a quarter anticlockwise; turned three quarters and mirrored.
python3 "$here/add_transform.py" h8.heic rot.heic 1
python3 "$here/add_transform.py" h8.heic rotmir.heic 3 1
python3 "$here/add_transform.py" a8.avif rot.avif 1
# Even sides, so no grid: one coded picture, its colours by the bitstream's description
# (BT.601), or by a colour box that says otherwise (BT.709; BT.709 in limited range).
convert syn8.png -crop 256x170+0+0 +repage PNG24:even.png
heif-enc -q 90 -o even.heic even.png
python3 "$here/add_transform.py" even.heic box709.heic - nclx:1:1
python3 "$here/add_transform.py" even.heic box709limited.heic - nclx:1:0
# A grid of 2 x 2 tiles of 256 x 192, cropped to 500 x 380 as the grid item says.
convert -size 512x384 -seed 11 plasma:fractal -blur 0x1 PNG24:big.png
for r in 0 1; do for c in 0 1; do convert big.png -crop 256x192+$((c * 256))+$((r * 192)) +repage PNG24:tile$r$c.png; done; done
heif-enc -q 90 -o tiles.heic tile00.png tile01.png tile10.png tile11.png
python3 "$here/make_grid.py" tiles.heic grid.heic 2 2 500 380
rm tiles.heic

# A camera photo, smaller, with its EXIF block; the HEIC gets a thumbnail item.
if [ -n "$testdata" ] && [ -f "$testdata/camera/iphone6.jpg" ]; then
  convert "$testdata/camera/iphone6.jpg" -resize 1632x1224 -quality 92 camera.jpg
  heif-enc -q 80 -t 320 -o camera.heic camera.jpg
  heif-enc -A -q 70 -o camera.avif camera.jpg
  # The phone's own HEIC is a grid of 48 tiles.
  heif-convert "$testdata/camera/iphone13.HEIC" iphone13.png >/dev/null
fi

for f in *.heic *.avif; do heif-convert "$f" "$f.png" >/dev/null; done
touch "$stamp"
