#include "codec/lzss_decode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "codec/lzss_format.h"
#include "io/little_endian.h"

namespace torv {

namespace {

using lzss::max_match;
using lzss::min_match;
using lzss::ring_size;
using lzss::ring_start;
constexpr unsigned ring_mask = ring_size - 1;
using lzss::flag_counter;
// A flag byte and eight two-byte matches: the most one group can take, and
// the most it can give.
constexpr std::size_t max_group_bytes = 1 + 8 * 2;
constexpr std::size_t max_group_output = 8 * max_match;
// A match of 18 bytes costs two stream bytes, so no stream byte yields more.
constexpr std::uint64_t max_yield_per_byte = max_match / 2;
// Matches are copied in whole 8-byte words, up to 24 bytes for one match.
constexpr std::size_t copy_word = 8;
constexpr std::size_t max_match_write = 24;
// Room after the kept bytes: the last match may run past them.
constexpr std::size_t tail_room = max_match_write;

// The block buffer: ring_size zero bytes of history, then the block.
//
// The dictionary at any moment holds the last 4096 bytes written, on top of
// the zeros it started with, and position p lies `distance` bytes back from
// the cursor, (cursor - p) mod 4096, where 0 means a full 4096. With 4096
// zeros ahead of the block, every match is a plain copy from `distance`
// bytes back in the buffer itself, so the dictionary need not be kept
// separately while the block is being stored.
struct block_buffer {
    std::unique_ptr<std::uint8_t[]> storage;
    std::uint8_t* block = nullptr;  // storage + ring_size
};

struct decoder_state {
    std::uint32_t flags = 0;
    std::uint64_t produced = 0;
    bool input_ended = false;
};

inline unsigned cursor_at(std::uint64_t produced) {
    return static_cast<unsigned>((ring_start + produced) & ring_mask);
}

// Copies a match to `dest`, whose ring position is `cursor` (taken mod 4096),
// byte by byte in effect: a source that overlaps the bytes being written
// repeats them. Returns the match's length.
//
// `last` is the byte just before `dest`, kept in a register and updated: a
// run of one byte then need not wait for the store that wrote it.
inline unsigned copy_match(std::uint8_t* dest, unsigned cursor, unsigned low, unsigned high, std::uint8_t& last) {
    const unsigned from = low | (high & 0xF0) << 4;
    const unsigned length = (high & 0x0F) + min_match;
    const unsigned distance = ((cursor - from - 1) & ring_mask) + 1;  // 1 to 4096
    const std::uint8_t* source = dest - distance;
    // Bytes written past `length` land ahead of the cursor, in room that
    // later items overwrite.
    if (distance >= copy_word) {
        // Each word is read only after the bytes it covers are written.
        for (std::size_t k = 0; k < max_match_write; k += copy_word) {
            std::memcpy(dest + k, source + k, copy_word);
        }
    } else if (distance == 1) {
        // A run of one byte, the commonest overlap: whole words of it.
        const std::uint64_t run = 0x0101'0101'0101'0101ULL * last;
        for (std::size_t k = 0; k < max_match_write; k += copy_word) {
            std::memcpy(dest + k, &run, copy_word);
        }
        return length;
    } else {
        for (unsigned k = 0; k < length; ++k) {
            dest[k] = source[k];
        }
    }
    last = dest[length - 1];
    return length;
}

// One item's stream bytes: a literal's byte, or a match's two.
struct raw_item {
    bool literal = false;
    unsigned low = 0;
    unsigned high = 0;
};

// Reads the next item one byte at a time, with the flag byte of its group if
// one is due. False if the input ends first: a cut-off item produces nothing.
bool read_item(input_stream& in, std::uint32_t& flags, raw_item& item) {
    if ((flags & flag_counter) == 0) {
        const int flag_byte = read_byte(in);
        if (flag_byte < 0) {
            return false;
        }
        flags = static_cast<std::uint32_t>(flag_byte) | flag_counter;
    }
    item.literal = (flags & 1) != 0;
    const int low = read_byte(in);
    const int high = item.literal || low < 0 ? 0 : read_byte(in);
    if (low < 0 || high < 0) {
        return false;
    }
    item.low = static_cast<unsigned>(low);
    item.high = static_cast<unsigned>(high);
    flags >>= 1;
    return true;
}

// One item into the block buffer, for the end of the input buffer. False if
// the input ended first.
bool stored_item_slowly(input_stream& in, std::uint8_t* block, decoder_state& state) {
    raw_item item;
    if (!read_item(in, state.flags, item)) {
        return false;
    }
    std::uint8_t* dest = block + state.produced;
    if (item.literal) {
        *dest = static_cast<std::uint8_t>(item.low);
        ++state.produced;
    } else {
        std::uint8_t last = dest[-1];  // inside the zero history at the start
        state.produced += copy_match(dest, cursor_at(state.produced), item.low, item.high, last);
    }
    return true;
}

// Decodes items into the block buffer until `limit` bytes are out or the
// input ends. The buffer has room for limit + tail_room bytes.
void decode_stored(input_stream& in, std::uint8_t* block, std::uint64_t limit, decoder_state& state) {
    while (state.produced < limit) {
        const std::span<const std::uint8_t> at_hand = buffered_bytes(in);
        if (at_hand.size() < max_group_bytes) {
            if (!stored_item_slowly(in, block, state)) {
                state.input_ended = true;
                return;
            }
            continue;
        }
        // The rest of this group is at hand: no end-of-input checks.
        const std::uint8_t* next = at_hand.data();
        const std::uint8_t* const buffered_end = at_hand.data() + at_hand.size();
        std::uint32_t flags = state.flags;
        std::uint8_t* out = block + state.produced;
        const std::uint8_t* const end = block + limit;
        unsigned cursor = cursor_at(state.produced);  // wraps mod 4096 where used
        std::uint8_t last = out[-1];                  // inside the zero history at the start

        auto item = [&](bool is_literal) {
            if (is_literal) {
                last = *next++;
                *out++ = last;
                ++cursor;
            } else {
                const unsigned length = copy_match(out, cursor, next[0], next[1], last);
                next += 2;
                out += length;
                cursor += length;
            }
        };
        // Whole groups while eight items cannot reach the limit: the test
        // before each item could not fail, so it is made once per group.
        while ((flags & flag_counter) == 0 && buffered_end - next >= std::ptrdiff_t{max_group_bytes} &&
               end - out >= std::ptrdiff_t{max_group_output}) {
            unsigned group = *next++;
            if (group == 0) {
                // Eight matches, the common case in compressible pictures.
                for (int k = 0; k < 8; ++k) {
                    item(false);
                }
                continue;
            }
            for (int k = 0; k < 8; ++k, group >>= 1) {
                item((group & 1) != 0);
            }
        }
        // Otherwise item by item, testing the limit before each one.
        if (out < end && buffered_end - next >= std::ptrdiff_t{max_group_bytes}) {
            if ((flags & flag_counter) == 0) {
                flags = *next++ | flag_counter;
            }
            do {
                item((flags & 1) != 0);
                flags >>= 1;
            } while ((flags & flag_counter) != 0 && out < end);
        }
        consume(in, static_cast<std::size_t>(next - at_hand.data()));
        state.flags = flags;
        state.produced = static_cast<std::uint64_t>(out - block);
    }
}

// Steps over the rest of a block whose bytes are not kept, until `limit`
// bytes would be out or the input ends: only where the block ends matters.
void skip_discarded(input_stream& in, std::uint64_t limit, decoder_state& state) {
    lzss::item_walk walk{state.flags, state.produced};
    auto nothing = [] {};
    lzss::walk_items(
        walk, limit, [&] { return read_byte(in); }, nothing, nothing);
    state.flags = walk.flags;
    state.produced = walk.produced;
}

// How many decoded bytes the rest of the input could yield at the most.
std::uint64_t yield_bound(const input_stream& in) {
    if (input_size(in) < 0) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    const std::int64_t remaining = std::max<std::int64_t>(0, input_size(in) - tell_input(in));
    return static_cast<std::uint64_t>(remaining) * max_yield_per_byte;
}

block_buffer allocate_block(std::size_t kept) {
    block_buffer buffer;
    // No memory throws std::bad_alloc: the program's entry point reports it.
    buffer.storage.reset(new std::uint8_t[ring_size + kept + tail_room]);
    std::memset(buffer.storage.get(), 0, ring_size);
    buffer.block = buffer.storage.get() + ring_size;
    return buffer;
}

}  // namespace

std::optional<std::uint32_t> read_u32le(input_stream& in) {
    std::array<std::uint8_t, 4> bytes{};
    if (read_span(in, bytes) != bytes.size()) {
        return std::nullopt;
    }
    return get_u32le(bytes.data());
}

decoded_block decode_block(input_stream& in, std::size_t max_kept) {
    decoded_block result;
    result.declared = read_u32le(in).value_or(0);

    // Memory follows what the block can really give the caller, not what it
    // declares.
    const std::uint64_t kept = std::min({std::uint64_t{result.declared}, std::uint64_t{max_kept}, yield_bound(in)});
    block_buffer buffer = allocate_block(static_cast<std::size_t>(kept));

    decoder_state state;
    decode_stored(in, buffer.block, kept, state);
    if (!state.input_ended && state.produced < result.declared) {
        // The rest is not kept, but must be walked to find where the block
        // ends.
        skip_discarded(in, result.declared, state);
    }

    // The caller sees the block from its first byte; the history in front of
    // it is released with it.
    result.bytes = {buffer.block, static_cast<std::size_t>(std::min(state.produced, kept))};
    result.storage = std::move(buffer.storage);
    result.end = tell_input(in);
    return result;
}

}  // namespace torv
