// Colours as the eye tells them apart: OKLab (Björn Ottosson's, 2020), a
// space where the Euclidean distance between two colours follows how
// different they look, lightness L from 0 to 1 and a, b the colour's
// green-red and blue-yellow axes. Every colour difference torv judges is
// measured here.
//
//   sRGB 8-bit -> linear light -> LMS cone response -> cube root -> OKLab
#pragma once

#include <array>
#include <cstdint>

#include "image/palette.h"

namespace torv {

struct oklab {
    float l = 0;
    float a = 0;
    float b = 0;
};

// The colour of 8-bit sRGB channels.
oklab oklab_of(rgb8 colour);

// The 8-bit sRGB colour nearest an OKLab one (each channel rounded and
// clamped), and the game's colour (rgb15) nearest it: each channel's
// nearest level, 0 to 31, as torv writes them (level x 8).
rgb8 rgb8_of(const oklab& colour);
std::uint16_t rgb15_nearest(const oklab& colour);

// The colour the game shows for an entry, as torv writes it.
oklab oklab_of_rgb15(std::uint16_t rgb15);

// The squared distance between two colours: how different they look.
inline float distance_squared(const oklab& x, const oklab& y) {
    const float dl = x.l - y.l, da = x.a - y.a, db = x.b - y.b;
    return dl * dl + da * da + db * db;
}

// A colour as torv weighs differences between colours: its OKLab
// coordinates, and beside them its sRGB channels (0 to 1) scaled by
// sqrt(srgb_share), so that the squared distance between two is OKLab's plus
// a small share of sRGB's. For most colours OKLab's part is the larger by
// far; saturated colours that OKLab puts close together (a pure green, and
// that green with an eighth of red) still count as apart, as a game's flat
// areas of web colours need.
inline constexpr float srgb_share = 0.1f;

struct colour_point {
    std::array<float, 6> x{};
};

colour_point point_of(rgb8 colour);
colour_point point_of_rgb15(std::uint16_t rgb15);

inline float distance_squared(const colour_point& p, const colour_point& q) {
    float sum = 0;
    for (std::size_t k = 0; k < p.x.size(); ++k) {
        const float d = p.x[k] - q.x[k];
        sum += d * d;
    }
    return sum;
}

// The game's colour nearest a point: its OKLab part's, or its sRGB part's,
// whichever is nearer it.
std::uint16_t rgb15_nearest(const colour_point& point);

// A channel's 8-bit value nearest to the game's level it stands for: the
// nearest of 0, 8, ..., 248 (255 and 252 are 248; halfway, the lower, as
// torv stores a new colour), as the game shows it.
inline std::uint8_t at_game_level(std::uint8_t value) {
    const unsigned level = (value + 3u) / 8u;
    return static_cast<std::uint8_t>(level > 31 ? 248 : level * 8);
}

inline rgb8 at_game_levels(rgb8 colour) {
    return {at_game_level(colour.red), at_game_level(colour.green), at_game_level(colour.blue)};
}

}  // namespace torv
