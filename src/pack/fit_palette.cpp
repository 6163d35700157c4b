#include "pack/fit_palette.h"

#include <algorithm>
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

// A set of palette indices.
using index_set = std::array<bool, palette_entries>;

// The indices an indexed image uses.
index_set used_indices(const picture& image) {
    index_set used{};
    for (const std::uint8_t index : image.indices) used[index] = true;
    return used;
}

// True if some colour the image uses has bits below the top five.
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
};

failure lacking_colour(std::span<const palette_user> users, const palette_user& user, std::size_t at, bool nearest);

// Maps every pixel to an index by its colour; a colour with no place fails.
result<mapping_outcome> map_by_colour(std::span<const palette_user> users, const palette_user& user,
                                      palette_state& state, bool nearest) {
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
            return lacking_colour(users, user, at, nearest);
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

// A pixel whose colour has no place.
failure lacking_colour(std::span<const palette_user> users, const palette_user& user, std::size_t at, bool nearest) {
    const rgb8 colour = user.image->colour_at(at);
    std::string error = std::string(user.name) + ": " + pixel_at(*user.image, at) + " has colour " +
                        hex_colour(colour) + ", which the palette";
    if (users.size() > 1) {
        error += " it shares with " + names_of(users, user);
    }
    error += " lacks";
    if (!nearest) {
        error += " (--nearest maps such colours to the nearest one)";
    }
    failure why = failure_of(code::colour_lacking, std::move(error), std::string(user.name));
    const auto width = static_cast<std::size_t>(user.image->width);
    why.pixel = libtorv::pixel_position{static_cast<std::int32_t>(at % width), static_cast<std::int32_t>(at / width)};
    why.colour = std::uint32_t{colour.red} << 16 | std::uint32_t{colour.green} << 8 | colour.blue;
    return why;
}

void note_low_bits(const palette_user& user, const index_set& used, fitted_palette& fitted) {
    if (loses_low_bits(*user.image, used)) {
        fitted.notes.push_back(std::string(user.name) +
                               ": some colours have channels the format cannot show exactly (it keeps the top "
                               "five bits of each)");
    }
}

std::string entry_list(const std::vector<std::size_t>& entries) {
    std::string text;
    for (const std::size_t k : entries) {
        text += (text.empty() ? "" : ", ") + std::to_string(k);
    }
    return text;
}

// A colour an indexed image brings that the original palette lacks.
struct new_colour {
    std::uint16_t rgb15;
    std::size_t user;
    int wanted = no_index;  // the index the image itself gives it
    int entry = no_index;   // where it goes
};

// With an original: every entry some image still shows keeps its colour and
// index; the colours indexed images bring go into entries no image shows,
// at their own index where that one is free.
result<fitted_palette> fit_to_original(std::span<const palette_user> users, const rgb15_palette& original,
                                       bool nearest) {
    fitted_palette fitted;
    auto state = std::make_unique<palette_state>();
    for (std::size_t k = 0; k < palette_entries; ++k) {
        state->set(k, static_cast<std::uint16_t>(original[k] & colour_bits));
    }
    index_set shown{};  // entries some pixel will show
    std::vector<new_colour> brought;
    std::vector<bool> is_brought(std::size_t{1} << 15);  // by rgb15 colour
    // Per user, each pixel's index, or no_index while its colour waits for
    // an entry (a new colour's, or with `nearest` the nearest).
    std::vector<std::vector<int>> indices_of(users.size());

    for (std::size_t u = 0; u < users.size(); ++u) {
        const palette_user& user = users[u];
        const picture& image = *user.image;
        const index_set used = image.indexed ? used_indices(image) : index_set{};
        note_low_bits(user, used, fitted);
        const std::size_t count = pixel_count(image.width, image.height);
        std::vector<int>& indices = indices_of[u];
        indices.assign(count, no_index);
        const bool agreeing = image.indexed && agrees(image, used, *state);
        const bool has_original = user.original_indices.size() == count;
        for (std::size_t at = 0; at < count; ++at) {
            if (agreeing) {
                indices[at] = image.indices[at];
            } else {
                const std::uint16_t rgb15 = rgb15_of(image.colour_at(at));
                if (has_original && state->colour[user.original_indices[at]] == rgb15) {
                    indices[at] = user.original_indices[at];
                } else if (state->first_index[rgb15] != no_index) {
                    indices[at] = state->first_index[rgb15];
                } else if (!image.indexed && !nearest) {
                    return lacking_colour(users, user, at, nearest);
                } else if (image.indexed && !is_brought[rgb15]) {
                    is_brought[rgb15] = true;
                    brought.push_back({rgb15, u, image.indices[at]});
                }
            }
            if (indices[at] >= 0) {
                shown[static_cast<std::size_t>(indices[at])] = true;
            }
        }
    }

    // Entries no image shows take the new colours: first the entry the image
    // gave a colour, then the lowest free one.
    index_set taken = shown;
    std::size_t free_entries = 0;
    for (const bool t : taken) free_entries += t ? 0 : 1;
    for (new_colour& c : brought) {
        if (c.wanted != no_index && !taken[static_cast<std::size_t>(c.wanted)]) {
            c.entry = c.wanted;
        } else {
            const auto free = std::find(taken.begin(), taken.end(), false);
            c.entry = free == taken.end() ? no_index : static_cast<int>(free - taken.begin());
        }
        if (c.entry != no_index) {
            taken[static_cast<std::size_t>(c.entry)] = true;
        }
    }
    const auto placed = static_cast<std::size_t>(
        std::count_if(brought.begin(), brought.end(), [](const new_colour& c) { return c.entry != no_index; }));
    if (placed < brought.size() && !nearest) {
        std::string bringers;
        for (const new_colour& c : brought) {
            const std::string name(users[c.user].name);
            if (bringers.find(name) == std::string::npos)
                bringers += (bringers.empty() ? "" : ", ") + name;
        }
        failure why = failure_of(code::palette_full,
                                 bringers + ": " + std::to_string(brought.size()) +
                                     " colours the original palette lacks need entries of their own, and " +
                                     std::to_string(free_entries) + " are free (the others show colours that " +
                                     (users.size() > 1 ? "the images sharing it" : "the image") +
                                     " still use; --nearest maps the colours left over to the nearest one)",
                                 std::string(users[brought.front().user].name));
        why.needed = static_cast<std::int64_t>(brought.size());
        why.room = static_cast<std::int64_t>(free_entries);
        return why;
    }
    for (std::size_t u = 0; u < users.size(); ++u) {
        std::vector<std::size_t> entries;
        for (const new_colour& c : brought) {
            if (c.user == u && c.entry != no_index) {
                state->colour[static_cast<std::size_t>(c.entry)] = c.rgb15;
                entries.push_back(static_cast<std::size_t>(c.entry));
            }
        }
        if (!entries.empty()) {
            fitted.notes.push_back(std::string(users[u].name) + ": brings " + std::to_string(entries.size()) +
                                   (entries.size() == 1 ? " colour" : " colours") +
                                   " the original palette lacks, now in palette entries no image showed (" +
                                   entry_list(entries) + ")");
        }
    }
    state->index_colours();

    // The pixels still waiting: their new colour's entry, or the nearest.
    for (std::size_t u = 0; u < users.size(); ++u) {
        const picture& image = *users[u].image;
        std::size_t nearest_pixels = 0;
        std::vector<std::uint8_t> indices(indices_of[u].size());
        for (std::size_t at = 0; at < indices.size(); ++at) {
            int index = indices_of[u][at];
            if (index < 0) {
                const rgb8 c = image.colour_at(at);
                index = state->first_index[rgb15_of(c)];
                if (index == no_index) {
                    index = nearest_index(*state, c);
                    ++nearest_pixels;
                }
            }
            indices[at] = static_cast<std::uint8_t>(index);
        }
        if (nearest_pixels > 0) {
            fitted.notes.push_back(std::string(users[u].name) + ": " + std::to_string(nearest_pixels) +
                                   " pixels mapped to the nearest palette colour");
        }
        fitted.indices.push_back(std::move(indices));
    }
    for (std::size_t k = 0; k < palette_entries; ++k) {
        fitted.palette[k] = state->colour[k].value_or(0);
    }
    return fitted;
}

// Without an original: the first indexed image's colour table is the
// palette; the other images agree with it or take entries no image has
// claimed yet.
result<fitted_palette> merge_without_original(std::span<const palette_user> users, bool nearest) {
    fitted_palette fitted;
    auto state = std::make_unique<palette_state>();
    std::vector<index_set> used(users.size());
    for (std::size_t u = 0; u < users.size(); ++u) {
        if (users[u].image->indexed)
            used[u] = used_indices(*users[u].image);
    }
    for (std::size_t u = 0; u < users.size(); ++u) {
        const picture& image = *users[u].image;
        if (image.indexed) {
            for (std::size_t k = 0; k < image.table.size(); ++k) {
                state->set(k, rgb15_of(image.table[k]));
            }
            break;
        }
    }

    for (std::size_t u = 0; u < users.size(); ++u) {
        const palette_user& user = users[u];
        const picture& image = *user.image;
        note_low_bits(user, used[u], fitted);
        if (image.indexed && agrees(image, used[u], *state)) {
            for (std::size_t k = 0; k < image.table.size(); ++k) {
                if (used[u][k] && !state->colour[k])
                    state->set(k, rgb15_of(image.table[k]));
            }
            fitted.indices.push_back(image.indices);
            continue;
        }
        result<mapping_outcome> mapping = map_by_colour(users, user, *state, nearest);
        if (!mapping) {
            return std::move(mapping).error();
        }
        mapping_outcome& mapped = *mapping;
        if (mapped.nearest_pixels > 0) {
            fitted.notes.push_back(std::string(user.name) + ": " + std::to_string(mapped.nearest_pixels) +
                                   " pixels mapped to the nearest palette colour");
        }
        fitted.indices.push_back(std::move(mapped.indices));
    }
    for (std::size_t k = 0; k < palette_entries; ++k) {
        fitted.palette[k] = state->colour[k].value_or(0);
    }
    return fitted;
}

}  // namespace

result<fitted_palette> fit_palette(std::span<const palette_user> users, const rgb15_palette* original, bool nearest) {
    return original != nullptr ? fit_to_original(users, *original, nearest) : merge_without_original(users, nearest);
}

}  // namespace torv
