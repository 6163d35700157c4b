#include "pack/fit_palette.h"

#include <array>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>

namespace torv {

namespace {

constexpr std::uint16_t colour_bits = 0x7FFF;
constexpr int no_index = -1;

// The palette being fitted: a colour per index, or none yet.
struct palette_state {
    std::array<std::optional<std::uint16_t>, palette_entries> colour{};
    std::array<int, 1 << 15> first_index;  // by rgb15 colour

    palette_state() { first_index.fill(no_index); }

    void set(std::size_t index, std::uint16_t rgb15) {
        colour[index] = rgb15;
        if (first_index[rgb15] == no_index || first_index[rgb15] > static_cast<int>(index)) {
            first_index[rgb15] = static_cast<int>(index);
        }
    }
    // After colours were overwritten: the first index of every colour anew.
    void index_colours() {
        first_index.fill(no_index);
        for (std::size_t k = palette_entries; k-- > 0;) {
            if (colour[k])
                first_index[*colour[k]] = static_cast<int>(k);
        }
    }
    int free_index() const {
        for (std::size_t k = 0; k < palette_entries; ++k) {
            if (!colour[k])
                return static_cast<int>(k);
        }
        return no_index;
    }
};

std::string hex_colour(rgb8 c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.red, c.green, c.blue);
    return text;
}

std::string pixel_at(const picture& image, std::size_t at) {
    const auto width = static_cast<std::size_t>(image.width);
    return "pixel (" + std::to_string(at % width) + ", " + std::to_string(at / width) + ")";
}

// True if some colour the image uses has bits below the top five.
using index_set = std::array<bool, palette_entries>;

// The indices an indexed image uses.
index_set used_indices(const picture& image) {
    index_set used{};
    for (const std::uint8_t index : image.indices) used[index] = true;
    return used;
}

bool loses_low_bits(const picture& image, const index_set& used) {
    auto inexact = [](rgb8 c) { return ((c.red | c.green | c.blue) & 7) != 0; };
    if (image.indexed) {
        for (std::size_t k = 0; k < image.table.size(); ++k) {
            if (used[k] && inexact(image.table[k]))
                return true;
        }
        return false;
    }
    for (const rgb8 c : image.colours) {
        if (inexact(c))
            return true;
    }
    return false;
}

// True if the image's colour table agrees with the palette at every index it
// uses (indices with no colour yet agree with anything).
bool agrees(const picture& image, const index_set& used, const palette_state& state) {
    for (std::size_t k = 0; k < image.table.size(); ++k) {
        if (used[k] && state.colour[k] && *state.colour[k] != rgb15_of(image.table[k])) {
            return false;
        }
    }
    return true;
}

// True if the indexed image uses a colour that the palette has nowhere.
bool brings_new_colours(const picture& image, const index_set& used, const palette_state& state) {
    for (std::size_t k = 0; k < image.table.size(); ++k) {
        if (used[k] && state.first_index[rgb15_of(image.table[k])] == no_index) {
            return true;
        }
    }
    return false;
}

int nearest_index(const palette_state& state, rgb8 c) {
    int best = no_index;
    long best_distance = std::numeric_limits<long>::max();
    for (std::size_t k = 0; k < palette_entries; ++k) {
        if (!state.colour[k])
            continue;
        const rgb8 p = rgb8_of(*state.colour[k]);
        const long dr = p.red - c.red, dg = p.green - c.green, db = p.blue - c.blue;
        const long distance = dr * dr + dg * dg + db * db;
        if (distance < best_distance) {
            best_distance = distance;
            best = static_cast<int>(k);
        }
    }
    return best;
}

struct mapping_outcome {
    std::vector<std::uint8_t> indices;
    std::size_t nearest_pixels = 0;
    std::string error;
};

// Maps every pixel to an index by its colour.
mapping_outcome map_by_colour(const palette_user& user, palette_state& state, bool nearest) {
    const picture& image = *user.image;
    const std::size_t count = pixel_count(image.width, image.height);
    mapping_outcome out;
    out.indices.resize(count);
    const bool has_original = user.original_indices.size() == count;
    for (std::size_t at = 0; at < count; ++at) {
        const rgb8 c = image.colour_at(at);
        const std::uint16_t rgb15 = rgb15_of(c);
        if (has_original) {
            const std::uint8_t before = user.original_indices[at];
            if (state.colour[before] == rgb15) {
                out.indices[at] = before;
                continue;
            }
        }
        int index = state.first_index[rgb15];
        if (index == no_index) {
            index = state.free_index();
            if (index != no_index) {
                state.set(static_cast<std::size_t>(index), rgb15);
            }
        }
        if (index == no_index && nearest) {
            index = nearest_index(state, c);
            ++out.nearest_pixels;
        }
        if (index == no_index) {
            out.error = std::string(user.name) + ": " + pixel_at(image, at) + " has colour " + hex_colour(c) +
                        ", which the palette";
            return out;
        }
        out.indices[at] = static_cast<std::uint8_t>(index);
    }
    return out;
}

// The names of the users other than `except`.
std::string names_of(std::span<const palette_user> users, const palette_user& except) {
    std::string names;
    for (const palette_user& user : users) {
        if (&user == &except)
            continue;
        names += names.empty() ? "" : ", ";
        names += user.name;
    }
    return names;
}

}  // namespace

