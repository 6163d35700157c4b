// Choosing the palette and the indices that images sharing one palette are
// stored with. With an original, its palette and indices are kept wherever
// the images allow, since a game may depend on them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/image.h"
#include "image/palette.h"
#include "image/picture.h"
#include "io/result.h"
#include "libtorv/types.h"

namespace torv {

using libtorv::option_words;

// How the note that counts an image's pixels mapped to the nearest colour
// ends: "four2.png: 120 pixels mapped to the nearest palette colour".
inline constexpr std::string_view nearest_note_ending = " mapped to the nearest palette colour";

// One image stored with a palette.
struct palette_user {
    std::string_view name;  // its file, for messages
    const picture* image = nullptr;
    // Its indices in the original file, row-major (empty without one): where
    // a colour stands at several indices, each pixel keeps its own.
    std::span<const std::uint8_t> original_indices;
};

struct fitted_palette {
    rgb15_palette palette{};                         // the colours; bit 15 is left to the caller
    std::vector<std::vector<std::uint8_t>> indices;  // per user, row-major
    std::vector<std::string> notes;                  // what a person should know
};

// Fits the images to one palette. Colours are matched at the game's
// precision (pack/game_colours.h): a pixel's stored colour stands for one to
// eight game colours, and
// - an indexed image whose colour table stands for the palette's colour at
//   every index it uses keeps its indices;
// - otherwise each pixel takes its original index when that entry holds one
//   of the colours it stands for; else the one entry that does; several
//   entries of different colours are ambiguous, refused (with `nearest`: the
//   nearer, then the lower index); none makes it a new colour;
// - with an original, every entry some image still shows keeps its colour at
//   its index; new colours that indexed images bring go into entries no image
//   shows (the image's own index for the colour, if that one is free), and
//   when they outnumber the free entries that is an error saying both counts;
// - without one, the first indexed image's colour table is the palette and
//   new colours take indices no image has claimed yet;
// - a new colour in a true-colour image is an error, and so is one with no
//   place; with `nearest` either takes the nearest colour of the palette.
// A new colour is stored as its nearest level. A note counts the pixels of
// each image matched by rounding. Messages name options as `words` says.
result<fitted_palette> fit_palette(std::span<const palette_user> users, const rgb15_palette* original, bool nearest,
                                   const option_words& words = {});

}  // namespace torv
