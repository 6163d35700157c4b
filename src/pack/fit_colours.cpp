#include "pack/fit_colours.h"

#include <algorithm>

#include "image/image.h"
#include "image/quality.h"
#include "pack/evenness.h"
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

namespace {

// A palette chosen for the edited images and their pixels mapped onto it.
struct shared_palette {
    rgb15_palette palette{};
    std::vector<std::vector<std::uint8_t>> indices;  // per user (empty for an unedited one)
    std::size_t chosen = 0;                          // the colours chosen
};

// The colours of the edited images, together, each image's counted
// `weights` times; the kept entries count and stay. The chosen colours go in
// the free entries from the lowest; the free ones left over stay as the
// original had them.
shared_palette choose_for(std::span<const palette_user> users, const std::vector<std::vector<rgb8>>& pixels,
                          const std::vector<double>& weights, const usable_entries& kept,
                          const rgb15_palette* original) {
    std::vector<double> bins;
    for (std::size_t u = 0; u < users.size(); ++u) {
        if (!pixels[u].empty())
            add_to_histogram(pixels[u], bins, weights[u]);
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
    shared_palette made;
    made.chosen = chosen.size();
    usable_entries usable = kept;
    for (std::size_t k = 0; k < palette_entries; ++k) {
        made.palette[k] = original != nullptr ? static_cast<std::uint16_t>((*original)[k] & colour_bits) : 0;
    }
    std::size_t next = 0;
    for (std::size_t k = 0; k < palette_entries && next < chosen.size(); ++k) {
        if (!kept[k]) {
            made.palette[k] = chosen[next++];
            usable[k] = true;
        }
    }
    made.indices.resize(users.size());
    for (std::size_t u = 0; u < users.size(); ++u) {
        if (!pixels[u].empty()) {
            const picture& image = *users[u].image;
            made.indices[u] = map_to_palette(pixels[u], image.width, image.height, made.palette, usable, false);
        }
    }
    return made;
}

// The PSNR of each edited image with the palette, against its pixels.
std::vector<double> qualities_of(const shared_palette& made, const std::vector<std::vector<rgb8>>& pixels,
                                 const std::vector<std::size_t>& edited) {
    std::vector<double> psnr;
    for (const std::size_t u : edited) {
        std::vector<rgb8> shown(pixels[u].size());
        for (std::size_t p = 0; p < shown.size(); ++p) shown[p] = rgb8_of(made.palette[made.indices[u][p]]);
        psnr.push_back(evenness::seen(psnr_of(pixels[u], shown)));
    }
    return psnr;
}

}  // namespace

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
    std::vector<std::vector<rgb8>> pixels(users.size());
    std::vector<std::size_t> edited;
    for (std::size_t u = 0; u < users.size(); ++u) {
        if (!unedited[u]) {
            pixels[u] = game_pixels(*users[u].image);
            edited.push_back(u);
        }
    }
    // Several edited images: their weights in the histogram evened out
    // until their qualities are near (the image that loses most counts
    // more), keeping the most even palette tried.
    std::vector<double> weights(users.size(), 1.0);
    shared_palette best = choose_for(users, pixels, weights, kept, original);
    std::vector<double> psnr = qualities_of(best, pixels, edited);
    for (int round = 0;
         round < evenness::rounds && edited.size() > 1 && evenness::spread_of(psnr) > evenness::even_enough_db;
         ++round) {
        const std::vector<double> factors = evenness::reweighing(psnr);
        for (std::size_t e = 0; e < edited.size(); ++e) weights[edited[e]] *= factors[e];
        shared_palette tried = choose_for(users, pixels, weights, kept, original);
        const std::vector<double> tried_psnr = qualities_of(tried, pixels, edited);
        if (evenness::spread_of(tried_psnr) < evenness::spread_of(psnr)) {
            best = std::move(tried);
            psnr = tried_psnr;
        }
    }

    std::size_t fixed = 0;
    for (const bool k : kept) fixed += k ? 1 : 0;
    fitted.palette = best.palette;
    for (std::size_t u = 0; u < users.size(); ++u) {
        if (unedited[u]) {
            fitted.indices.emplace_back(users[u].original_indices.begin(), users[u].original_indices.end());
            continue;
        }
        fitted.indices.push_back(std::move(best.indices[u]));
        fitted.notes.push_back(std::string(users[u].name) + ": its colours chosen for the palette (" +
                               std::to_string(best.chosen) + " new, beside " + std::to_string(fixed) + " kept)");
    }
    return fitted;
}

}  // namespace torv
