// The LZSS block decoder: a 32-bit little-endian length, then groups of one
// flag byte and up to eight items (bit set: a literal byte; bit clear: a
// two-byte match into a 4096-byte dictionary, lengths 3 to 18).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

#include "driver/context.h"

namespace torv {

inline constexpr std::size_t keep_everything = std::numeric_limits<std::size_t>::max();
inline constexpr std::int64_t record_alignment = 2048;

// Four bytes from the input, least significant first; nothing if the input
// ends before all four are read.
std::optional<std::uint32_t> read_u32le(input_stream& in);

// Decodes the block at the current position of ctx.in_file into a new
// ctx.block_data and returns the first multiple of 2048 at or after the
// position where the block ended.
//
// ctx.block_size is the number of bytes of the block kept: never more than the
// block declares, than the input actually yields, or than `max_kept` (the
// bytes the caller will use). Decoding goes on past max_kept through the
// dictionary alone, so the returned position is the same either way. A stream
// that ends early ends the block where it ends.
std::int64_t decode_block(conversion_context& ctx, std::size_t max_kept = keep_everything);

// Frees the buffer of the last decoded block.
void release_block(conversion_context& ctx);

// `position` rounded up to a multiple of 2048.
inline std::int64_t next_record_offset(std::int64_t position) {
    return (position + record_alignment - 1) & ~(record_alignment - 1);
}

}  // namespace torv
