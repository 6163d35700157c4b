#include "image/palette.h"

#include <algorithm>

namespace torv {

rgb15_palette palette_from_bytes(std::span<const std::uint8_t> bytes) {
    rgb15_palette palette{};
    const std::size_t whole = std::min(bytes.size() / 2, palette_entries);
    for (std::size_t k = 0; k < whole; ++k) {
        palette[k] = static_cast<std::uint16_t>(bytes[2 * k] | bytes[2 * k + 1] << 8);
    }
    if (whole < palette_entries && bytes.size() % 2 == 1) {
        palette[whole] = bytes.back();  // a lone low byte: the high byte is missing, so 0
    }
    return palette;
}

std::array<std::uint8_t, palette_bytes> palette_to_bytes(const rgb15_palette& palette) {
    std::array<std::uint8_t, palette_bytes> bytes{};
    for (std::size_t k = 0; k < palette_entries; ++k) {
        bytes[2 * k] = static_cast<std::uint8_t>(palette[k]);
        bytes[2 * k + 1] = static_cast<std::uint8_t>(palette[k] >> 8);
    }
    return bytes;
}

}  // namespace torv
