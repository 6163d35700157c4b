// Arbitrary bytes as a run of blocks: each is decoded as the frame walk would,
// and the first is checked against the plain reference reading.
//
// Input: one byte that picks how much of each block is kept, then the stream.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "codec/lzss_decode.h"
#include "format/layouts.h"
#include "io/input.h"
#include "lzss_reference.h"

namespace {

constexpr int max_blocks = 16;

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "decode_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t keep = (data[0] & 1) != 0 ? torv::keep_everything : std::size_t{data[0]} * 300;
    const std::span<const std::uint8_t> stream(data + 1, size - 1);

    torv::input_stream in;
    torv::attach_memory(in, stream);

    const torv::samples::reference_result expected = torv::samples::reference_decode(stream);
    std::int64_t position = 0;
    for (int block = 0; block < max_blocks; ++block) {
        torv::seek_input(in, position);
        const torv::decoded_block decoded = torv::decode_block(in, keep);
        const std::int64_t next = torv::next_record_start(torv::frame_sequence_layout, decoded.end);
        if (decoded.bytes.size() > keep) {
            finding("kept more than asked");
        }
        if (block == 0) {
            const std::size_t wanted = std::min(expected.data.size(), keep);
            if (decoded.bytes.size() != wanted ||
                !std::equal(decoded.bytes.begin(), decoded.bytes.end(), expected.data.begin())) {
                finding("first block differs from the reference reading");
            }
            if (next != static_cast<std::int64_t>((expected.consumed + 2047) / 2048 * 2048)) {
                finding("first block ends elsewhere than the reference reading says");
            }
        }
        if (next <= position || next >= static_cast<std::int64_t>(stream.size())) {
            break;
        }
        position = next;
    }
    torv::close_input(in);
    return 0;
}
