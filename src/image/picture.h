// A picture as an image file holds it: indexed (one index per pixel into its
// own colour table) or true colour (one colour per pixel).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/palette.h"

namespace torv {

// What a file stored of one colour channel: 8 bits for most files; fewer in
// a 16-bit BMP (5 or 6). The 8-bit value here is then the stored value
// shifted left (`scaled` false: five bits, as torv writes colours) or
// scaled to 255 (`scaled` true: other widths, and 8-bit files that hold
// five-bit values scaled, as some editors save). A stored value may stand
// for more than one of the game's 32 levels: editors round differently (see
// pack/game_colours.h).
struct channel_form {
    std::uint8_t bits = 8;
    bool scaled = false;
    friend bool operator==(const channel_form&, const channel_form&) = default;
};

struct channel_bits {
    channel_form red;
    channel_form green;
    channel_form blue;
    friend bool operator==(const channel_bits&, const channel_bits&) = default;
};

struct picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool indexed = false;
    channel_bits bits;                  // what the file stored of each channel (of the table, if indexed)
    std::vector<std::uint8_t> indices;  // indexed: width x height, row-major, top row first
    std::vector<rgb8> table;            // indexed: the colour table, 1 to 256 entries
    std::vector<rgb8> colours;          // true colour: width x height, row-major, top row first

    // The colour of pixel `at` (row-major), whichever kind the picture is.
    rgb8 colour_at(std::size_t at) const { return indexed ? table[indices[at]] : colours[at]; }
};

}  // namespace torv
