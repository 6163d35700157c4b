#include "pack/fit_colours.h"

#include <algorithm>

#include "image/image.h"
#include "pack/game_colours.h"

namespace torv {

namespace {

constexpr std::uint16_t colour_bits = 0x7FFF;

}  // namespace

std::vector<rgb8> game_pixels(const picture& image) {
    const std::size_t count = pixel_count(image.width, image.height);
    std::vector<rgb8> pixels(count);
    for (std::size_t at = 0; at < count; ++at) pixels[at] = rgb8_of(stored_as(image.colour_at(at), image.bits));
    return pixels;
}

bool shows_original(const palette_user& user, const rgb15_palette& original) {
    const picture& image = *user.image;
    const std::size_t count = pixel_count(image.width, image.height);
    if (user.original_indices.size() != count) {
        return false;
    }
    for (std::size_t at = 0; at < count; ++at) {
        const std::uint16_t was = original[user.original_indices[at]] & colour_bits;
        if (!game_colours_of(image.colour_at(at), image.bits).contains(was)) {
            return false;
        }
    }
    return true;
}

fitted_palette fit_colours(std::span<const palette_user> users, const rgb15_palette* original) {
    fitted_palette fitted;
    std::vector<bool> unedited(users.size(), false);
    usable_entries kept{};
    if (original != nullptr) {
        for (std::size_t u = 0; u < users.size(); ++u) {
            unedited[u] = shows_original(users[u], *original);
            if (unedited[u]) {
                for (const std::uint8_t index : users[u].original_indices) kept[index] = true;
            }
        }
    }
    // The colours of the edited images, together; the kept entries count.
    std::vector<std::vector<rgb8>> pixels(users.size());
    std::vector<double> bins;
    for (std::size_t u = 0; u < users.size(); ++u) {
        if (!unedited[u]) {
            pixels[u] = game_pixels(*users[u].image);
            add_to_histogram(pixels[u], bins);
        }
    }
    std::vector<std::uint16_t> fixed;
    std::size_t free_entries = 0;
    for (std::size_t k = 0; k < palette_entries; ++k) {
        if (kept[k])
            fixed.push_back(static_cast<std::uint16_t>((*original)[k] & colour_bits));
        else
            ++free_entries;
    }
    const std::vector<std::uint16_t> chosen = choose_colours(colours_of(bins), fixed, free_entries);

    // The palette: kept entries as they were, the chosen colours in the free
    // ones from the lowest, the free ones left over as the original had them.
    usable_entries usable = kept;
    for (std::size_t k = 0; k < palette_entries; ++k) {
        fitted.palette[k] = original != nullptr ? static_cast<std::uint16_t>((*original)[k] & colour_bits) : 0;
    }
    std::size_t next = 0;
    for (std::size_t k = 0; k < palette_entries && next < chosen.size(); ++k) {
        if (!kept[k]) {
            fitted.palette[k] = chosen[next++];
            usable[k] = true;
        }
    }
    for (std::size_t u = 0; u < users.size(); ++u) {
        if (unedited[u]) {
            fitted.indices.emplace_back(users[u].original_indices.begin(), users[u].original_indices.end());
            continue;
        }
        const picture& image = *users[u].image;
        fitted.indices.push_back(map_to_palette(pixels[u], image.width, image.height, fitted.palette, usable, false));
        fitted.notes.push_back(std::string(users[u].name) + ": its colours chosen for the palette (" +
                               std::to_string(chosen.size()) + " new, beside " + std::to_string(fixed.size()) +
                               " kept)");
    }
    return fitted;
}

}  // namespace torv
