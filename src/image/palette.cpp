#include "image/palette.h"

#include <algorithm>

#include "io/little_endian.h"

namespace torv {

rgb15_palette palette_from_bytes(std::span<const std::uint8_t> bytes) {
    rgb15_palette palette{};
    const std::size_t whole = std::min(bytes.size() / 2, palette_entries);
    for (std::size_t k = 0; k < whole; ++k) {
        palette[k] = get_u16le(&bytes[2 * k]);
    }
    if (whole < palette_entries && bytes.size() % 2 == 1) {
        palette[whole] = bytes.back();  // a lone low byte: the high byte is missing, so 0
    }
    return palette;
}

std::array<std::uint8_t, palette_bytes> palette_to_bytes(const rgb15_palette& palette) {
    std::array<std::uint8_t, palette_bytes> bytes{};
    for (std::size_t k = 0; k < palette_entries; ++k) {
        put_u16le(&bytes[2 * k], palette[k]);
    }
    return bytes;
}

}  // namespace torv
