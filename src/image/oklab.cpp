#include "image/oklab.h"

#include <algorithm>
#include <cmath>

namespace torv {

namespace {

// sRGB's transfer curve, a table for the 256 values of a channel.
const std::array<float, 256>& linear_of_value() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> made{};
        for (std::size_t k = 0; k < made.size(); ++k) {
            const double c = static_cast<double>(k) / 255.0;
            made[k] = static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        return made;
    }();
    return table;
}

float value_of_linear(float linear) {
    const double c = std::clamp(static_cast<double>(linear), 0.0, 1.0);
    return static_cast<float>(255.0 * (c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055));
}

// The game's 32 768 colours as points, each once.
const std::array<colour_point, 1 << 15>& game_point_table() {
    static const std::array<colour_point, 1 << 15> table = [] {
        std::array<colour_point, 1 << 15> made{};
        for (std::size_t k = 0; k < made.size(); ++k) {
            made[k] = point_of(rgb8_of(static_cast<std::uint16_t>(k)));
        }
        return made;
    }();
    return table;
}

// The game's 32 768 colours, each once.
const std::array<oklab, 1 << 15>& game_colour_table() {
    static const std::array<oklab, 1 << 15> table = [] {
        std::array<oklab, 1 << 15> made{};
        for (std::size_t k = 0; k < made.size(); ++k) {
            made[k] = oklab_of(rgb8_of(static_cast<std::uint16_t>(k)));
        }
        return made;
    }();
    return table;
}

}  // namespace

oklab oklab_of(rgb8 colour) {
    const std::array<float, 256>& linear = linear_of_value();
    const float r = linear[colour.red], g = linear[colour.green], b = linear[colour.blue];
    const float l = std::cbrt(0.4122214708f * r + 0.5363325363f * g + 0.0514459929f * b);
    const float m = std::cbrt(0.2119034982f * r + 0.6806995451f * g + 0.1073969566f * b);
    const float s = std::cbrt(0.0883024619f * r + 0.2817188376f * g + 0.6299787005f * b);
    return {0.2104542553f * l + 0.7936177850f * m - 0.0040720468f * s,
            1.9779984951f * l - 2.4285922050f * m + 0.4505937099f * s,
            0.0259040371f * l + 0.7827717662f * m - 0.8086757660f * s};
}

rgb8 rgb8_of(const oklab& colour) {
    const float l_ = colour.l + 0.3963377774f * colour.a + 0.2158037573f * colour.b;
    const float m_ = colour.l - 0.1055613458f * colour.a - 0.0638541728f * colour.b;
    const float s_ = colour.l - 0.0894841775f * colour.a - 1.2914855480f * colour.b;
    const float l = l_ * l_ * l_, m = m_ * m_ * m_, s = s_ * s_ * s_;
    const float r = 4.0767416621f * l - 3.3077115913f * m + 0.2309699292f * s;
    const float g = -1.2684380046f * l + 2.6097574011f * m - 0.3413193965f * s;
    const float b = -0.0041960863f * l - 0.7034186147f * m + 1.7076147010f * s;
    auto channel = [](float linear) {
        return static_cast<std::uint8_t>(std::lround(std::clamp(value_of_linear(linear), 0.0f, 255.0f)));
    };
    return {channel(r), channel(g), channel(b)};
}

std::uint16_t rgb15_nearest(const oklab& colour) {
    return rgb15_of(at_game_levels(rgb8_of(colour)));
}

oklab oklab_of_rgb15(std::uint16_t rgb15) {
    return game_colour_table()[rgb15 & 0x7FFF];
}

colour_point point_of(rgb8 colour) {
    static const float scale = std::sqrt(srgb_share) / 255.0f;
    const oklab lab = oklab_of(colour);
    return {{lab.l, lab.a, lab.b, colour.red * scale, colour.green * scale, colour.blue * scale}};
}

colour_point point_of_rgb15(std::uint16_t rgb15) {
    return game_point_table()[rgb15 & 0x7FFF];
}

std::uint16_t rgb15_nearest(const colour_point& point) {
    const std::uint16_t by_lab = rgb15_nearest(oklab{point.x[0], point.x[1], point.x[2]});
    const float scale = 255.0f / std::sqrt(srgb_share);
    auto channel = [&](float v) {
        return at_game_level(static_cast<std::uint8_t>(std::lround(std::clamp(v * scale, 0.0f, 255.0f))));
    };
    const std::uint16_t by_srgb = rgb15_of(rgb8{channel(point.x[3]), channel(point.x[4]), channel(point.x[5])});
    return distance_squared(point, point_of_rgb15(by_srgb)) < distance_squared(point, point_of_rgb15(by_lab)) ? by_srgb
                                                                                                              : by_lab;
}

}  // namespace torv
