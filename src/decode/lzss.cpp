#include "decode/lzss.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "driver/fail.h"
#include "driver/input.h"

namespace torv {

namespace {

constexpr unsigned ring_mask = ring_size - 1;
constexpr unsigned max_match = 18;
constexpr unsigned min_match = 3;
constexpr unsigned ring_start = ring_size - max_match;  // 4078
// The flag byte sits in the low 8 bits; the eight 1-bits above it count down
// the items left in the group, so an empty high byte means "read a new flag".
constexpr std::uint32_t flag_counter = 0xFF00;
// A match of 18 bytes costs two stream bytes, so no stream byte yields more.
constexpr std::uint64_t max_yield_per_byte = max_match / 2;
// The last match of a block may run up to 17 bytes past the kept length.
constexpr std::size_t match_overrun = max_match - 1;

struct decoder_state {
    std::uint32_t flags = 0;
    unsigned cursor = ring_start;
    std::uint64_t produced = 0;
    bool input_ended = false;
};

// Copies one match inside the dictionary (and, when storing, to `out`),
// exactly as a byte-by-byte copy would: a source that overlaps the bytes being
// written repeats them.
template <bool store>
inline void copy_match(std::uint8_t* ring, std::uint8_t* out, unsigned from, unsigned to, unsigned length) {
    const unsigned distance = (to - from) & ring_mask;
    const bool no_wrap = from + length <= ring_size && to + length <= ring_size;
    if (no_wrap && (distance >= length || distance == 0)) {
        std::memmove(ring + to, ring + from, length);
        if constexpr (store) {
            std::memcpy(out, ring + to, length);
        }
        return;
    }
    for (unsigned k = 0; k < length; ++k) {
        const std::uint8_t c = ring[from];
        ring[to] = c;
        if constexpr (store) {
            out[k] = c;
        }
        from = (from + 1) & ring_mask;
        to = (to + 1) & ring_mask;
    }
}

// Decodes items until `limit` bytes are out or the input ends. With `store`,
// every byte also goes to out[produced]; `out` must have room for
// limit + match_overrun bytes.
template <bool store>
void decode_items(input_stream& in, std::uint8_t* ring, std::uint8_t* out, std::uint64_t limit, decoder_state& state) {
    std::uint32_t flags = state.flags;
    unsigned cursor = state.cursor;
    std::uint64_t produced = state.produced;

    while (produced < limit) {
        if ((flags & flag_counter) == 0) {
            const int flag_byte = read_byte(in);
            if (flag_byte < 0) {
                state.input_ended = true;
                break;
            }
            flags = static_cast<std::uint32_t>(flag_byte) | flag_counter;
        }
        if ((flags & 1) != 0) {
            const int literal = read_byte(in);
            if (literal < 0) {
                state.input_ended = true;
                break;
            }
            ring[cursor] = static_cast<std::uint8_t>(literal);
            if constexpr (store) {
                out[produced] = static_cast<std::uint8_t>(literal);
            }
            ++produced;
            cursor = (cursor + 1) & ring_mask;
        } else {
            const int low = read_byte(in);
            const int high = low < 0 ? -1 : read_byte(in);
            if (high < 0) {
                state.input_ended = true;
                break;
            }
            const auto from = static_cast<unsigned>(low | (high & 0xF0) << 4);
            const auto length = static_cast<unsigned>(high & 0x0F) + min_match;
            if constexpr (store) {
                copy_match<true>(ring, out + produced, from, cursor, length);
            } else {
                copy_match<false>(ring, nullptr, from, cursor, length);
            }
            produced += length;
            cursor = (cursor + length) & ring_mask;
        }
        flags >>= 1;
    }

    state.flags = flags;
    state.cursor = cursor;
    state.produced = produced;
}

// How many decoded bytes the rest of the input could yield at the most.
std::uint64_t yield_bound(const input_stream& in) {
    if (in.size < 0) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    const std::int64_t remaining = std::max<std::int64_t>(0, in.size - tell_input(in));
    return static_cast<std::uint64_t>(remaining) * max_yield_per_byte;
}

void allocate_block(conversion_context& ctx, std::size_t kept) {
    ctx.block_data.reset(new (std::nothrow) std::uint8_t[kept + match_overrun]);
    if (!ctx.block_data) {
        fail(no_memory_message);
    }
    ctx.block_size = 0;
}

}  // namespace

std::optional<std::uint32_t> read_u32le(input_stream& in) {
    std::uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int byte = read_byte(in);
        if (byte < 0) {
            return std::nullopt;
        }
        value |= static_cast<std::uint32_t>(byte) << shift;
    }
    return value;
}

std::int64_t decode_block(conversion_context& ctx, std::size_t max_kept) {
    input_stream& in = ctx.in_file;
    const std::optional<std::uint32_t> declared = read_u32le(in);
    std::memset(ctx.ring_area, 0, ring_size);
    if (!declared) {
        allocate_block(ctx, 0);
        return next_record_offset(tell_input(in));
    }

    // Memory follows what the block can really give the caller, not what it
    // declares.
    const std::uint64_t kept = std::min({std::uint64_t{*declared}, std::uint64_t{max_kept}, yield_bound(in)});
    allocate_block(ctx, static_cast<std::size_t>(kept));

    decoder_state state;
    decode_items<true>(in, ctx.ring_area, ctx.block_data.get(), kept, state);
    ctx.block_size = static_cast<std::size_t>(std::min(state.produced, kept));
    if (!state.input_ended && state.produced < *declared) {
        // The rest of the block is not kept, but must be walked to find
        // where it ends.
        decode_items<false>(in, ctx.ring_area, nullptr, *declared, state);
    }
    return next_record_offset(tell_input(in));
}

}  // namespace torv
