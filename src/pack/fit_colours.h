// Pictures of any colours fitted to a palette they share (packing's --fit):
// where the palette cannot take the edited images' colours as they are (a
// true-colour picture, or more new colours than free entries), colours are
// chosen for them (image/quantize.h), and each pixel takes the entry that
// looks nearest.
//
//   images that show the original's image as it was: their indices and
//     the entries they show are kept
//   every other entry is free: it takes a colour chosen for the edited
//     images together, the kept entries' colours counting too
#pragma once

#include <span>
#include <vector>

#include "image/quantize.h"
#include "pack/fit_palette.h"

namespace torv {

// The palette and indices for users of one palette, with a note for each
// edited image saying what was done.
fitted_palette fit_colours(std::span<const palette_user> users, const rgb15_palette* original);

// The pixels of a picture at the game's levels, as the file stored them (a
// five-bit save's values read as five bits).
std::vector<rgb8> game_pixels(const picture& image);

// True if the picture shows the original's image as it was: every pixel the
// colour of its original index (at the game's precision).
bool shows_original(const palette_user& user, const rgb15_palette& original);

}  // namespace torv
