// Fitting a block into its room with the least visible change: where the
// block's images would take more bytes than the layout has, some of their
// pixels take the colour of a pixel the compressor can copy, wherever that
// saves more bits than the difference it makes is worth.
//
//   for a weight lambda (bits a unit of OKLab difference squared is worth):
//     the data is walked front to back; at each byte the copies that the
//     decoder could make (from the pixel to the left, above, the same place
//     a tile before, or a stretch met before) are weighed: the bits a copy
//     of length L saves against L literals (9L - 17) less lambda times the
//     difference it makes to the colours wanted; the best copy is taken
//     where it gains, else the byte is kept
//     -> the changed data, compressed as small as the format allows
//   lambda is searched: the largest (least change) whose block fits
//
// Bytes that are not pixels of an image being fitted (palettes, images kept
// as they are) are never changed: a copy may cover them only where it
// gives them back exactly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/oklab.h"
#include "io/result.h"

namespace torv {

// An image whose pixels may change, as it lies in the block.
struct alterable_image {
    std::size_t palette = 0;           // into alterable_block::palettes
    std::vector<std::size_t> bytes;    // the block byte of each pixel, row-major
    std::vector<colour_point> wanted;  // the colour each pixel should show
    std::int32_t width = 0;
    bool tiled = false;  // stored as 16x8 tiles
    // How much a difference in this image counts against one in the others
    // of the block: more where its quality should rise at their expense.
    float weight = 1;
};

struct alterable_block {
    std::vector<std::uint8_t> data;  // the block's decoded content, as it would be packed unchanged
    std::vector<std::array<colour_point, 256>> palettes;
    std::vector<alterable_image> images;
};

// The data with pixels changed where a copy gains at `lambda`.
std::vector<std::uint8_t> lossy_content(const alterable_block& block, double lambda);

struct fitted_block {
    std::vector<std::uint8_t> content;  // the data as changed
    std::vector<std::uint8_t> block;    // compressed
    double lambda = 0;
};

// The change that fits `room` bytes compressed with the least difference:
// the data unchanged if it fits already; the largest lambda that fits, found
// on `jobs` threads (the same for every number). block_too_large only if
// even changing every pixel that may change cannot make it fit.
result<fitted_block> fit_into_room(const alterable_block& block, std::size_t room, unsigned jobs);

}  // namespace torv
