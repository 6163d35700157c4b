#!/usr/bin/env bash
# Converts every sample file with the Linux build and with the Windows build
# (run through Wine) and compares the BMP files byte for byte; then packs
# them again with each build, with the original and without, and compares
# the packed files.
#   usage: tools/compare_windows_build.sh linux-build-folder windows-build-folder
set -euo pipefail
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
wine=${WINE:-wine}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$linux/make_samples" "$work/linux"
cp -r "$work/linux" "$work/windows"
# An empty drive argument gives plain names in the current folder on both.
(cd "$work/linux" && for source in *.bin; do "$linux/torv" "$source" ""; done)
(cd "$work/windows" && for source in *.bin; do "$wine" "$windows/torv.exe" "$source" ""; done)

(cd "$work/linux" && ls -- *.bmp) >"$work/linux.list"
(cd "$work/windows" && ls -- *.bmp) >"$work/windows.list"
if ! diff -u "$work/linux.list" "$work/windows.list"; then
    echo "the two builds wrote different sets of files"
    exit 1
fi
count=0
while read -r name; do
    cmp "$work/linux/$name" "$work/windows/$name"
    count=$((count + 1))
done <"$work/linux.list"
echo "$count BMP files, byte-identical from the Linux and the Windows build"

packed=0
for source in "$work"/linux/*.bin; do
    stem=$(basename "$source" .bin)
    for original in --like --no-like; do
        like=("$original")
        [ "$original" = --like ] && like+=("$stem.bin")
        (cd "$work/linux" && "$linux/torv-pack" -q "${like[@]}" "$stem.bin" "" -o "$stem$original.out")
        (cd "$work/windows" && "$wine" "$windows/torv-pack.exe" -q "${like[@]}" "$stem.bin" "" -o "$stem$original.out")
        cmp "$work/linux/$stem$original.out" "$work/windows/$stem$original.out"
        packed=$((packed + 1))
    done
done
echo "$packed packed files, byte-identical from the Linux and the Windows build"
