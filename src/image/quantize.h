// Pictures of any colours onto a palette of the game's: the colours chosen
// for the pictures that share a palette, then each pixel mapped to the entry
// that looks nearest (OKLab), with or without dithering.
//
//   histogram of the pictures' colours at the game's precision
//     -> median cut in OKLab: boxes split where the error drops the most
//     -> k-means (Lloyd's iterations) in OKLab, the palette's own colours
//        taking part where they are kept, each colour snapped to the game's
//        levels and refined again there
//     -> each pixel mapped to the nearest entry, or error-diffused
//        (Floyd-Steinberg, serpentine, in OKLab, the error damped)
//
// Everything here is deterministic: the same pictures give the same
// palette and indices on any machine and for any number of threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "image/palette.h"

namespace torv {

// A game colour and how much the pictures show it.
struct weighted_colour {
    std::uint16_t rgb15 = 0;
    double weight = 0;
};

// Adds the pixels' colours, each at the game's level nearest it and counted
// `weight` times, to a histogram of 32 768 bins (by rgb15).
void add_to_histogram(std::span<const rgb8> pixels, std::vector<double>& bins, double weight = 1);

// The bins that hold anything, as weighted colours.
std::vector<weighted_colour> colours_of(const std::vector<double>& bins);

// Up to `count` game colours for the histogram, chosen beside the `fixed`
// colours the palette keeps (which pixels may take too): the colours whose
// nearest-entry map loses the least, as OKLab judges. Fewer when the
// histogram holds fewer colours than that.
std::vector<std::uint16_t> choose_colours(std::span<const weighted_colour> histogram,
                                          std::span<const std::uint16_t> fixed, std::size_t count);

// Which entries of a palette pixels may take.
using usable_entries = std::array<bool, palette_entries>;

// Each pixel's entry: the one that looks nearest (the lowest of entries
// alike), or with `dither` the one error diffusion gives.
std::vector<std::uint8_t> map_to_palette(std::span<const rgb8> pixels, std::int32_t width, std::int32_t height,
                                         const rgb15_palette& palette, const usable_entries& usable, bool dither);

// The pixels as the game shows an image: each index's palette colour.
std::vector<rgb8> shown_colours(std::span<const std::uint8_t> indices, const rgb15_palette& palette);

// The pixels as the game would show them at best: each channel at its
// nearest level (what any palette is measured against).
std::vector<rgb8> at_game_levels(std::span<const rgb8> pixels);

}  // namespace torv
