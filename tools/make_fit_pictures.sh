#!/usr/bin/env bash
# The before-and-after pictures of docs/: a part of a corpus picture (made
# by tools/make_fit_corpus.sh) as given, as the most colours ImageMagick
# gives it that still fit a single_picture_block, and as torv-pack --fit
# packs it, side by side (bench/fit_bench measures them).
#   usage: tools/make_fit_pictures.sh CORPUS BUILD_DIR OUT_DIR
#   needs: imagemagick, fonts-dejavu-core (Debian's packages)
set -euo pipefail
corpus=$(realpath "${1:?usage: tools/make_fit_pictures.sh CORPUS BUILD_DIR OUT_DIR}")
build=$(realpath "${2:?usage: tools/make_fit_pictures.sh CORPUS BUILD_DIR OUT_DIR}")
out=$(realpath "${3:?usage: tools/make_fit_pictures.sh CORPUS BUILD_DIR OUT_DIR}")
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What torv shows of a picture packed as a single_picture_block.
shown() {  # picture packed_name options...
    local picture=$1 name=$2
    shift 2
    rm -rf "$work/p" && mkdir "$work/p"
    cp "$picture" "$work/p/x.png"
    (cd "$work/p" && "$build/torv-pack" --no-like --layout single_picture_block -q -o x.bin "$@" x '' &&
        rm x.png && "$build/torv" x.bin '' && mv x.bmp "$work/$name.bmp")
}

# picture, crop (WxH+X+Y)
for each in "astronaut 256x192+200+40" "chelsea 256x192+160+120" "motorcycle_left 256x192+300+180"; do
    read -r name crop <<<"$each"
    given="$corpus/$name.png"
    for colours in 256 128 64 32 16; do
        convert "$given" -dither None -colors "$colours" "PNG8:$work/user.png"
        shown "$work/user.png" user 2>/dev/null && break
    done
    shown "$given" fit --fit
    labels=("given (true colour)" "the most colours that fit: $colours" "--fit")
    for part in given user fit; do
        source=$given
        [ "$part" = given ] || source="$work/$part.bmp"
        convert "$source" -crop "$crop" +repage "$work/$part-crop.png"
    done
    montage -font "$font" -pointsize 13 -label "${labels[0]}" "$work/given-crop.png" \
        -label "${labels[1]}" "$work/user-crop.png" -label "${labels[2]}" "$work/fit-crop.png" \
        -tile 3x1 -geometry +4+4 "PNG24:$out/fit-$name.png"
    echo "$out/fit-$name.png: ${labels[*]}"
done
