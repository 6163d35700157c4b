// Reads PNG files through libpng: indexed, grey, RGB and RGBA (every pixel
// fully opaque), at any bit depth. Builds without libpng read no PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/picture.h"
#include "io/result.h"

namespace torv {

// True when this build reads PNG files.
bool png_supported();

// Reads the PNG file held in `file`. Pictures of more than `max_pixels` pixels
// are refused before any pixel memory is taken. A failure states the
// picture's size once the header has told it.
result<picture> read_png(std::span<const std::uint8_t> file, std::size_t max_pixels);

}  // namespace torv
