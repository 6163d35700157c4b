#!/usr/bin/env bash
# Writes the small image files that the BMP and PNG reader tests read, with
# real image writers: ImageMagick (convert), Pillow (python3-pil) and GIMP. All hold
# the same 16x12 picture of six colours; the tests know it by its formula.
# The files are committed; this script says how they were made.
#   usage: tools/make_reader_images.sh [folder]   (default: tests/data/readers)
set -euo pipefail
out=${1:-tests/data/readers}
mkdir -p "$out"
cd "$out"
PY=/usr/bin/python3

"$PY" - <<'PYTHON'
from PIL import Image
colours = [(0, 0, 0), (248, 248, 248), (248, 0, 0), (0, 200, 0), (16, 32, 240), (120, 64, 8)]
W, H = 16, 12
def index(x, y):
    return x % 6 if y == 0 else (x * 3 + y * 5 + (x * y) % 4) % 6
pixels = [index(x, y) for y in range(H) for x in range(W)]
flat = sum(colours, ())
p = Image.new('P', (W, H)); p.putpalette(flat); p.putdata(pixels)
p.save('source.png')                                   # the picture all others come from
p.save('pil-p8.bmp')                                   # Pillow: 8-bit BMP, 40-byte header
p.save('pil-p.png')                                    # Pillow: indexed PNG, six-entry palette
p.save('pil-p4.png', bits=4)                           # Pillow: 4-bit indexed PNG
rgb = p.convert('RGB')
rgb.save('pil-rgb24.bmp')                              # Pillow: 24-bit BMP
rgb.save('pil-rgb.png')                                # Pillow: RGB PNG
rgba = p.convert('RGBA')
rgba.save('pil-rgba.png')                              # Pillow: RGBA PNG, every pixel opaque
rgba.putpixel((3, 2), (248, 0, 0, 128))
rgba.save('pil-rgba-translucent.png')                  # one pixel half transparent: refused
p.save('pil-p-translucent.png', transparency=bytes([255, 255, 255, 128, 255, 255]))  # entry 3 half transparent: refused
two = Image.new('P', (W, H)); two.putpalette([0, 0, 0, 248, 248, 248])
two.putdata([(x + y) % 2 for y in range(H) for x in range(W)])
two.save('pil-two.png', bits=1)                        # a 1-bit picture (checkerboard)
grey = Image.new('L', (W, H)); grey.putdata([16 * ((x + y) % 16) for y in range(H) for x in range(W)])
grey.save('pil-grey.png')                              # Pillow: grey PNG (ramp)
PYTHON

# ImageMagick: RLE8 with the 40-byte header, OS/2's 12-byte header, the V5
# header, 24-bit, 32-bit with an alpha bit-field mask, 4-bit and 1-bit files
# (it picks the fewest bits that hold the colours, so six colours are 4-bit).
convert source.png -compress RLE BMP3:im-bmp3-rle8.bmp
convert source.png BMP2:im-os2-8.bmp
convert source.png -compress none BMP:im-v5-4.bmp
convert source.png -type TrueColor BMP3:im-24.bmp
convert source.png -type TrueColorAlpha BMP:im-v5-32-alpha.bmp
convert source.png -compress none BMP3:im-bmp3-4.bmp
convert pil-two.png -compress none -type Palette -colors 2 BMP3:im-bmp3-1.bmp
rm -f im-bmp3-8.bmp im-v5-8.bmp

# GIMP (gimp-console): 16-bit exports, RGB565 and RGB555, each with a 56-byte
# header and bit-field masks. GIMP rounds each channel to its bits.
gimp-console -i -d -f -b - >/dev/null <<'SCHEME'
(define (save16 out format)
  (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE "source.png" "source.png")))
         (ignored (gimp-image-convert-rgb image))
         (drawable (car (gimp-image-get-active-drawable image))))
    (file-bmp-save2 RUN-NONINTERACTIVE image drawable out out 0 1 format)
    (gimp-image-delete image)))
(save16 "gimp-rgb565.bmp" 0)
(save16 "gimp-rgb555.bmp" 2)
(gimp-quit 0)
SCHEME
ls -l
