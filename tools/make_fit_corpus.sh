#!/usr/bin/env bash
# The pictures bench/fit_bench measures --fit on, none drawn here: the colour
# pictures of Debian's python3-skimage data and ImageMagick's built-in
# images, each scaled to 640x480 in true colour.
#   usage: tools/make_fit_corpus.sh FOLDER
#   needs: python3-skimage, imagemagick (Debian's packages)
set -euo pipefail
folder=${1:?usage: tools/make_fit_corpus.sh FOLDER}
data=/usr/lib/python3/dist-packages/skimage/data
[ -d "$data" ] || { echo "no $data: apt-get install python3-skimage"; exit 1; }
mkdir -p "$folder"
for picture in astronaut.png chelsea.png coffee.png rocket.jpg motorcycle_left.png retina.jpg \
    hubble_deep_field.jpg ihc.png color.png logo.png; do
    convert "$data/$picture" -alpha off -resize '640x480!' -type TrueColor "PNG24:$folder/${picture%.*}.png"
done
for builtin in rose wizard logo granite netscape; do
    convert "$builtin:" -alpha off -resize '640x480!' -type TrueColor "PNG24:$folder/im_$builtin.png"
done
ls "$folder"
