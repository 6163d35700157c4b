// The numbers of the LZSS block format that the decoder and the encoder
// share: the dictionary, the match lengths and where writing starts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torv::lzss {

inline constexpr std::size_t ring_size = 4096;  // the dictionary, and the farthest a match reaches back
inline constexpr unsigned min_match = 3;
inline constexpr unsigned max_match = 18;
// The cursor starts 18 bytes before the end of the zeroed dictionary.
inline constexpr std::size_t ring_start = ring_size - max_match;  // 4078

// The flag state as the decoder keeps it: the flag byte in the low 8 bits;
// above them one 1-bit per item left in its group, so an empty high byte
// means "read a new flag byte".
inline constexpr std::uint32_t flag_counter = 0xFF00;

// How far a walk over a block's items has come.
struct item_walk {
    std::uint32_t flags = 0;
    std::uint64_t produced = 0;  // the bytes the items so far decode to
};

// Steps over items without producing their bytes: what each yields is in the
// stream itself (a literal 1 byte, a match 3 to 18), so finding where a block
// ends needs no dictionary. Takes stream bytes from next_byte() (an int, -1
// at the end) until `limit` bytes are produced; false if the stream ends
// first, and an item cut off there yields nothing. on_flag_byte() is called
// after each flag byte is taken, on_item() after each whole item.
template <class NextByte, class OnFlagByte, class OnItem>
bool walk_items(item_walk& walk, std::uint64_t limit, NextByte&& next_byte, OnFlagByte&& on_flag_byte,
                OnItem&& on_item) {
    while (walk.produced < limit) {
        if ((walk.flags & flag_counter) == 0) {
            const int flag_byte = next_byte();
            if (flag_byte < 0) {
                return false;
            }
            walk.flags = static_cast<std::uint32_t>(flag_byte) | flag_counter;
            on_flag_byte();
        }
        const bool literal = (walk.flags & 1) != 0;
        const int low = next_byte();
        const int high = literal || low < 0 ? 0 : next_byte();
        if (low < 0 || high < 0) {
            return false;
        }
        walk.produced += literal ? 1 : (static_cast<unsigned>(high) & 0x0F) + min_match;
        walk.flags >>= 1;
        on_item();
    }
    return true;
}

}  // namespace torv::lzss
