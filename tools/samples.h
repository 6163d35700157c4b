// Synthetic source files: recognisable pictures (gradients and shapes) with a
// different palette per image, written in the source layouts torv reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/layouts.h"

namespace torv::samples {

using bytes = std::vector<std::uint8_t>;

// 256 rgb15 entries (512 bytes); each variant is a different colour scheme,
// and `shift` rotates the ramp (for palettes that change from frame to frame).
bytes make_palette(int variant, int shift = 0);

// A width x height picture of palette indices, row-major, top row first: a
// diagonal gradient with a disc, a frame and bands that depend on the variant
// and on `phase` (which moves the shapes, for animations).
bytes make_picture(int width, int height, int variant, int phase = 0);

// The uncompressed layout: three palettes, then three 640x480 pictures.
bytes make_raw_triple();

// The three single-block layouts, each at its exact file size: the block is
// followed by zeros up to that size.
bytes make_three_panel_block();
bytes make_single_picture_block();
bytes make_four_image_block();

// The frame-sequence layout: 9,486,336 bytes of records, each a palette and a
// block of one 320x224 frame in 16x8 tiles, on 2048-byte boundaries.
inline constexpr auto frame_sequence_size = static_cast<std::size_t>(frame_sequence_layout.file_size);
inline constexpr auto record_unit = static_cast<std::size_t>(frame_sequence_layout.record_alignment);

// A 320x224 picture (row-major) in tile order: 20x28 tiles of 16x8 pixels in
// raster order, each tile's rows top row first.
bytes to_tiles(const bytes& picture);

// One record: the palette, then the block of `tiles`. With `units` > 0 the
// block is followed by ignored filler data so that it ends in the record's
// units-th 2048-byte unit; the record is returned padded to its boundary.
bytes make_frame_record(const bytes& palette, const bytes& tiles, std::size_t units = 0);

// A short animation (moving shapes, changing palettes) whose records fill the
// whole file, so every record is a real frame.
bytes make_frame_sequence(int frames = 60);

// As many highly compressible frames as fit (926 at five units each), the
// last record stretched to the end of the file: the benchmark's input.
bytes make_dense_frame_sequence();

// The exact size of a layout's files.
inline std::size_t size_of(const layout& format) {
    return static_cast<std::size_t>(format.file_size);
}

// `data` followed by zeros up to `size` bytes; throws if it is longer.
bytes pad_to(bytes data, std::size_t size);

}  // namespace torv::samples
