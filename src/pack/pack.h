// Packing images into a source file of a layout: the way back from what torv
// writes. With an original file, whatever the images do not change keeps the
// original's bytes.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "format/layouts.h"
#include "image/picture.h"
#include "io/input.h"
#include "io/result.h"
#include "libtorv/types.h"

namespace torv {

using libtorv::byte_writer;
using libtorv::image_folder;
using libtorv::original_record;
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
// `out`. `original` (or nullptr) is the file they came from; for a frame
// sequence `records` are its records if the caller has walked them already
// (walk_records), else nullptr. settings.jobs is the number of threads for
// compressing (at least 1); the file is the same for every number.
// settings.layout is not looked at; settings.prepared holds batches of
// prepare_frames for the same arguments.
result<pack_result> pack(const layout& format, std::span<const image_file> files, const image_folder& folder,
                         input_stream* original, const pack_settings& settings, const byte_writer& out,
                         const std::vector<original_record>* records = nullptr);

// The records of a frame sequence's original, in order.
std::vector<original_record> walk_records(const layout& format, input_stream& original);

// Frames [first, first + count) of a frame sequence, prepared as pack()
// with the same arguments prepares them: a batch for settings.prepared (see
// pack/prepared_frames.h). A frame whose preparing fails ends the batch,
// with its failure, which pack() then meets in its turn.
libtorv::frame_batch prepare_frames(const layout& format, std::span<const image_file> files, const image_folder& folder,
                                    input_stream* original, const std::vector<original_record>* records,
                                    const pack_settings& settings, std::size_t first, std::size_t count);

}  // namespace torv
