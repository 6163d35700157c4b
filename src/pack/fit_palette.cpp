#include "pack/fit_palette.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "image/oklab.h"
#include "pack/game_colours.h"

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
    bool holds(std::size_t index, std::uint16_t rgb15) const { return colour[index] == rgb15; }
};

// ---------------------------------------------------------------------------
// Words.

std::string hex_of(rgb8 c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.red, c.green, c.blue);
    return text;
}

std::string levels_text(const std::array<std::uint8_t, 3>& levels) {
    return std::to_string(levels[0]) + ", " + std::to_string(levels[1]) + ", " + std::to_string(levels[2]);
}

std::string entry_text(const palette_state& state, int index) {
    const rgb8 shown = rgb8_of(*state.colour[static_cast<std::size_t>(index)]);
    return "entry " + std::to_string(index) + " " + hex_of(shown) + " (" + levels_text(levels_in_game(shown)) + ")";
}

libtorv::pixel_position position_of(const picture& image, std::size_t at) {
    const auto width = static_cast<std::size_t>(image.width);
    return {static_cast<std::int32_t>(at % width), static_cast<std::int32_t>(at / width)};
}

std::string pixel_text(const picture& image, std::size_t at) {
    const libtorv::pixel_position where = position_of(image, at);
    return "pixel (" + std::to_string(where.x) + ", " + std::to_string(where.y) + ")";
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

std::uint32_t packed_rgb(rgb8 c) {
    return std::uint32_t{c.red} << 16 | std::uint32_t{c.green} << 8 | c.blue;
}

// How different an entry's colour looks from a pixel's (OKLab, as every
// colour torv compares).
float difference(const palette_state& state, int entry, const colour_point& pixel) {
    return distance_squared(point_of_rgb15(*state.colour[static_cast<std::size_t>(entry)]), pixel);
}

// The entries that hold a colour first, in index order.
std::vector<int> first_entries(const palette_state& state) {
    std::vector<int> entries;
    for (std::size_t k = 0; k < palette_entries; ++k) {
        if (state.colour[k] && state.first_index[*state.colour[k]] == static_cast<int>(k))
            entries.push_back(static_cast<int>(k));
    }
    return entries;
}

// The `count` entries that look nearest to a colour, nearest first (then the
// lower), each colour once: of entries alike, the lowest.
std::vector<int> nearest_entries(const palette_state& state, rgb8 c, std::size_t count) {
    std::vector<int> entries = first_entries(state);
    const colour_point pixel = point_of(c);
    std::vector<float> differences(palette_entries);
    for (const int entry : entries) differences[static_cast<std::size_t>(entry)] = difference(state, entry, pixel);
    std::stable_sort(entries.begin(), entries.end(), [&](int a, int b) {
        return differences[static_cast<std::size_t>(a)] < differences[static_cast<std::size_t>(b)];
    });
    if (entries.size() > count)
        entries.resize(count);
    return entries;
}

// The entry that looks nearest to each colour asked, for a palette that no
// longer changes: a photo asks the same colours many times.
class nearest_finder {
public:
    explicit nearest_finder(const palette_state& state) : entries_(first_entries(state)) {
        for (const int entry : entries_)
            points_.push_back(point_of_rgb15(*state.colour[static_cast<std::size_t>(entry)]));
    }
    int of(rgb8 c) {
        const std::uint32_t key = (std::uint32_t{c.red} << 16) | (std::uint32_t{c.green} << 8) | c.blue;
        const auto [at, is_new] = found_.try_emplace(key, no_index);
        if (is_new) {
            const colour_point pixel = point_of(c);
            float least = std::numeric_limits<float>::infinity();
            for (std::size_t k = 0; k < entries_.size(); ++k) {
                const float d = distance_squared(points_[k], pixel);
                if (d < least) {  // of entries as near, the lower
                    least = d;
                    at->second = entries_[k];
                }
            }
        }
        return at->second;
    }

private:
    std::vector<int> entries_;
    std::vector<colour_point> points_;
    std::unordered_map<std::uint32_t, int> found_;
};

// ---------------------------------------------------------------------------
// Matching a stored colour with the palette at the game's precision.

// The entries a stored colour stands for: the first index of each of its
// game colours that the palette holds.
struct colour_match {
    game_colours candidates;
    std::array<int, 8> entries{};
    std::uint8_t count = 0;
};

colour_match match_in(const palette_state& state, rgb8 colour, channel_bits bits) {
    colour_match match;
    match.candidates = game_colours_of(colour, bits);
    for (std::uint8_t k = 0; k < match.candidates.count; ++k) {
        const int index = state.first_index[match.candidates.colours[k]];
        if (index != no_index) {
            match.entries[match.count++] = index;
        }
    }
    std::sort(match.entries.begin(), match.entries.begin() + match.count);
    return match;
}

// What a pixel's colour comes to.
enum class placing : std::uint8_t { placed, new_colour, ambiguous };

struct pixel_choice {
    placing how = placing::placed;
    int index = no_index;
};

// The entry for a pixel of `colour`: the original's index where it holds one
// of the colours the pixel stands for; else the one entry that does; several
// are ambiguous, none a new colour. With `nearest`, the ambiguous pixel takes
// the nearer entry (then the lower).
pixel_choice choose(const palette_state& state, const colour_match& match, int original_index, rgb8 colour,
                    bool nearest) {
    if (original_index != no_index) {
        const auto& held = state.colour[static_cast<std::size_t>(original_index)];
        if (held && match.candidates.contains(*held)) {
            return {placing::placed, original_index};
        }
    }
    if (match.count == 1) {
        return {placing::placed, match.entries[0]};
    }
    if (match.count == 0) {
        return {placing::new_colour, no_index};
    }
    if (!nearest) {
        return {placing::ambiguous, no_index};
    }
    const colour_point pixel = point_of(colour);
    int best = match.entries[0];
    for (std::uint8_t k = 1; k < match.count; ++k) {
        const int entry = match.entries[k];
        if (difference(state, entry, pixel) < difference(state, best, pixel)) {
            best = entry;
        }
    }
    return {placing::placed, best};
}

// Matches of the colours an image uses, each worked out once.
class match_cache {
public:
    match_cache(const palette_state& state, channel_bits bits) : state_(state), bits_(bits) {}
    const colour_match& of(rgb8 colour) {
        const auto [found, fresh] = cache_.try_emplace(packed_rgb(colour));
        if (fresh) {
            found->second = match_in(state_, colour, bits_);
        }
        return found->second;
    }

private:
    const palette_state& state_;
    channel_bits bits_;
    std::unordered_map<std::uint32_t, colour_match> cache_;
};

// ---------------------------------------------------------------------------
// What an editor likely did, when a colour has no place.

// How the pixels of an image stand to the palette, and to the original.
struct colour_survey {
    std::size_t pixels = 0;
    std::size_t unplaced = 0;                       // pixels whose colour no entry stands for
    std::size_t unplaced_near = 0;                  // of those, within two levels a channel of an entry
    std::unordered_set<std::uint32_t> new_colours;  // the colours of those pixels, up to a few hundred
    std::size_t compared = 0;                       // pixels the original has
    std::size_t moved = 0;                          // of those, not the colour of the original's entry
    std::size_t moved_near = 0;                     // of those, within two levels a channel of it
};

constexpr int near_levels = 2;

int levels_apart(const std::array<std::uint8_t, 3>& a, const std::array<std::uint8_t, 3>& b) {
    int worst = 0;
    for (std::size_t c = 0; c < 3; ++c) worst = std::max(worst, std::abs(int{a[c]} - int{b[c]}));
    return worst;
}

// The largest difference, in the game's levels, between a colour and the
// nearest entry, channel by channel.
int levels_off(const palette_state& state, rgb8 colour, channel_bits bits) {
    const std::array<std::uint8_t, 3> levels = levels_in_game(colour, bits);
    int best = std::numeric_limits<int>::max();
    for (std::size_t k = 0; k < palette_entries; ++k) {
        if (state.colour[k])
            best = std::min(best, levels_apart(levels, levels_in_game(rgb8_of(*state.colour[k]))));
    }
    return best;
}

colour_survey survey(const palette_state& state, const palette_user& user) {
    constexpr std::size_t most_colours_kept = 512;
    const picture& image = *user.image;
    colour_survey found;
    match_cache matches(state, image.bits);
    std::unordered_map<std::uint32_t, int> off;  // levels off the nearest entry, by colour
    found.pixels = pixel_count(image.width, image.height);
    const bool has_original = user.original_indices.size() == found.pixels;
    for (std::size_t at = 0; at < found.pixels; ++at) {
        const rgb8 c = image.colour_at(at);
        const colour_match& match = matches.of(c);
        if (has_original) {
            ++found.compared;
            const auto& was = state.colour[user.original_indices[at]];
            if (was && !match.candidates.contains(*was)) {
                ++found.moved;
                const int apart = levels_apart(levels_in_game(c, image.bits), levels_in_game(rgb8_of(*was)));
                found.moved_near += apart <= near_levels ? 1 : 0;
            }
        }
        if (match.count > 0)
            continue;
        ++found.unplaced;
        const auto [known, fresh] = off.try_emplace(packed_rgb(c), 0);
        if (fresh)
            known->second = levels_off(state, c, image.bits);
        if (known->second <= near_levels)
            ++found.unplaced_near;
        if (found.new_colours.size() < most_colours_kept)
            found.new_colours.insert(packed_rgb(c));
    }
    return found;
}

// The sentence that says what the editor did, from the survey.
std::string likely_cause(const colour_survey& found, const option_words& words) {
    constexpr std::size_t few_colours = 16;
    const bool shifted_from_original =
        found.compared > 0 && found.moved * 2 >= found.compared && found.moved_near * 10 >= found.moved * 9;
    const bool shifted_from_palette =
        found.unplaced * 2 >= found.pixels && found.unplaced_near * 10 >= found.unplaced * 9;
    if (shifted_from_original || shifted_from_palette) {
        return "nearly every pixel is a few levels off " +
               std::string(shifted_from_original ? "the original" : "the palette") +
               ": a colour conversion or a colour profile changed the colours (export as indexed PNG, without "
               "colour management)";
    }
    if (found.new_colours.size() <= few_colours && found.unplaced * 10 < found.pixels) {
        return "only " + std::to_string(found.new_colours.size()) +
               (found.new_colours.size() == 1 ? " colour is" : " colours are") +
               " new: the image was painted with colours the palette lacks (" + words.nearest +
               " maps them to the nearest entry)";
    }
    return std::to_string(found.unplaced) + " of its " + std::to_string(found.pixels) +
           " pixels have colours the palette lacks (" + words.fit + " chooses colours for the picture; " +
           words.nearest + " maps them to the nearest entry)";
}

// A pixel whose colour has no place.
failure lacking_colour(std::span<const palette_user> users, const palette_user& user, std::size_t at,
                       const palette_state& state, const option_words& words) {
    const picture& image = *user.image;
    const rgb8 colour = image.colour_at(at);
    std::string text =
        std::string(user.name) + ": " + pixel_text(image, at) + " has colour " + hex_of(colour) + ", which the palette";
    if (users.size() > 1) {
        text += " it shares with " + names_of(users, user);
    }
    text += " lacks (levels " + levels_text(levels_in_game(colour, image.bits)) + " of 31; nearest: ";
    const std::vector<int> near = nearest_entries(state, colour, 2);
    for (std::size_t k = 0; k < near.size(); ++k) text += (k > 0 ? ", " : "") + entry_text(state, near[k]);
    text += "); " + likely_cause(survey(state, user), words);
    failure why = failure_of(code::colour_lacking, std::move(text), std::string(user.name));
    const libtorv::pixel_position where = position_of(image, at);
    why.pixel = libtorv::pixel_position{where.x, where.y};
    why.colour = packed_rgb(colour);
    return why;
}

// A pixel whose stored colour stands for several entries alike.
failure ambiguous_colour(const palette_user& user, std::size_t at, const colour_match& match,
                         const palette_state& state, const option_words& words) {
    const bool with_original = user.original_indices.size() == pixel_count(user.image->width, user.image->height);
    const picture& image = *user.image;
    const rgb8 colour = image.colour_at(at);
    const bool sixteen_bit = image.bits.red.bits < 8 || image.bits.green.bits < 8 || image.bits.blue.bits < 8;
    std::string text =
        std::string(user.name) + ": " + pixel_text(image, at) + " has colour " + hex_of(colour) + ", which stands for ";
    for (std::uint8_t k = 0; k < match.count; ++k) {
        text += (k == 0 ? "" : k + 1 == match.count ? " and " : ", ") + entry_text(state, match.entries[k]);
    }
    text += " alike";
    text += sixteen_bit ? ": a 16-bit save keeps five or six bits a channel, and editors round them their own way, "
                          "so two entries meet in one stored value"
                        : ": it lies halfway between their levels";
    // What would decide, as far as it is not there already.
    std::vector<std::string> ways;
    if (!with_original && !words.keep_original.empty())
        ways.push_back(words.keep_original);
    if (!image.indexed)
        ways.push_back("export as indexed PNG");
    std::string said;
    for (const std::string& way : ways) said += (said.empty() ? "" : ", or ") + way;
    text += with_original ? "; the original's pixel there is neither, so nothing decides ("
                          : "; no original decides between them (";
    text += said + (said.empty() ? "" : "; ") + words.nearest + " takes the nearer)";
    failure why = failure_of(code::ambiguous_colour, std::move(text), std::string(user.name));
    const libtorv::pixel_position where = position_of(image, at);
    why.pixel = libtorv::pixel_position{where.x, where.y};
    why.colour = packed_rgb(colour);
    return why;
}

// ---------------------------------------------------------------------------
// Fitting.

// A set of palette indices.
using index_set = std::array<bool, palette_entries>;

// The indices an indexed image uses.
index_set used_indices(const picture& image) {
    index_set used{};
    for (const std::uint8_t index : image.indices) used[index] = true;
    return used;
}

// True if the image's colour table stands for the palette's colour at every
// index it uses (indices with no colour yet agree with anything).
bool agrees(const picture& image, const index_set& used, const palette_state& state) {
    for (std::size_t k = 0; k < image.table.size(); ++k) {
        if (used[k] && state.colour[k] && !game_colours_of(image.table[k], image.bits).contains(*state.colour[k])) {
            return false;
        }
    }
    return true;
}

// How many pixels took an entry whose colour is not theirs to the letter:
// matched at the game's precision.
void note_rounding(const palette_user& user, std::size_t rounded, fitted_palette& fitted) {
    if (rounded > 0) {
        fitted.notes.push_back(std::string(user.name) + ": " + std::to_string(rounded) +
                               (rounded == 1 ? " pixel" : " pixels") +
                               " matched the palette at the game's precision (their colours were rounded)");
    }
}

void note_nearest(const palette_user& user, std::size_t mapped, fitted_palette& fitted) {
    if (mapped > 0) {
        fitted.notes.push_back(std::string(user.name) + ": " + std::to_string(mapped) +
                               (mapped == 1 ? " pixel" : " pixels") + std::string(nearest_note_ending));
    }
}

bool is_exact(rgb8 colour, const palette_state& state, int index) {
    return rgb8_of(*state.colour[static_cast<std::size_t>(index)]) == colour;
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

// True if most of an indexed image's colour table is colours the palette
// holds: the palette rewritten, rather than a picture of colours of its own.
bool mostly_known_colours(const picture& image, const palette_state& state) {
    std::size_t known = 0;
    for (const rgb8 colour : image.table) {
        known += state.first_index[stored_as(colour, image.bits)] != no_index ? 1 : 0;
    }
    return known * 2 >= image.table.size();
}

// Where an image put a new colour on an entry another image shows: the
// palette rewritten in another order. Empty if none did.
std::string two_colours_on_one_entry(std::span<const palette_user> users, const std::vector<new_colour>& brought,
                                     const palette_state& state, const std::vector<std::vector<int>>& indices_of) {
    for (const new_colour& c : brought) {
        if (c.wanted == no_index || !mostly_known_colours(*users[c.user].image, state))
            continue;
        for (std::size_t u = 0; u < users.size(); ++u) {
            if (u == c.user)
                continue;
            const auto& shown = indices_of[u];
            if (std::find(shown.begin(), shown.end(), c.wanted) == shown.end())
                continue;
            return "; " + std::string(users[c.user].name) + " puts " + hex_of(rgb8_of(c.rgb15)) + " on entry " +
                   std::to_string(c.wanted) + ", where " + std::string(users[u].name) + " shows " +
                   hex_of(rgb8_of(*state.colour[static_cast<std::size_t>(c.wanted)])) +
                   ": the palette was rewritten in an order that puts two used colours on one entry (save the "
                   "images with the palette they came with)";
        }
    }
    return {};
}

// With an original: every entry some image still shows keeps its colour and
// index; the colours indexed images bring go into entries no image shows,
// at their own index where that one is free.
result<fitted_palette> fit_to_original(std::span<const palette_user> users, const rgb15_palette& original, bool nearest,
                                       const option_words& words) {
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
    std::vector<std::size_t> rounded(users.size(), 0);

    for (std::size_t u = 0; u < users.size(); ++u) {
        const palette_user& user = users[u];
        const picture& image = *user.image;
        const index_set used = image.indexed ? used_indices(image) : index_set{};
        const std::size_t count = pixel_count(image.width, image.height);
        std::vector<int>& indices = indices_of[u];
        indices.assign(count, no_index);
        const bool agreeing = image.indexed && agrees(image, used, *state);
        const bool has_original = user.original_indices.size() == count;
        if (agreeing) {
            // Indices as they stand: what each entry shows, and how many
            // pixels took an entry whose colour is not theirs to the letter,
            // counted by entry rather than pixel by pixel.
            std::array<std::size_t, palette_entries> uses{};
            for (std::size_t at = 0; at < count; ++at) {
                indices[at] = image.indices[at];
                ++uses[image.indices[at]];
            }
            for (std::size_t k = 0; k < palette_entries; ++k) {
                if (uses[k] == 0)
                    continue;
                shown[k] = true;
                rounded[u] += is_exact(image.table[k], *state, static_cast<int>(k)) ? 0 : uses[k];
            }
            continue;
        }
        match_cache matches(*state, image.bits);
        for (std::size_t at = 0; at < count; ++at) {
            const rgb8 colour = image.colour_at(at);
            {
                const colour_match& match = matches.of(colour);
                const int before = has_original ? user.original_indices[at] : no_index;
                const pixel_choice choice = choose(*state, match, before, colour, nearest);
                if (choice.how == placing::ambiguous) {
                    return ambiguous_colour(user, at, match, *state, words);
                }
                if (choice.how == placing::placed) {
                    indices[at] = choice.index;
                } else if (!image.indexed && !nearest) {
                    return lacking_colour(users, user, at, *state, words);
                } else if (image.indexed) {
                    const std::uint16_t rgb15 = stored_as(colour, image.bits);
                    if (!is_brought[rgb15]) {
                        is_brought[rgb15] = true;
                        brought.push_back({rgb15, u, image.indices[at]});
                    }
                }
            }
            if (indices[at] >= 0) {
                shown[static_cast<std::size_t>(indices[at])] = true;
                rounded[u] += is_exact(colour, *state, indices[at]) ? 0 : 1;
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
                                     (users.size() > 1 ? "the images sharing it" : "the image") + " still use; " +
                                     words.nearest + " maps the colours left over to the nearest one; " + words.fit +
                                     " chooses the colours of the free entries for the images)" +
                                     two_colours_on_one_entry(users, brought, *state, indices_of),
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
        std::optional<nearest_finder> nearest_of;
        std::vector<std::uint8_t> indices(indices_of[u].size());
        for (std::size_t at = 0; at < indices.size(); ++at) {
            int index = indices_of[u][at];
            if (index < 0) {
                const rgb8 c = image.colour_at(at);
                index = state->first_index[stored_as(c, image.bits)];
                if (index == no_index) {
                    if (!nearest_of)
                        nearest_of.emplace(*state);
                    index = nearest_of->of(c);
                    ++nearest_pixels;
                }
            }
            indices[at] = static_cast<std::uint8_t>(index);
        }
        note_rounding(users[u], rounded[u], fitted);
        note_nearest(users[u], nearest_pixels, fitted);
        fitted.indices.push_back(std::move(indices));
    }
    for (std::size_t k = 0; k < palette_entries; ++k) {
        fitted.palette[k] = state->colour[k].value_or(0);
    }
    return fitted;
}

// Maps every pixel of an image to an entry by its colour, giving a new
// colour a free entry.
result<std::vector<std::uint8_t>> map_by_colour(std::span<const palette_user> users, const palette_user& user,
                                                palette_state& state, bool nearest, const option_words& words,
                                                fitted_palette& fitted) {
    const picture& image = *user.image;
    const std::size_t count = pixel_count(image.width, image.height);
    std::vector<std::uint8_t> indices(count);
    std::size_t nearest_pixels = 0;
    std::size_t rounded = 0;
    const bool has_original = user.original_indices.size() == count;
    auto matches = std::make_unique<match_cache>(state, image.bits);
    std::optional<nearest_finder> nearest_of;  // once the palette is full
    for (std::size_t at = 0; at < count; ++at) {
        const rgb8 colour = image.colour_at(at);
        const int before = has_original ? user.original_indices[at] : no_index;
        pixel_choice choice = choose(state, matches->of(colour), before, colour, nearest);
        if (choice.how == placing::ambiguous) {
            return ambiguous_colour(user, at, matches->of(colour), state, words);
        }
        if (choice.how == placing::new_colour) {
            choice.index = state.free_index();
            if (choice.index != no_index) {
                state.set(static_cast<std::size_t>(choice.index), stored_as(colour, image.bits));
                matches = std::make_unique<match_cache>(state, image.bits);  // the palette grew
            } else if (nearest) {
                if (!nearest_of)
                    nearest_of.emplace(state);
                choice.index = nearest_of->of(colour);
                ++nearest_pixels;
            } else {
                return lacking_colour(users, user, at, state, words);
            }
        }
        rounded += is_exact(colour, state, choice.index) ? 0 : 1;
        indices[at] = static_cast<std::uint8_t>(choice.index);
    }
    note_rounding(user, rounded, fitted);
    note_nearest(user, nearest_pixels, fitted);
    return indices;
}

// Without an original: the first indexed image's colour table is the
// palette; the other images agree with it or take entries no image has
// claimed yet.
result<fitted_palette> merge_without_original(std::span<const palette_user> users, bool nearest,
                                              const option_words& words) {
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
                state->set(k, stored_as(image.table[k], image.bits));
            }
            break;
        }
    }

    for (std::size_t u = 0; u < users.size(); ++u) {
        const palette_user& user = users[u];
        const picture& image = *user.image;
        if (image.indexed && agrees(image, used[u], *state)) {
            for (std::size_t k = 0; k < image.table.size(); ++k) {
                if (used[u][k] && !state->colour[k])
                    state->set(k, stored_as(image.table[k], image.bits));
            }
            std::size_t rounded = 0;
            for (const std::uint8_t index : image.indices) {
                rounded += is_exact(image.table[index], *state, index) ? 0 : 1;
            }
            note_rounding(user, rounded, fitted);
            fitted.indices.push_back(image.indices);
            continue;
        }
        result<std::vector<std::uint8_t>> mapped = map_by_colour(users, user, *state, nearest, words, fitted);
        if (!mapped) {
            return std::move(mapped).error();
        }
        fitted.indices.push_back(std::move(*mapped));
    }
    for (std::size_t k = 0; k < palette_entries; ++k) {
        fitted.palette[k] = state->colour[k].value_or(0);
    }
    return fitted;
}

}  // namespace

result<fitted_palette> fit_palette(std::span<const palette_user> users, const rgb15_palette* original, bool nearest,
                                   const option_words& words) {
    return original != nullptr ? fit_to_original(users, *original, nearest, words)
                               : merge_without_original(users, nearest, words);
}

}  // namespace torv
