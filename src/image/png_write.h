// Writes an indexed image as an 8-bit palette PNG through libpng: the
// palette's 256 colours as the BMP's colour table shows them (each 5-bit
// channel shifted left by 3), the indices unchanged, so that an editor shows
// the real palette and torv-pack reads the same entries back.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image.h"
#include "image/palette.h"
#include "io/result.h"

namespace torv {

// The whole PNG file; unsupported_image in a build without libpng.
result<std::vector<std::uint8_t>> write_png(const indexed_image& image, const rgb15_palette& palette);

}  // namespace torv
