// Synthetic source files: recognisable pictures (gradients and shapes) with a
// different palette per image, written in the source layouts torv reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace torv::samples {

using bytes = std::vector<std::uint8_t>;

// 256 rgb15 entries (512 bytes); each variant is a different colour scheme.
bytes make_palette(int variant);

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

// `data` followed by zeros up to `size` bytes; throws if it is longer.
bytes pad_to(bytes data, std::size_t size);

}  // namespace torv::samples
