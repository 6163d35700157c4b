#!/usr/bin/env bash
# Writes one sample source file per layout into a folder, converts each of
# them there with torv and lists the BMP files written.
#   usage: tools/convert_samples.sh [build-folder] [sample-folder]
set -euo pipefail
build=${1:-build}
folder=${2:-samples}

"$build/make_samples" "$folder"
torv="$(cd "$build" && pwd)/torv"
cd "$folder"
rm -f -- *.bmp
for source in *.bin; do
    # An empty drive argument gives plain names (triple0.bmp, ...) in this
    # folder; on Windows a drive letter such as d would write to D:.
    "$torv" "$source" ""
done
ls -l -- *.bmp
