// Converting a source file: follows its layout's description and writes one
// BMP per image.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "format/layouts.h"
#include "io/file_failure.h"
#include "io/input.h"

namespace torv {

// Converts the source file open as `in`, of layout `format`: every image of
// every record is assembled in `canvas` (largest_image_bytes()) and written as a
// BMP named after `prefix`. Bytes the file or a block does not hold read as
// 0. Stops at the first file that cannot be written and says which. No
// memory throws std::bad_alloc.
file_result convert(const layout& format, input_stream& in, std::string_view prefix, std::span<std::uint8_t> canvas);

}  // namespace torv
