#!/usr/bin/env bash
# Runs each fuzz target for a bounded time, seeded from the sample files.
# Fails on any finding; the input that caused it is left in FOLDER/findings.
#   usage: fuzz/run_fuzzers.sh [fuzz-build-folder] [seconds-per-target]
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
        image) echo 4 ;;
        pack | api) echo 16 ;;
        *) echo 1 ;;
    esac
}
# A small quarantine: AddressSanitizer's default one alone would pass the
# budget above.
export ASAN_OPTIONS=quarantine_size_mb=16:detect_leaks=1

work="$build/fuzzing"
mkdir -p "$work/findings"
rm -rf "$work/seeds"
targets=(decode convert encode image pack api)
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
# The image readers start from files of real writers.
cp "$(dirname "$0")/../tests/data/readers/"* "$work/seeds/image/"

status=0
for target in "${targets[@]}"; do
    max_len=4096
    case "$target" in convert | pack) max_len=65536 ;; image) max_len=16384 ;; api) max_len=8192 ;; esac
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
