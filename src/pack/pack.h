// Packing images into a source file of a layout: the way back from what torv
// writes. With an original file, whatever the images do not change keeps the
// original's bytes.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "format/layouts.h"
#include "image/picture.h"
#include "io/input.h"
#include "io/result.h"
#include "libtorv/types.h"

namespace torv {

using libtorv::byte_writer;
using libtorv::image_folder;
using libtorv::pack_result;
using libtorv::pack_settings;

// One image's file, as found in the folder: its name, and whether it is a
// PNG (else a BMP).
struct image_file {
    std::string name;
    bool png = false;
    bool as_original = false;  // the original's image unchanged: taken from the original, not read
};

// Reads the picture in `file` from `folder`, refusing one of more than
// `max_pixels` pixels and a file far larger than such a picture needs.
result<picture> read_image_file(const image_folder& folder, const image_file& file, std::size_t max_pixels);

// Packs the images in `files` (in the layout's order; for a frame sequence
// frame 0, 1, ...) as a file of layout `format`, written front to back to
// `out`. `original` (or nullptr) is the file they came from. settings.jobs
// is the number of threads for compressing (at least 1); the file is the
// same for every number. settings.layout is not looked at.
result<pack_result> pack(const layout& format, std::span<const image_file> files, const image_folder& folder,
                         input_stream* original, const pack_settings& settings, const byte_writer& out);

}  // namespace torv
