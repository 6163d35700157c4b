// The LZSS block decoder: a 32-bit little-endian length, then groups of one
// flag byte and up to eight items (bit set: a literal byte; bit clear: a
// two-byte match into a 4096-byte dictionary, lengths 3 to 18).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>

#include "io/input.h"

namespace torv {

inline constexpr std::size_t keep_everything = std::numeric_limits<std::size_t>::max();

struct decoded_block {
    // The kept bytes: never more than the block declares, than the input
    // actually yields, or than the caller asked to keep.
    std::span<const std::uint8_t> bytes;
    std::uint32_t declared = 0;               // the length the block declares
    std::int64_t end = 0;                     // input position after the block's last byte
    std::unique_ptr<std::uint8_t[]> storage;  // owns `bytes`
};

// Four bytes from the input, least significant first; nothing if the input
// ends before all four are read.
std::optional<std::uint32_t> read_u32le(input_stream& in);

// Decodes the block at the current position of `in`. Keeps at most
// `max_kept` bytes (the bytes the caller will use); decoding goes on past them
// through the dictionary alone, so the block's end is found either way. A
// stream that ends early ends the block where it ends. No memory for the
// block throws std::bad_alloc.
decoded_block decode_block(input_stream& in, std::size_t max_kept = keep_everything);

}  // namespace torv
