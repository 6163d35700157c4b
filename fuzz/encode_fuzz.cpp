// Arbitrary bytes encoded, then decoded again: the same bytes come back, by
// the plain reference reading, and the block is never larger than the greedy
// parse's. A stretched block still holds the data, then zeros.
//
// Input: one byte that says how far to stretch, then the data.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "codec/lzss_encode.h"
#include "lzss_reference.h"

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "encode_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::span<const std::uint8_t> input(data + 1, size - 1);
    std::vector<std::uint8_t> block = torv::lzss_encode(input);
    const torv::samples::reference_result back = torv::samples::reference_decode(block);
    if (!std::equal(back.data.begin(), back.data.end(), input.begin(), input.end())) {
        finding("the block does not decode to its data");
    }
    if (back.consumed != block.size()) {
        finding("the block holds bytes its data does not need");
    }
    if (block.size() > torv::lzss_encode_greedy(input).size()) {
        finding("larger than the greedy parse");
    }
    const std::size_t stretch_to = block.size() + data[0] * 7u;
    block = torv::joined(torv::stretch_block(block, stretch_to));
    const torv::samples::reference_result stretched = torv::samples::reference_decode(block);
    if (block.size() < stretch_to || block.size() > stretch_to + 1 || stretched.consumed != block.size() ||
        !std::equal(input.begin(), input.end(), stretched.data.begin()) ||
        !std::all_of(stretched.data.begin() + static_cast<std::ptrdiff_t>(input.size()), stretched.data.end(),
                     [](std::uint8_t b) { return b == 0; })) {
        finding("a stretched block does not hold its data, then zeros");
    }
    return 0;
}
