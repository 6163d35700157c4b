// Small helpers for building test inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace torv::test {

inline std::vector<std::uint8_t> concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& data, std::size_t offset, std::size_t size) {
    return {data.begin() + static_cast<std::ptrdiff_t>(offset),
            data.begin() + static_cast<std::ptrdiff_t>(offset + size)};
}

// A block's 32-bit little-endian length field.
inline std::vector<std::uint8_t> length_field(std::uint32_t n) {
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 24)};
}

// 512 bytes of noise: a palette unlike any other seed's.
inline std::vector<std::uint8_t> random_palette(unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> entries(512);
    for (auto& b : entries) {
        b = static_cast<std::uint8_t>(random());
    }
    return entries;
}

}  // namespace torv::test
