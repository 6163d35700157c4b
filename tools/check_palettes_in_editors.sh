#!/usr/bin/env bash
# The palettes torv-project writes, as other programs see them: every .gpl
# that `unpack --palettes` writes for the samples is put in a fresh GIMP's
# palette folder, and gimp-console must list it under its name with all 256
# colours as the file holds them; ImageMagick reads each .act (256 RGB
# triples, then its count) as a raw 256x1 RGB image, and must see the same
# colours. (No program in Debian reads a JASC .pal without a window: the
# tests compare it with the .gpl line by line.)
#   usage: tools/check_palettes_in_editors.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/make_samples" "$work/game" >/dev/null
"$build/torv-project" unpack "$work/game" "$work/proj" --palettes -q
mkdir -p "$work/gimp"/{palettes,brushes,gradients,patterns,fonts}
find "$work/proj" -name '*.gpl' -exec cp {} "$work/gimp/palettes/" \;

# Each palette's colours as GIMP reads them: "name k r g b" a line.
script='(begin'
for file in "$work"/gimp/palettes/*.gpl; do
    name=$(basename "$file" .gpl)
    script+=" (let loop ((k 0)) (when (< k (car (gimp-palette-get-info \"$name\")))
      (let ((c (car (gimp-palette-entry-get-color \"$name\" k))))
        (gimp-message (string-append \"colour $name \" (number->string k) \" \" (number->string (car c)) \" \"
          (number->string (cadr c)) \" \" (number->string (caddr c)))))
      (loop (+ k 1))))"
done
script+=' (gimp-quit 0))'
GIMP2_DIRECTORY="$work/gimp" timeout 300 gimp-console -i -f --batch-interpreter=plug-in-script-fu-eval \
    -b "$script" 2>&1 | sed -n 's/^script-fu-Warning: colour //p' >"$work/gimp.txt"

# The same from the files.
for file in "$work"/gimp/palettes/*.gpl; do
    name=$(basename "$file" .gpl)
    awk -v name="$name" 'NR > 4 { print name, NR - 5, $1, $2, $3 }' "$file"
done >"$work/files.txt"
palettes=$(ls "$work"/gimp/palettes/*.gpl | wc -l)
if ! diff -q "$work/files.txt" "$work/gimp.txt" >/dev/null; then
    echo "GIMP reads the palettes otherwise:"
    diff "$work/files.txt" "$work/gimp.txt" | head -20
    exit 1
fi
echo "GIMP loads all $palettes palettes, $(wc -l <"$work/gimp.txt") colours as written"

for file in "$work"/gimp/palettes/*.gpl; do
    name=$(basename "$file" .gpl)
    act=$(find "$work/proj" -name "$name.act" | head -n 1)
    convert -size 256x1 -depth 8 "rgb:$act" txt:- |
        sed -n 's/^\([0-9]*\),0: (\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/\1 \2 \3 \4/p' |
        awk -v name="$name" '{ print name, $0 }'
done >"$work/magick.txt"
if ! diff -q "$work/files.txt" "$work/magick.txt" >/dev/null; then
    echo "ImageMagick reads the .act files otherwise:"
    diff "$work/files.txt" "$work/magick.txt" | head -20
    exit 1
fi
echo "ImageMagick reads all $palettes .act files, $(wc -l <"$work/magick.txt") colours as written"
