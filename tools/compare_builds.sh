#!/usr/bin/env bash
# Converts every sample file with the Linux build and with another build of
# the same sources, and compares the BMP files byte for byte; then packs them
# again with each build, with the original and without, and compares the
# packed files.
#   usage: tools/compare_builds.sh linux-build-folder other-build-folder windows|web
#     windows: torv.exe and torv-pack.exe, run through Wine ($WINE, default wine)
#     web:     torv.js and torv-pack.js, run through Node.js
set -euo pipefail
linux=$(cd "$1" && pwd)
other=$(cd "$2" && pwd)
kind=$3
case "$kind" in
    windows) run=("${WINE:-wine}"); torv="$other/torv.exe"; pack="$other/torv-pack.exe" ;;
    web) run=(node --no-experimental-fetch); torv="$other/torv.js"; pack="$other/torv-pack.js" ;;
    *) echo "usage: $0 linux-build other-build windows|web" >&2; exit 2 ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$linux/make_samples" "$work/linux" >/dev/null
cp -r "$work/linux" "$work/other"
# An empty drive argument gives plain names in the current folder on both.
(cd "$work/linux" && for source in *.bin; do "$linux/torv" "$source" ""; done)
(cd "$work/other" && for source in *.bin; do "${run[@]}" "$torv" "$source" ""; done)

(cd "$work/linux" && ls -- *.bmp) >"$work/linux.list"
(cd "$work/other" && ls -- *.bmp) >"$work/other.list"
if ! diff -u "$work/linux.list" "$work/other.list"; then
    echo "the two builds wrote different sets of files"
    exit 1
fi
count=0
while read -r name; do
    cmp "$work/linux/$name" "$work/other/$name"
    count=$((count + 1))
done <"$work/linux.list"
echo "$count BMP files, byte-identical from the Linux and the $kind build"

packed=0
for source in "$work"/linux/*.bin; do
    stem=$(basename "$source" .bin)
    for original in --like --no-like; do
        like=("$original")
        [ "$original" = --like ] && like+=("$stem.bin")
        (cd "$work/linux" && "$linux/torv-pack" -q -j 1 "${like[@]}" "$stem.bin" "" -o "$stem$original.out")
        (cd "$work/other" && "${run[@]}" "$pack" -q -j 1 "${like[@]}" "$stem.bin" "" -o "$stem$original.out")
        cmp "$work/linux/$stem$original.out" "$work/other/$stem$original.out"
        packed=$((packed + 1))
    done
done
echo "$packed packed files, byte-identical from the Linux and the $kind build"
