#include "pack/game_colours.h"

#include <algorithm>
#include <cmath>

namespace torv {

namespace {

constexpr int level_step = 8;  // torv writes level k as 8k
constexpr int last_level = static_cast<int>(game_levels) - 1;
constexpr std::uint8_t five_bits = 5;

int clamped(double level) {
    return std::clamp(static_cast<int>(std::floor(level)), 0, last_level);
}

// The levels nearest an 8-bit value: one, or two halfway.
level_range nearest_levels(int value) {
    const int below = std::min(value / level_step, last_level);
    const int above = std::min(below + 1, last_level);
    const int from_below = value - level_step * below;
    const int to_above = level_step * above - value;
    const auto b = static_cast<std::uint8_t>(below);
    const auto a = static_cast<std::uint8_t>(above);
    if (above == below || from_below < to_above)
        return {b, b, b};
    if (from_below > to_above)
        return {a, a, a};
    return {b, a, b};
}

// The value a channel of `form` stored, from its 8-bit form here.
int stored_value(std::uint8_t value, channel_form form) {
    const int most = (1 << form.bits) - 1;
    return form.scaled ? (value * most + 127) / 255 : value >> (8 - form.bits);
}

// True if a value is a five-bit value scaled to 8 bits, rounded or cut.
bool is_scaled_five_bit(std::uint8_t value) {
    constexpr int most = (1 << five_bits) - 1;
    const int stored = (value * most + 127) / 255;
    return (stored * 255 + most / 2) / most == value || stored * 255 / most == value;
}

}  // namespace

level_range levels_of(std::uint8_t value, channel_form form) {
    if (form.bits >= 8 && !form.scaled) {
        return nearest_levels(value);
    }
    const int bits = std::min<int>(form.bits, 8);
    const int stored = stored_value(value, {static_cast<std::uint8_t>(bits), form.scaled});
    const double most = (1 << bits) - 1;
    // The top bits of the 8-bit value, as torv keeps five.
    const int truncated = std::min(((stored << (8 - bits)) & 0xFF) / level_step, last_level);
    // Levels that scaling to `bits` bits turns into `stored`: rounded,
    // 8L * most / 255 within half a step of it; cut, within the step above.
    const double per_level = 255.0 / (level_step * most);
    const int lowest = clamped(std::ceil((stored - 0.5) * per_level));
    const int highest = clamped(std::nextafter((stored + 1) * per_level, 0.0));
    const auto first = static_cast<std::uint8_t>(std::min(truncated, lowest));
    const auto last = static_cast<std::uint8_t>(std::max(truncated, highest));
    return {first, last, static_cast<std::uint8_t>(truncated)};
}

game_colours game_colours_of(rgb8 colour, channel_bits bits) {
    const level_range red = levels_of(colour.red, bits.red);
    const level_range green = levels_of(colour.green, bits.green);
    const level_range blue = levels_of(colour.blue, bits.blue);
    game_colours out;
    for (int r = red.first; r <= red.last; ++r) {
        for (int g = green.first; g <= green.last; ++g) {
            for (int b = blue.first; b <= blue.last; ++b) {
                out.colours[out.count++] = static_cast<std::uint16_t>(r | g << 5 | b << 10);
            }
        }
    }
    return out;
}

std::uint16_t stored_as(rgb8 colour, channel_bits bits) {
    const std::array<std::uint8_t, 3> levels = levels_in_game(colour, bits);
    return static_cast<std::uint16_t>(levels[0] | levels[1] << 5 | levels[2] << 10);
}

std::array<std::uint8_t, 3> levels_in_game(rgb8 colour, channel_bits bits) {
    return {levels_of(colour.red, bits.red).stored, levels_of(colour.green, bits.green).stored,
            levels_of(colour.blue, bits.blue).stored};
}

void take_five_bit_save(picture& image) {
    if (!(image.bits == channel_bits{})) {
        return;
    }
    bool all_scaled = true;
    bool some_not_torvs = false;
    auto look = [&](rgb8 c) {
        for (const std::uint8_t value : {c.red, c.green, c.blue}) {
            all_scaled = all_scaled && is_scaled_five_bit(value);
            some_not_torvs = some_not_torvs || value % level_step != 0;
        }
    };
    if (image.indexed) {
        // A table of torv's own colours alone (as torv's BMPs hold) is no
        // five-bit save, whichever entries the pixels use.
        if (std::all_of(image.table.begin(), image.table.end(), [](rgb8 c) {
                return c.red % level_step == 0 && c.green % level_step == 0 && c.blue % level_step == 0;
            })) {
            return;
        }
        std::array<bool, palette_entries> used{};
        for (const std::uint8_t index : image.indices) used[index] = true;
        for (std::size_t k = 0; k < image.table.size() && all_scaled; ++k) {
            if (used[k])
                look(image.table[k]);
        }
    } else {
        for (std::size_t at = 0; at < image.colours.size() && all_scaled; ++at) look(image.colours[at]);
    }
    if (all_scaled && some_not_torvs) {
        const channel_form scaled_five{five_bits, true};
        image.bits = {scaled_five, scaled_five, scaled_five};
    }
}

}  // namespace torv