fitted_palette fit_palette(std::span<const palette_user> users, const rgb15_palette* original, bool nearest) {
    fitted_palette result;
    auto state = std::make_unique<palette_state>();
    if (original != nullptr) {
        for (std::size_t k = 0; k < palette_entries; ++k) {
            state->set(k, static_cast<std::uint16_t>((*original)[k] & colour_bits));
        }
    }
    // Each indexed image's indices in use, found once.
    std::vector<index_set> used(users.size());
    for (std::size_t u = 0; u < users.size(); ++u) {
        if (users[u].image->indexed)
            used[u] = used_indices(*users[u].image);
    }
    // The palette edit, if any: the first indexed image with colours the
    // original lacks (or, without an original, the first indexed image) sets
    // the palette from its own colour table.
    for (std::size_t u = 0; u < users.size(); ++u) {
        const palette_user& user = users[u];
        const picture& image = *user.image;
        if (!image.indexed || (original != nullptr && !brings_new_colours(image, used[u], *state))) {
            continue;
        }
        for (std::size_t k = 0; k < image.table.size(); ++k) {
            state->colour[k] = rgb15_of(image.table[k]);
        }
        state->index_colours();
        if (original != nullptr) {
            result.notes.push_back(std::string(user.name) +
                                   ": brings colours the original palette lacks; its colour table becomes the palette");
        }
        break;
    }

    for (std::size_t u = 0; u < users.size(); ++u) {
        const palette_user& user = users[u];
        const picture& image = *user.image;
        if (loses_low_bits(image, used[u])) {
            result.notes.push_back(std::string(user.name) +
                                   ": some colours have channels the format cannot show exactly (it keeps the top "
                                   "five bits of each)");
        }
        if (image.indexed && agrees(image, used[u], *state)) {
            for (std::size_t k = 0; k < image.table.size(); ++k) {
                if (used[u][k] && !state->colour[k])
                    state->set(k, rgb15_of(image.table[k]));
            }
            result.indices.push_back(image.indices);
            continue;
        }
        mapping_outcome mapped = map_by_colour(user, *state, nearest);
        if (!mapped.error.empty()) {
            result.error = mapped.error;
            if (users.size() > 1) {
                result.error += " it shares with " + names_of(users, user);
            }
            result.error += " lacks";
            if (!nearest) {
                result.error += " (--nearest maps such colours to the nearest one)";
            }
            return result;
        }
        if (mapped.nearest_pixels > 0) {
            result.notes.push_back(std::string(user.name) + ": " + std::to_string(mapped.nearest_pixels) +
                                   " pixels mapped to the nearest palette colour");
        }
        result.indices.push_back(std::move(mapped.indices));
    }
    for (std::size_t k = 0; k < palette_entries; ++k) {
        result.palette[k] = state->colour[k].value_or(0);
    }
    return result;
}

}  // namespace torv
