#include "image/quantize.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <unordered_map>

#include "image/oklab.h"

namespace torv {

namespace {

constexpr std::size_t game_colour_count = 1 << 15;
constexpr int lloyd_rounds = 12;
constexpr int snapped_rounds = 4;
constexpr int most_moves = 48;
constexpr double settled = 1e-7;  // a centroid that moved less than this (squared) has settled
// Error diffused at this strength: a little less than all of it keeps flat
// areas from crawling with dots where a colour is nearly right.
constexpr float diffusion = 0.85f;

struct bin {
    colour_point colour;
    double weight = 0;
    std::uint16_t rgb15 = 0;
};

constexpr int axes = 6;

double axis_of(const colour_point& c, int axis) {
    return c.x[static_cast<std::size_t>(axis)];
}

// A box of bins [first, last) of a median cut, with its weighted error.
struct box {
    std::size_t first = 0;
    std::size_t last = 0;
    double error = 0;  // the weighted squared distance of its bins from their mean
};

struct sums {
    double w = 0;
    std::array<double, axes> wx{};
    std::array<double, axes> wxx{};

    void add(const bin& b) {
        w += b.weight;
        for (int axis = 0; axis < axes; ++axis) {
            const double x = axis_of(b.colour, axis);
            wx[static_cast<std::size_t>(axis)] += b.weight * x;
            wxx[static_cast<std::size_t>(axis)] += b.weight * x * x;
        }
    }
    double error() const {
        if (w <= 0)
            return 0;
        double e = 0;
        for (std::size_t axis = 0; axis < axes; ++axis) e += wxx[axis] - wx[axis] * wx[axis] / w;
        return std::max(0.0, e);
    }
    colour_point mean() const {
        colour_point m;
        for (std::size_t axis = 0; axis < axes; ++axis) m.x[axis] = static_cast<float>(wx[axis] / w);
        return m;
    }
};

sums sums_of(std::span<const bin> bins) {
    sums total;
    for (const bin& b : bins) total.add(b);
    return total;
}

// Splits a box where the two halves' error is the least, along the axis on
// which its bins vary the most.
std::pair<box, box> split(std::vector<bin>& bins, const box& whole) {
    const std::span<bin> inside(bins.data() + whole.first, whole.last - whole.first);
    const sums total = sums_of(inside);
    int widest = 0;
    double most = -1;
    for (int axis = 0; axis < axes; ++axis) {
        const auto a = static_cast<std::size_t>(axis);
        const double variance = total.wxx[a] - total.wx[a] * total.wx[a] / total.w;
        if (variance > most) {
            most = variance;
            widest = axis;
        }
    }
    std::stable_sort(inside.begin(), inside.end(),
                     [&](const bin& x, const bin& y) { return axis_of(x.colour, widest) < axis_of(y.colour, widest); });
    sums left;
    double best = std::numeric_limits<double>::infinity();
    std::size_t cut = 1;
    for (std::size_t k = 0; k + 1 < inside.size(); ++k) {
        left.add(inside[k]);
        sums right;
        right.w = total.w - left.w;
        for (std::size_t axis = 0; axis < axes; ++axis) {
            right.wx[axis] = total.wx[axis] - left.wx[axis];
            right.wxx[axis] = total.wxx[axis] - left.wxx[axis];
        }
        const double error = left.error() + right.error();
        if (error < best) {
            best = error;
            cut = k + 1;
        }
    }
    box a{whole.first, whole.first + cut, 0}, b{whole.first + cut, whole.last, 0};
    a.error = sums_of({bins.data() + a.first, a.last - a.first}).error();
    b.error = sums_of({bins.data() + b.first, b.last - b.first}).error();
    return {a, b};
}

// The means of `count` boxes of a median cut of the bins.
std::vector<colour_point> median_cut(std::vector<bin> bins, std::size_t count) {
    std::vector<box> boxes = {{0, bins.size(), sums_of(bins).error()}};
    while (boxes.size() < count) {
        std::size_t worst = boxes.size();
        for (std::size_t k = 0; k < boxes.size(); ++k) {
            if (boxes[k].last - boxes[k].first > 1 && (worst == boxes.size() || boxes[k].error > boxes[worst].error))
                worst = k;
        }
        if (worst == boxes.size() || boxes[worst].error <= 0)
            break;
        const auto [a, b] = split(bins, boxes[worst]);
        boxes[worst] = a;
        boxes.push_back(b);
    }
    std::vector<colour_point> means;
    for (const box& b : boxes) means.push_back(sums_of({bins.data() + b.first, b.last - b.first}).mean());
    return means;
}

// The nearest of `colours` to `c`, and how far (squared).
std::pair<std::size_t, float> nearest_of(const colour_point& c, std::span<const colour_point> colours) {
    std::size_t best = 0;
    float least = std::numeric_limits<float>::infinity();
    for (std::size_t k = 0; k < colours.size(); ++k) {
        const float d = distance_squared(c, colours[k]);
        if (d < least) {
            least = d;
            best = k;
        }
    }
    return {best, least};
}

// Lloyd's iterations: each bin goes to its nearest colour (the moving ones
// first in `colours`, then the fixed), and each moving colour to the mean of
// its bins. With `snap`, to a game colour instead: the one nearest that mean,
// or the cluster's heaviest colour where that loses less (a flat area's own
// colour, which a mean pulled aside by its edges would miss).
void refine(std::span<const bin> bins, std::vector<colour_point>& moving, std::span<const colour_point> fixed,
            int rounds, bool snap) {
    std::vector<colour_point> all(moving.begin(), moving.end());
    all.insert(all.end(), fixed.begin(), fixed.end());
    std::vector<std::size_t> owner(bins.size());
    for (int round = 0; round < rounds; ++round) {
        std::vector<sums> clusters(moving.size());
        std::vector<std::size_t> heaviest(moving.size(), bins.size());
        std::size_t farthest = 0;
        float farthest_distance = -1;
        for (std::size_t k = 0; k < bins.size(); ++k) {
            const auto [nearest, distance] = nearest_of(bins[k].colour, all);
            owner[k] = nearest;
            if (nearest < moving.size()) {
                clusters[nearest].add(bins[k]);
                if (heaviest[nearest] == bins.size() || bins[k].weight > bins[heaviest[nearest]].weight)
                    heaviest[nearest] = k;
            }
            if (distance * static_cast<float>(bins[k].weight) > farthest_distance) {
                farthest_distance = distance * static_cast<float>(bins[k].weight);
                farthest = k;
            }
        }
        std::vector<colour_point> next(moving.size());
        std::vector<colour_point> other(moving.size());  // with `snap`: the heaviest colour, the other candidate
        for (std::size_t c = 0; c < moving.size(); ++c) {
            // A colour no bin chose goes where the error is the largest.
            next[c] = clusters[c].w > 0 ? clusters[c].mean() : bins[farthest].colour;
            if (snap) {
                next[c] = point_of_rgb15(rgb15_nearest(next[c]));
                other[c] = heaviest[c] < bins.size() ? bins[heaviest[c]].colour : next[c];
            }
        }
        if (snap) {
            std::vector<double> loss_next(moving.size(), 0.0), loss_other(moving.size(), 0.0);
            for (std::size_t k = 0; k < bins.size(); ++k) {
                const std::size_t c = owner[k];
                if (c < moving.size()) {
                    loss_next[c] += bins[k].weight * distance_squared(bins[k].colour, next[c]);
                    loss_other[c] += bins[k].weight * distance_squared(bins[k].colour, other[c]);
                }
            }
            for (std::size_t c = 0; c < moving.size(); ++c) {
                if (loss_other[c] < loss_next[c])
                    next[c] = other[c];
            }
        }
        double moved = 0;
        for (std::size_t c = 0; c < moving.size(); ++c) {
            moved = std::max(moved, static_cast<double>(distance_squared(next[c], moving[c])));
            moving[c] = next[c];
            all[c] = next[c];
        }
        if (moved < settled)
            break;
    }
}

// The weighted loss of mapping every bin to its nearest colour.
double loss_of(std::span<const bin> bins, std::span<const colour_point> moving, std::span<const colour_point> fixed) {
    std::vector<colour_point> all(moving.begin(), moving.end());
    all.insert(all.end(), fixed.begin(), fixed.end());
    double loss = 0;
    for (const bin& b : bins) loss += b.weight * nearest_of(b.colour, all).second;
    return loss;
}

// Moves, one at a time, the colour whose loss would grow least without it to
// the bin mapped worst, while that lowers the loss: what k-means alone
// leaves where two flat areas share a colour and an edge takes another.
void improve_by_moves(std::span<const bin> bins, std::vector<colour_point>& moving,
                      std::span<const colour_point> fixed) {
    std::vector<colour_point> all(moving.begin(), moving.end());
    all.insert(all.end(), fixed.begin(), fixed.end());
    double loss = loss_of(bins, moving, fixed);
    for (int move = 0; move < most_moves; ++move) {
        // Each bin's nearest and next nearest, what each colour saves, and
        // the bin mapped worst.
        std::vector<double> saved(moving.size(), 0.0);
        std::size_t worst = 0;
        double worst_loss = -1;
        for (std::size_t k = 0; k < bins.size(); ++k) {
            std::size_t first = 0;
            float d1 = std::numeric_limits<float>::infinity(), d2 = d1;
            for (std::size_t c = 0; c < all.size(); ++c) {
                const float d = distance_squared(bins[k].colour, all[c]);
                if (d < d1) {
                    d2 = d1;
                    d1 = d;
                    first = c;
                } else if (d < d2) {
                    d2 = d;
                }
            }
            if (first < moving.size())
                saved[first] += bins[k].weight * (d2 - d1);
            if (bins[k].weight * d1 > worst_loss) {
                worst_loss = bins[k].weight * d1;
                worst = k;
            }
        }
        const auto cheapest = static_cast<std::size_t>(std::min_element(saved.begin(), saved.end()) - saved.begin());
        if (worst_loss <= saved[cheapest])
            break;
        std::vector<colour_point> tried = moving;
        tried[cheapest] = bins[worst].colour;
        refine(bins, tried, fixed, 2, true);
        const double tried_loss = loss_of(bins, tried, fixed);
        if (tried_loss >= loss)
            break;
        loss = tried_loss;
        moving = tried;
        std::copy(moving.begin(), moving.end(), all.begin());
    }
}

std::vector<bin> bins_of(std::span<const weighted_colour> histogram) {
    std::vector<bin> bins;
    for (const weighted_colour& c : histogram) {
        if (c.weight > 0)
            bins.push_back({point_of_rgb15(c.rgb15), c.weight, c.rgb15});
    }
    return bins;
}

}  // namespace

void add_to_histogram(std::span<const rgb8> pixels, std::vector<double>& bins, double weight) {
    bins.resize(game_colour_count, 0.0);
    for (const rgb8 pixel : pixels) bins[rgb15_of(at_game_levels(pixel))] += weight;
}

std::vector<weighted_colour> colours_of(const std::vector<double>& bins) {
    std::vector<weighted_colour> colours;
    for (std::size_t k = 0; k < bins.size(); ++k) {
        if (bins[k] > 0)
            colours.push_back({static_cast<std::uint16_t>(k), bins[k]});
    }
    return colours;
}

std::vector<std::uint16_t> choose_colours(std::span<const weighted_colour> histogram,
                                          std::span<const std::uint16_t> fixed, std::size_t count) {
    std::vector<bin> bins = bins_of(histogram);
    std::vector<colour_point> kept;
    for (const std::uint16_t c : fixed) kept.push_back(point_of_rgb15(c));
    // Colours the fixed ones show already need no entry of their own.
    std::erase_if(bins, [&](const bin& b) { return std::find(fixed.begin(), fixed.end(), b.rgb15) != fixed.end(); });
    if (count == 0 || bins.empty()) {
        return {};
    }
    if (bins.size() <= count) {
        std::vector<std::uint16_t> all;
        for (const bin& b : bins) all.push_back(b.rgb15);
        return all;
    }
    std::vector<colour_point> chosen = median_cut(bins, count);
    refine(bins, chosen, kept, lloyd_rounds, false);
    refine(bins, chosen, kept, snapped_rounds, true);
    improve_by_moves(bins, chosen, kept);
    std::vector<std::uint16_t> colours;
    for (const colour_point& c : chosen) {
        const std::uint16_t game = rgb15_nearest(c);
        if (std::find(colours.begin(), colours.end(), game) == colours.end() &&
            std::find(fixed.begin(), fixed.end(), game) == fixed.end()) {
            colours.push_back(game);
        }
    }
    return colours;
}

std::vector<std::uint8_t> map_to_palette(std::span<const rgb8> pixels, std::int32_t width, std::int32_t height,
                                         const rgb15_palette& palette, const usable_entries& usable, bool dither) {
    std::vector<colour_point> entries;
    std::vector<std::uint8_t> index_of_entry;
    for (std::size_t k = 0; k < palette_entries; ++k) {
        if (!usable[k])
            continue;
        const std::uint16_t colour = palette[k] & 0x7FFF;
        bool seen = false;  // entries alike: the lowest
        for (const std::uint8_t e : index_of_entry) seen = seen || (palette[e] & 0x7FFF) == colour;
        if (!seen) {
            entries.push_back(point_of_rgb15(colour));
            index_of_entry.push_back(static_cast<std::uint8_t>(k));
        }
    }
    std::vector<std::uint8_t> indices(pixels.size(), 0);
    if (entries.empty()) {
        return indices;
    }
    if (!dither) {
        // Each colour at its game levels first: a colour the palette holds
        // is that entry, whatever OKLab would make of the 8-bit value.
        std::unordered_map<std::uint32_t, std::uint8_t> known;
        for (std::size_t k = 0; k < pixels.size(); ++k) {
            const rgb8 c = torv::at_game_levels(pixels[k]);
            const std::uint32_t key = std::uint32_t{c.red} << 16 | std::uint32_t{c.green} << 8 | c.blue;
            const auto [found, fresh] = known.try_emplace(key, 0);
            if (fresh)
                found->second = index_of_entry[nearest_of(point_of(c), entries).first];
            indices[k] = found->second;
        }
        return indices;
    }
    // Floyd-Steinberg, serpentine: the error of this row and the next.
    const auto w = static_cast<std::size_t>(width);
    std::vector<colour_point> error_now(w + 2), error_next(w + 2);
    for (std::int32_t y = 0; y < height; ++y) {
        const bool leftward = (y % 2) == 1;
        std::fill(error_next.begin(), error_next.end(), colour_point{});
        for (std::size_t step = 0; step < w; ++step) {
            const std::size_t x = leftward ? w - 1 - step : step;
            const std::size_t at = static_cast<std::size_t>(y) * w + x;
            const colour_point given = point_of(torv::at_game_levels(pixels[at]));
            const colour_point& carried = error_now[x + 1];
            colour_point wanted;
            for (std::size_t axis = 0; axis < wanted.x.size(); ++axis) wanted.x[axis] = given.x[axis] + carried.x[axis];
            const std::size_t chosen = nearest_of(wanted, entries).first;
            indices[at] = index_of_entry[chosen];
            colour_point e;
            for (std::size_t axis = 0; axis < e.x.size(); ++axis)
                e.x[axis] = (wanted.x[axis] - entries[chosen].x[axis]) * diffusion;
            auto spread = [](colour_point& to, const colour_point& error, float share) {
                for (std::size_t axis = 0; axis < to.x.size(); ++axis) to.x[axis] += error.x[axis] * share;
            };
            const std::size_t ahead = leftward ? x : x + 2, behind = leftward ? x + 2 : x;
            spread(error_now[ahead], e, 7.0f / 16);
            spread(error_next[behind], e, 3.0f / 16);
            spread(error_next[x + 1], e, 5.0f / 16);
            spread(error_next[ahead], e, 1.0f / 16);
        }
        std::swap(error_now, error_next);
    }
    return indices;
}

std::vector<rgb8> shown_colours(std::span<const std::uint8_t> indices, const rgb15_palette& palette) {
    std::vector<rgb8> shown(indices.size());
    for (std::size_t k = 0; k < indices.size(); ++k) shown[k] = rgb8_of(palette[indices[k]]);
    return shown;
}

std::vector<rgb8> at_game_levels(std::span<const rgb8> pixels) {
    std::vector<rgb8> levelled(pixels.size());
    for (std::size_t k = 0; k < pixels.size(); ++k) levelled[k] = torv::at_game_levels(pixels[k]);
    return levelled;
}

}  // namespace torv
