// Reads PNG files through libpng: indexed, grey, RGB and RGBA (every pixel
// fully opaque), at any bit depth. Builds without libpng read no PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/picture.h"

namespace torv {

// True when this build reads PNG files.
bool png_supported();

// Reads the PNG file held in `file`. Pictures of more than `max_pixels`
// pixels are refused before any pixel memory is taken.
picture_read read_png(std::span<const std::uint8_t> file, std::size_t max_pixels);

}  // namespace torv
