// The game's colours as an edited file stores them. The game shows 15-bit
// colour: 32 levels a channel, which torv writes as 0, 8, ..., 248. Editors
// do not always give those values back as they were:
//
//   stored in       stands for the level(s)
//   an 8-bit value  the nearest: 255 and 252 are 31 (248); 244, halfway
//                   between 240 and 248, is 30 or 31
//   5 bits, s       s (torv's way: the top bits), or a level that scaling
//                   (rounded, as GIMP does: 248 is 30; or cut, as
//                   ImageMagick does: 128 is 15) turns into s
//   6 bits, s       s >> 1, or a level that scaling turns into s
//
// so a stored colour stands for one to 27 game colours, a channel's levels
// being one to three in a row. An 8-bit file whose every value is a five-bit
// value scaled (and not all torv's own) is taken as five bits a channel.
#pragma once

#include <array>
#include <cstdint>

#include "image/palette.h"
#include "image/picture.h"

namespace torv {

inline constexpr unsigned game_levels = 32;

// The levels one channel's value stands for, first to last, and the one a
// new colour is stored as (the nearest; the lower halfway; the top bits of
// fewer bits).
struct level_range {
    std::uint8_t first = 0;
    std::uint8_t last = 0;
    std::uint8_t stored = 0;
};

// The levels a channel's 8-bit value stands for, as a file that stored it in
// `form` keeps it (see picture::bits).
level_range levels_of(std::uint8_t value, channel_form form = {});

// The game colours (rgb15, bit 15 clear) a stored colour stands for.
struct game_colours {
    std::array<std::uint16_t, 27> colours{};
    std::uint8_t count = 0;

    bool contains(std::uint16_t rgb15) const {
        for (std::uint8_t k = 0; k < count; ++k) {
            if (colours[k] == rgb15)
                return true;
        }
        return false;
    }
};
game_colours game_colours_of(rgb8 colour, channel_bits bits = {});

// The one game colour a colour no palette entry matches is stored as.
std::uint16_t stored_as(rgb8 colour, channel_bits bits = {});

// The colour's channels in the game's levels, 0 to 31 each: as stored.
std::array<std::uint8_t, 3> levels_in_game(rgb8 colour, channel_bits bits = {});

// Takes an 8-bit picture whose colours are all five-bit values scaled to 8
// bits, some of them not torv's own, as five bits a channel (the colours
// stay as they are; picture::bits says how to read them).
void take_five_bit_save(picture& image);

}  // namespace torv
