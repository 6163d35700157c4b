#!/usr/bin/env bash
# Runs each fuzz target for a bounded time, seeded from the sample files.
# Fails on any finding; the input that caused it is left in FOLDER/findings.
#   usage: fuzz/run_fuzzers.sh [fuzz-build-folder] [seconds-per-target]
#   TORV_FUZZ_ONLY="manifest bps" runs only those targets.
set -euo pipefail
build=$(cd "${1:-build-fuzz}" && pwd)
seconds=${2:-60}
# A normal run of torv needs well under a megabyte at a time beyond the canvas
# and the BMP buffer: no single allocation may pass 1 MiB, and the whole
# process, sanitizers and fuzzer included, stays within a fixed budget. The
# image readers may hold a whole 640x480 picture of four bytes a pixel, and
# packing a whole decoded block of an original; their limits say so.
rss_limit=128
malloc_limit() { # target
    case "$1" in
        image | zip | bps) echo 4 ;;
        pack | api | manifest | fit) echo 16 ;;
        *) echo 1 ;;
    esac
}
# A small quarantine: AddressSanitizer's default one alone would pass the
# budget above.
export ASAN_OPTIONS=quarantine_size_mb=16:detect_leaks=1

work="$build/fuzzing"
mkdir -p "$work/findings"
rm -rf "$work/seeds"
targets=(decode convert encode image pack api manifest bps batch zip fit)
[ -n "${TORV_FUZZ_ONLY:-}" ] && read -r -a run_only <<<"$TORV_FUZZ_ONLY" || run_only=("${targets[@]}")
for target in "${targets[@]}"; do
    mkdir -p "$work/seeds/$target" "$work/corpus/$target"
done

# Seeds from the sample files: the layout byte (or the keep byte) and the
# file's first bytes, or a block from its start.
"$build/make_samples" "$work/samples" >/dev/null
seed() { # name picker-byte file offset length
    { printf "\\x$2"; dd if="$work/samples/$3" iflag=skip_bytes,count_bytes skip="$4" count="$5" status=none; } \
        >"$work/seeds/$1"
}
seed convert/intro 00 intro.bin 0 65535
seed convert/triple 01 triple.bin 0 65535
seed convert/panels 02 panels.bin 0 65535
seed convert/picture 03 picture.bin 0 65535
seed convert/four 04 four.bin 0 57652
seed decode/panels 01 panels.bin 1184 16383
seed decode/picture 40 picture.bin 0 16383
seed decode/four 01 four.bin 512 16383
seed decode/intro ef intro.bin 512 16383
seed encode/picture 00 triple.bin 1536 4096
seed encode/palette 10 panels.bin 0 1024
seed pack/panels 00 panels.bin 0 65535
seed pack/picture 01 picture.bin 0 65535
seed pack/four 02 four.bin 0 57652
seed pack/intro 03 intro.bin 0 65535
# The public headers: a 320x224 view with a few of its indices, and points
# of the four-image file and the frame sequence.
{ printf '\x40\x01\x00\x00\xe0\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00';
  printf 'four0.bmp\nfour1 (1).png\nx.bin'; } >"$work/seeds/api/view"
{ printf '\x10\x00\x00\x00\x10\x00\x00\x00\x00\x08\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x02';
  head -c 256 /dev/zero; } >"$work/seeds/api/frames"
