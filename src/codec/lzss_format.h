// The numbers of the LZSS block format that the decoder and the encoder
// share: the dictionary, the match lengths and where writing starts.
#pragma once

#include <cstddef>

namespace torv::lzss {

inline constexpr std::size_t ring_size = 4096;  // the dictionary, and the farthest a match reaches back
inline constexpr unsigned min_match = 3;
inline constexpr unsigned max_match = 18;
// The cursor starts 18 bytes before the end of the zeroed dictionary.
inline constexpr std::size_t ring_start = ring_size - max_match;  // 4078

}  // namespace torv::lzss
