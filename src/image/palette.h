// Palettes of 256 rgb15 entries: red in bits 0-4, green 5-9, blue 10-14;
// bit 15 carries no colour but is kept as it was read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace torv {

inline constexpr std::size_t palette_entries = 256;
inline constexpr std::size_t palette_bytes = palette_entries * 2;  // little-endian entries

using rgb15_palette = std::array<std::uint16_t, palette_entries>;

struct rgb8 {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const rgb8&, const rgb8&) = default;
};

// The entries stored in `bytes`, two bytes each, least significant first;
// entries the span does not reach are 0.
rgb15_palette palette_from_bytes(std::span<const std::uint8_t> bytes);

// The 512 bytes of a palette as stored.
std::array<std::uint8_t, palette_bytes> palette_to_bytes(const rgb15_palette& palette);

// An entry's colour with 8-bit channels: each 5-bit channel shifted left by
// 3, so full intensity is 0xF8. Bit 15 is ignored.
inline rgb8 rgb8_of(std::uint16_t rgb15) {
    return {static_cast<std::uint8_t>((rgb15 & 31) << 3), static_cast<std::uint8_t>(((rgb15 >> 5) & 31) << 3),
            static_cast<std::uint8_t>(((rgb15 >> 10) & 31) << 3)};
}

// The entry for an 8-bit colour: the top five bits of each channel.
inline std::uint16_t rgb15_of(rgb8 colour) {
    return static_cast<std::uint16_t>((colour.red >> 3) | (colour.green >> 3) << 5 | (colour.blue >> 3) << 10);
}

}  // namespace torv
