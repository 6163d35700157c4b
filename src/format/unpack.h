// Converting a source file into its images: each image of each record,
// assembled as rows and handed, with its name and palette, to a sink that
// decides what becomes of it (torv writes BMP files; another front end may
// keep them in memory).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "format/layouts.h"
#include "format/records.h"
#include "image/image.h"
#include "image/palette.h"
#include "io/file_failure.h"
#include "io/input.h"

namespace torv {

// One image as converting hands it on: valid during the call only.
struct unpacked_image {
    std::string_view name;         // the name torv writes it under
    indexed_image image;           // its palette indices, row-major, top row first
    const rgb15_palette& palette;  // its palette, entries as stored
    record_start record;           // where its record begins: unpacking can start there again
};

// Takes an image; a failure stops the conversion and is handed back.
using image_sink = std::function<file_result(const unpacked_image&)>;

// Hands every image of the file open as `in`, of layout `format`, to `sink`
// in order, each assembled in `canvas` (largest_image_bytes() bytes) and
// named after `prefix`, from the record at `from` on. Bytes the file or a
// block does not hold read as 0. Returns the sink's first failure. No memory
// throws std::bad_alloc.
file_result unpack_images(const layout& format, input_stream& in, std::string_view prefix,
                          std::span<std::uint8_t> canvas, const image_sink& sink, record_start from = {});

}  // namespace torv
