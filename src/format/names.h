// How the names of the file read and of the files written are derived from
// the command line. Every function here depends on its arguments alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torv {

// The file actually read: everything from the first '.' on (or the end, if
// there is no '.') is replaced by ".bin". The first '.' counts even when it
// lies in a directory part of the path.
std::string derive_input_name(std::string_view argument);

// The base name: the stem (the argument cut at its first '.') after its last
// backslash. Only the backslash separates directories here; the scan is
// byte-wise.
std::string derive_base_name(std::string_view argument);

// The stem of every output name: the first byte of the drive argument, ':',
// the base name. An empty drive argument leaves the base name alone.
std::string name_prefix(std::string_view argument, std::string_view drive);

// The output name for a suffix code: below 0 no suffix; 0-999 three
// zero-padded digits; 1000 and up a single character, '0' + (code - 1000).
std::string bmp_name(std::string_view prefix, std::int32_t suffix_code);

// The suffix codes of a name with no suffix and of one ending in `digit`.
inline constexpr std::int32_t no_suffix = -1;
inline constexpr std::int32_t first_digit_suffix = 1000;
inline constexpr std::int32_t digit_suffix(std::uint8_t digit) {
    return first_digit_suffix + digit;
}

// The output name of frame `number` of a sequence: at least three digits,
// zero-padded, so that 999 is followed by 1000.
std::string frame_bmp_name(std::string_view prefix, std::int32_t number);

}  // namespace torv
