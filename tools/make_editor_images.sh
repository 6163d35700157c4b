#!/usr/bin/env bash
# Writes the files of the palette tests: one of torv's own images
# (four2.bmp of the four-image sample), exported unedited by real editors as
# people export it. Packed with four.bin as the original, each must give
# four.bin back byte for byte. The files are committed; this script says how
# they were made (it needs GIMP's gimp-console and ImageMagick).
#   usage: tools/make_editor_images.sh [build-folder] [folder]   (default: build, tests/data/editors)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
out=$(mkdir -p "${2:-tests/data/editors}" && cd "${2:-tests/data/editors}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/make_samples" . >/dev/null
"$build/torv" four.bin ""

# GIMP 2.10: the image converted to RGB, then exported as a 16-bit BMP,
# R5G6B5 (rgb-format 0) and X1R5G5B5 (rgb-format 2). GIMP scales each
# channel to its bits: 248 becomes 30 of 31.
gimp-console -i -d -f -b - >/dev/null <<'SCHEME'
(define (save16 out format)
  (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE "four2.bmp" "four2.bmp")))
         (ignored (gimp-image-convert-rgb image))
         (drawable (car (gimp-image-get-active-drawable image))))
    (file-bmp-save2 RUN-NONINTERACTIVE image drawable out out 0 1 format)
    (gimp-image-delete image)))
(save16 "gimp-four2-r5g6b5.bmp" 0)
(save16 "gimp-four2-x1r5g5b5.bmp" 2)
(gimp-quit 0)
SCHEME

# ImageMagick 6: saved at five bits a channel (-depth 5), which cuts each
# channel to five bits and scales it back to eight: as an indexed BMP, and
# as an RGB PNG.
/usr/bin/convert four2.bmp -depth 5 BMP3:im-four2-depth5.bmp
/usr/bin/convert four2.bmp -depth 5 PNG24:im-four2-depth5.png

cp gimp-four2-r5g6b5.bmp gimp-four2-x1r5g5b5.bmp im-four2-depth5.bmp im-four2-depth5.png "$out/"
ls -l "$out"
