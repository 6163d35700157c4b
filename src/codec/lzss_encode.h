// The LZSS block encoder: writes blocks that the decoder reads back exactly,
// as small as the format allows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace torv {

// The longest match at one position: `length` 3 to 18 bytes from `distance`
// (1 to 4096) bytes back, or length 0 if no match of 3 bytes exists.
struct longest_match {
    std::uint8_t length = 0;
    std::uint16_t distance = 0;
};

// For every position of `data`, the longest match within the 4096 bytes
// before it. Before the first byte lie the zeros the decoder's dictionary
// starts with; a match may overlap the bytes it produces.
std::vector<longest_match> find_longest_matches(std::span<const std::uint8_t> data);

// A whole block: the 32-bit little-endian length of `data`, then the item
// stream. The parse is optimal: no valid stream that decodes to `data` (and
// does not run past its end) has fewer bytes.
std::vector<std::uint8_t> lzss_encode(std::span<const std::uint8_t> data);

// The same block with the longest match taken at every step, the classic
// parse: for comparison.
std::vector<std::uint8_t> lzss_encode_greedy(std::span<const std::uint8_t> data);

// A block stretched with literal zero bytes after its data: they decode after
// what it held, and its declared length grows to count them. In three parts,
// so that a long stretch need not be held in memory: `head` (the block, its
// last group filled), `groups` times filler_group, then `tail`.
struct stretched_block {
    std::vector<std::uint8_t> head;
    std::uint64_t groups = 0;
    std::vector<std::uint8_t> tail;
};

// A group of eight literal zeros: its flag byte, then the bytes.
inline constexpr std::array<std::uint8_t, 9> filler_group = {0xFF, 0, 0, 0, 0, 0, 0, 0, 0};

inline std::uint64_t stretched_size(const stretched_block& block) {
    return block.head.size() + block.groups * filler_group.size() + block.tail.size();
}

// Stretches `block` (any valid block) to at least `min_size` bytes, and at
// most one more.
stretched_block stretch_block(std::vector<std::uint8_t> block, std::uint64_t min_size);

// The stretched block in one piece.
std::vector<std::uint8_t> joined(const stretched_block& block);

// A block of literals only: the largest stream for `data`.
std::vector<std::uint8_t> lzss_encode_literals(std::span<const std::uint8_t> data);

}  // namespace torv
