// Tiled images: 16x8-pixel tiles in raster order, each tile's 8 rows top row
// first, 16 bytes a row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace torv {

inline constexpr std::size_t tile_width = 16;
inline constexpr std::size_t tile_height = 8;

// Rearranges a tiled image of `width` x `height` pixels (multiples of the
// tile size) into rows, and back. Both spans hold width x height bytes.
void untile(std::span<const std::uint8_t> tiles, std::size_t width, std::size_t height, std::span<std::uint8_t> pixels);
void tile(std::span<const std::uint8_t> pixels, std::size_t width, std::size_t height, std::span<std::uint8_t> tiles);

}  // namespace torv
