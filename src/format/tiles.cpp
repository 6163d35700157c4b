#include "format/tiles.h"

#include <cstring>

namespace torv {

void untile(std::span<const std::uint8_t> tiles, std::size_t width, std::size_t height,
            std::span<std::uint8_t> pixels) {
    const std::uint8_t* from = tiles.data();
    for (std::size_t top = 0; top < height; top += tile_height) {
        for (std::size_t left = 0; left < width; left += tile_width) {
            std::uint8_t* corner = pixels.data() + top * width + left;
            for (std::size_t y = 0; y < tile_height; ++y) {
                std::memcpy(corner + y * width, from, tile_width);
                from += tile_width;
            }
        }
    }
}

void tile(std::span<const std::uint8_t> pixels, std::size_t width, std::size_t height, std::span<std::uint8_t> tiles) {
    std::uint8_t* to = tiles.data();
    for (std::size_t top = 0; top < height; top += tile_height) {
        for (std::size_t left = 0; left < width; left += tile_width) {
            const std::uint8_t* corner = pixels.data() + top * width + left;
            for (std::size_t y = 0; y < tile_height; ++y) {
                std::memcpy(to, corner + y * width, tile_width);
                to += tile_width;
            }
        }
    }
}

}  // namespace torv
