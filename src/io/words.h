// Numbers and lists in the words a person reads: 9,486,336; "1 image",
// "2 images"; "a, b, c, ... (12 in all)".
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torv {

inline std::string grouped(std::int64_t value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0 && digits[k - 1] != '-')
            text += ',';
        text += digits[k];
    }
    return text;
}

// A CRC32 as people compare them: eight lower-case hex digits, as zip tools show it.
inline std::string crc32_text(std::uint32_t crc) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(8, '0');
    for (int k = 7; k >= 0; --k, crc >>= 4) text[static_cast<std::size_t>(k)] = digits[crc & 15];
    return text;
}

// Each byte of `text` as two lower-case hex digits.
inline std::string hex_of(std::string_view text) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

// ASCII letters in lower case, as names are compared on systems that ignore case.
inline std::string lower_case(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

inline std::string counted(std::size_t count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The first `most` names, and how many there are in all when there are more.
inline std::string listed(const std::vector<std::string>& names, std::size_t most = 8) {
    std::string text;
    for (std::size_t k = 0; k < names.size() && k < most; ++k) text += (k > 0 ? ", " : "") + names[k];
    if (names.size() > most)
        text += ", ... (" + std::to_string(names.size()) + " in all)";
    return text;
}

}  // namespace torv
