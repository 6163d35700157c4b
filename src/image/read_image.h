// Reads an image file by what it holds: a PNG file or a BMP file, whatever
// its name says (an editor may save a BMP under a .png name).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/picture.h"
#include "io/result.h"

namespace torv {

// Reads the PNG or BMP file held in `file`, told apart by their signatures;
// a file with neither is read as its name says (`png_by_name`), so that the
// failure speaks of that kind. Pictures of more than `max_pixels` pixels are
// refused before any pixel memory is taken.
result<picture> read_image(std::span<const std::uint8_t> file, std::size_t max_pixels, bool png_by_name);

}  // namespace torv
