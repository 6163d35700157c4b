// A picture as an image file holds it: indexed (one index per pixel into its
// own colour table) or true colour (one colour per pixel).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/palette.h"

namespace torv {

struct picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool indexed = false;
    std::vector<std::uint8_t> indices;  // indexed: width x height, row-major, top row first
    std::vector<rgb8> table;            // indexed: the colour table, 1 to 256 entries
    std::vector<rgb8> colours;          // true colour: width x height, row-major, top row first

    // The colour of pixel `at` (row-major), whichever kind the picture is.
    rgb8 colour_at(std::size_t at) const { return indexed ? table[indices[at]] : colours[at]; }
};

}  // namespace torv
