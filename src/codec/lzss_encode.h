// The LZSS block encoder: writes blocks that the decoder reads back exactly.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace torv {

struct encode_options {
    // How many earlier candidates are tried per position. The default tries
    // every position in the window, so each match is the longest there is
    // (the most recent of equals); fewer trades length for time.
    int max_candidates = 4096;
};

// A whole block: the 32-bit little-endian length of `data`, then the item
// stream. Matches are the longest within the 4096-byte window (lengths 3 to
// 18), including the zero-filled dictionary the decoder starts from.
std::vector<std::uint8_t> lzss_encode(std::span<const std::uint8_t> data, const encode_options& options = {});

// A block of literals only: the largest stream for `data`.
std::vector<std::uint8_t> lzss_encode_literals(std::span<const std::uint8_t> data);

}  // namespace torv
