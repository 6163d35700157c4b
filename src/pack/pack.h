// Packing images into a source file of a layout: the way back from what torv
// writes. With an original file, whatever the images do not change keeps the
// original's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "format/layouts.h"
#include "image/picture.h"
#include "io/input.h"

namespace torv {

struct pack_options {
    bool nearest = false;  // colours the palette lacks go to the nearest one
    unsigned jobs = 0;     // threads for compressing; 0: one per core
};

// The images to pack, in the layout's order (for a frame sequence: frame 0,
// 1, ...). load(k, max_pixels) reads image k, refusing larger pictures.
struct image_source {
    std::size_t count = 0;
    std::function<std::string(std::size_t)> name;
    std::function<picture_read(std::size_t, std::size_t)> load;
};

using byte_sink = std::function<void(std::span<const std::uint8_t>)>;

struct pack_outcome {
    std::vector<std::string> report;  // on success: what went where, and the room used
    std::vector<std::string> notes;   // what a person should know even on success
    std::string error;                // empty on success; nothing was written then
};

// Packs the images as a file of layout `format`, written front to back to
// `out`. `original` (or nullptr) is the file they came from.
pack_outcome pack(const layout& format, const image_source& images, input_stream* original, const pack_options& options,
                  const byte_sink& out);

}  // namespace torv