# The readers of what a person or another program hands torv-project and
# the page: a manifest, a BPS patch (made by hand from the format's
# description, for the fuzzer's 16-byte source, whose CRC32 and the patch's
# own the target puts right), batches of frames (none, and one ending in a failure), zips
# of Python's.
cat >"$work/seeds/manifest/four" <<'JSON'
{"project": "torv-project", "format": 1, "tool": "1.1.0", "images": "png", "sources": [{"path": "data/four.bin",
"size": 57652, "layout": "four_image_block", "crc32": "0102abcd", "sha256":
"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "folder": "data/four", "images": [
{"file": "four0.png", "width": 112, "height": 144, "sha256": "0000000000000000000000000000000000000000000000000000000000000000"},
{"file": "four1.png", "width": 112, "height": 144, "sha256": "1111111111111111111111111111111111111111111111111111111111111111"},
{"file": "four2.png", "width": 320, "height": 224, "sha256": "2222222222222222222222222222222222222222222222222222222222222222"},
{"file": "four3.png", "width": 320, "height": 224, "sha256": "3333333333333333333333333333333333333333333333333333333333333333"}
]}, {"path": "caf\ufffd.bin", "path_bytes": "636166e92e62696e", "size": 9486336, "layout": "frame_sequence",
"crc32": "00000000", "sha256": "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb", "folder": "x", "images": [
{"file": "x000.png", "width": 320, "height": 224, "sha256": "4444444444444444444444444444444444444444444444444444444444444444"}],
"animation": {"file": "x.gif", "sha256": "5555555555555555555555555555555555555555555555555555555555555555"}}]}
JSON
printf '\x01BPS1\x90\x8c\x80\x88\x85xy\x93\x86\x86\x88\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    >"$work/seeds/bps/hand"
printf 'tvpf\x01\x0c\x00\x00\x00\x00\x00\x00\x00' >"$work/seeds/batch/empty"
{ printf 'tvpf\x01\x0c\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00\x03\x0d';
  printf '\x05\x00\x00\x00words\x01\x00\x00\x00f\x00\x00\x00\x00';
  head -c 59 /dev/zero; } >"$work/seeds/batch/failed"
python3 - "$work/seeds/zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1] + "/stored", "w", zipfile.ZIP_STORED) as z:
    z.writestr("a/b.txt", b"hello")
with zipfile.ZipFile(sys.argv[1] + "/deflated", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("torv-project.json", b"{}" * 40)
    z.writestr("x/y.png", bytes(range(256)) * 4)
PY
# Zips of other tools: zip64 fields, sizes after the data, backslashes,
# ways of packing that are refused.
cp "$(dirname "$0")/../tests/data/zips/"*.zip "$work/seeds/zip/"
# --fit: a gradient in rows, and noise in tiles beside kept colours.
python3 - "$work/seeds/fit" <<'PY'
import random, sys
random.seed(1)
gradient = bytes([31, 15, 200, 0, 255]) + bytes(v for k in range(512) for v in (k % 256, (3 * k) % 256, 128))
noise = bytes([0x81, 1, 90, 3, 15, 0, 0, 0xff, 0x7f, 0x1f, 0]) + bytes(random.randrange(256) for _ in range(1536))
open(sys.argv[1] + "/gradient", "wb").write(gradient)
open(sys.argv[1] + "/noise", "wb").write(noise)
PY
# The image readers start from files of real writers.
cp "$(dirname "$0")/../tests/data/readers/"* "$work/seeds/image/"

status=0
for target in "${run_only[@]}"; do
    max_len=4096
    case "$target" in convert | pack) max_len=65536 ;; image | zip) max_len=16384 ;; api | manifest) max_len=8192 ;; esac
    limits=(-rss_limit_mb=$rss_limit -malloc_limit_mb="$(malloc_limit "$target")")
    log="$work/$target.log"
    set +e
    "$build/${target}_fuzz" "${limits[@]}" -max_len=$max_len -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/findings/$target-" "$work/corpus/$target" "$work/seeds/$target" >"$log" 2>&1
    result=$?
    set -e
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    peak=$(grep -o 'stat::peak_rss_mb: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    corpus=$(find "$work/corpus/$target" -type f | wc -l)
    echo "${target}_fuzz: ${runs} runs in ${seconds} s, peak ${peak} MB, corpus ${corpus} inputs, exit ${result}"
    if [ "$result" -ne 0 ]; then
        tail -n 40 "$log"
        status=1
    fi
done
exit $status
