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
#include "io/input.h"
#include "io/result.h"
#include "libtorv/types.h"

namespace torv {

using libtorv::image_view;

// What a sink says after taking an image.
enum class flow : std::uint8_t { go_on, stop };

// Takes an image (valid during the call only); a failure stops the
// conversion and is handed back.
using image_sink = std::function<result<flow>(const image_view&)>;

// Hands every image of the file open as `in`, of layout `format`, to `sink`
// in order, each assembled in `canvas` (largest_image_bytes() bytes) and
// named after `prefix`, from the record at `from` on. Bytes the file or a
// block does not hold read as 0. Gives stop if the sink said so, or the
// sink's first failure. No memory throws std::bad_alloc.
result<flow> unpack_images(const layout& format, input_stream& in, std::string_view prefix,
                           std::span<std::uint8_t> canvas, const image_sink& sink, record_point from = {});

// True if `from` can be where a record of a file of `format` begins: the
// start, or (in a walk of records) an aligned offset inside the file no
// nearer its start than `from.number` records take.
bool is_record_point(const layout& format, record_point from);

}  // namespace torv
