// Reads BMP files as image editors write them: 1-, 4- and 8-bit indexed
// (uncompressed, RLE8, RLE4) and 16-, 24- and 32-bit true colour (plain, 5-5-5
// for 16 bits, or with bit-field masks), with OS/2 12-byte, 40-byte, V2/V3, V4 and V5 headers,
// bottom-up or top-down.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/picture.h"
#include "io/result.h"

namespace torv {

// Reads the BMP file held in `file`. Pictures of more than `max_pixels` pixels
// are refused before any pixel memory is taken. Never reads outside `file`.
// A failure states the picture's size once the header has told it.
result<picture> read_bmp(std::span<const std::uint8_t> file, std::size_t max_pixels);

}  // namespace torv
