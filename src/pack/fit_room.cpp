#include "pack/fit_room.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "codec/lzss_encode.h"
#include "codec/lzss_format.h"
#include "format/tiles.h"
#include "pack/parallel.h"

namespace torv {

namespace {

constexpr double literal_bits = 9;  // a byte, and its flag bit
constexpr double match_bits = 17;   // two bytes, and the flag bit
constexpr std::size_t exact_candidates = 8;
constexpr std::size_t hash_bits = 15;
constexpr float never = std::numeric_limits<float>::infinity();

// The search of lambda: from nearly no change down to the most, on a
// logarithmic scale, a fixed number of points a round (the same search for
// any number of threads).
constexpr double least_lambda = 1e-1;
constexpr double most_lambda = 1e9;
constexpr int search_rounds = 5;
constexpr int points_a_round = 3;

// What each byte of the block is to the search: fixed, or a pixel with the
// colour it should show and what its colour as given costs.
struct byte_terms {
    std::vector<std::int32_t> image;  // the image a byte is a pixel of, or -1
    std::vector<colour_point> wanted;
    std::vector<float> base;  // the difference of its colour as given
};

byte_terms terms_of(const alterable_block& block) {
    byte_terms terms;
    const std::size_t n = block.data.size();
    terms.image.assign(n, -1);
    terms.wanted.resize(n);
    terms.base.assign(n, 0.0f);
    for (std::size_t k = 0; k < block.images.size(); ++k) {
        const alterable_image& image = block.images[k];
        const std::array<colour_point, 256>& palette = block.palettes[image.palette];
        for (std::size_t p = 0; p < image.bytes.size(); ++p) {
            const std::size_t at = image.bytes[p];
            terms.image[at] = static_cast<std::int32_t>(k);
            terms.wanted[at] = image.wanted[p];
            terms.base[at] = distance_squared(image.wanted[p], palette[block.data[at]]);
        }
    }
    return terms;
}

// The distances a copy from a neighbour takes in an image: the pixels to
// the left, above (and beside that), two rows up; in tiles, the row above
// in the tile, the tile before, and the tile above.
std::vector<std::size_t> neighbour_distances(const alterable_image& image) {
    const auto width = static_cast<std::size_t>(image.width);
    std::vector<std::size_t> distances = {1, 2, 3, 4};
    if (image.tiled) {
        const std::size_t tile_bytes = tile_width * tile_height;
        distances.insert(distances.end(),
                         {tile_width, 2 * tile_width, tile_bytes, 2 * tile_bytes, width / tile_width * tile_bytes});
    } else {
        distances.insert(distances.end(), {width - 1, width, width + 1, 2 * width});
    }
    std::erase_if(distances, [](std::size_t d) { return d == 0 || d > lzss::ring_size; });
    return distances;
}

std::size_t hash_of(const std::uint8_t* p) {
    const std::uint32_t key = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
    return (key * 2654435761u) >> (32 - hash_bits);
}

struct lossy_walk {
    lossy_walk(const alterable_block& of, const byte_terms& with, double at) : block(of), terms(with), lambda(at) {}

    const alterable_block& block;
    const byte_terms& terms;
    double lambda;
    std::vector<std::vector<std::size_t>> neighbours;
    std::vector<std::uint8_t> out;
    std::vector<std::int64_t> heads = std::vector<std::int64_t>(std::size_t{1} << hash_bits, -1);
    std::vector<std::int64_t> chain;
    std::size_t hashed = 0;  // positions before this are in the chains
    std::array<std::size_t, 2> recent{0, 0};

    // What showing `value` at byte `at` costs, against the colour wanted.
    float cost(std::size_t at, std::uint8_t value) const {
        const std::int32_t image = terms.image[at];
        if (image < 0) {
            return value == block.data[at] ? 0.0f : never;
        }
        const alterable_image& of = block.images[static_cast<std::size_t>(image)];
        return of.weight * (distance_squared(terms.wanted[at], block.palettes[of.palette][value]) - terms.base[at]);
    }

    void hash_up_to(std::size_t decided) {
        for (; hashed + 2 < decided; ++hashed) {
            const std::size_t bucket = hash_of(out.data() + hashed);
            chain[hashed] = heads[bucket];
            heads[bucket] = static_cast<std::int64_t>(hashed);
        }
    }

    // The copy from `distance` back that gains the most at `at`, if any
    // gains more than `best_score`.
    void weigh(std::size_t at, std::size_t distance, double& best_score, std::size_t& best_distance,
               std::size_t& best_length) const {
        if (distance == 0 || distance > at) {
            return;
        }
        const std::size_t longest = std::min<std::size_t>(lzss::max_match, out.size() - at);
        const double most_saved = literal_bits * static_cast<double>(longest) - match_bits;
        std::array<std::uint8_t, lzss::max_match> proposed{};
        double difference = 0;
        for (std::size_t length = 1; length <= longest; ++length) {
            const std::size_t from = at + length - 1 - distance;
            const std::uint8_t value = from < at ? out[from] : proposed[from - at];
            proposed[length - 1] = value;
            const float c = cost(at + length - 1, value);
            if (c == never)
                return;
            difference += c;
            // A byte's difference is hardly ever below its own colour's: a
            // copy that has lost more than it could ever save is done.
            if (most_saved - lambda * difference <= best_score)
                return;
            if (length >= lzss::min_match) {
                const double score = literal_bits * static_cast<double>(length) - match_bits - lambda * difference;
                if (score > best_score) {
                    best_score = score;
                    best_distance = distance;
                    best_length = length;
                }
            }
        }
    }

    std::vector<std::uint8_t> run() {
        out = block.data;
        chain.assign(out.size(), -1);
        for (const alterable_image& image : block.images) neighbours.push_back(neighbour_distances(image));
        std::size_t at = 0;
        while (at < out.size()) {
            hash_up_to(at);
            double best_score = 0;
            std::size_t best_distance = 0, best_length = 0;
            std::array<std::size_t, 32> tried{};
            std::size_t tried_count = 0;
            auto try_distance = [&](std::size_t distance) {
                if (std::find(tried.begin(), tried.begin() + tried_count, distance) != tried.begin() + tried_count ||
                    tried_count == tried.size()) {
                    return;
                }
                tried[tried_count++] = distance;
                weigh(at, distance, best_score, best_distance, best_length);
            };
            const std::int32_t image = terms.image[at];
            if (image >= 0) {
                for (const std::size_t d : neighbours[static_cast<std::size_t>(image)]) try_distance(d);
            }
            for (const std::size_t d : recent) try_distance(d);
            if (at + 2 < out.size()) {
                // Stretches met before that begin as the wanted bytes do.
                std::size_t seen = 0;
                for (std::int64_t p = heads[hash_of(block.data.data() + at)]; p >= 0 && seen < exact_candidates;
                     p = chain[static_cast<std::size_t>(p)], ++seen) {
                    const std::size_t distance = at - static_cast<std::size_t>(p);
                    if (distance > lzss::ring_size)
                        break;
                    try_distance(distance);
                }
            }
            if (best_length >= lzss::min_match) {
                for (std::size_t k = 0; k < best_length; ++k) out[at + k] = out[at + k - best_distance];
                recent = {best_distance, recent[0]};
                at += best_length;
            } else {
                ++at;  // kept as given
            }
        }
        return std::move(out);
    }
};

struct trial {
    double lambda = 0;
    std::vector<std::uint8_t> content;
    std::vector<std::uint8_t> block;
};

trial try_lambda(const alterable_block& block, const byte_terms& terms, double lambda) {
    trial made;
    made.lambda = lambda;
    made.content = lossy_walk(block, terms, lambda).run();
    made.block = lzss_encode(made.content);
    return made;
}

}  // namespace

std::vector<std::uint8_t> lossy_content(const alterable_block& block, double lambda) {
    const byte_terms terms = terms_of(block);
    return lossy_walk(block, terms, lambda).run();
}

result<fitted_block> fit_into_room(const alterable_block& block, std::size_t room, unsigned jobs) {
    std::vector<std::uint8_t> whole = lzss_encode(block.data);
    if (whole.size() <= room) {
        return fitted_block{block.data, std::move(whole), most_lambda};
    }
    const byte_terms terms = terms_of(block);
    trial most_change = try_lambda(block, terms, 0.0);
    if (most_change.block.size() > room) {
        failure why = failure_of(code::block_too_large, "even changed as far as it can be, the block needs " +
                                                            std::to_string(most_change.block.size()) +
                                                            " bytes, and has room for " + std::to_string(room));
        why.needed = static_cast<std::int64_t>(most_change.block.size());
        why.room = static_cast<std::int64_t>(room);
        return why;
    }
    // The best so far: the least change that fits. Each round tries points
    // spread evenly (on a log scale) between the largest lambda known to fit
    // and the smallest known not to.
    trial best = std::move(most_change);
    double low = std::log(least_lambda), high = std::log(most_lambda);
    for (int round = 0; round < search_rounds; ++round) {
        std::vector<trial> tried(points_a_round);
        torv::parallel_for(points_a_round, std::max(1u, jobs), [&](std::size_t k) {
            const double at = low + (high - low) * static_cast<double>(k + 1) / (points_a_round + 1);
            tried[k] = try_lambda(block, terms, std::exp(at));
        });
        double next_low = low, next_high = high;
        for (std::size_t k = 0; k < tried.size(); ++k) {
            const double at = std::log(tried[k].lambda);
            if (tried[k].block.size() <= room) {
                next_low = std::max(next_low, at);
                if (tried[k].lambda > best.lambda)
                    best = std::move(tried[k]);
            } else {
                next_high = std::min(next_high, at);
            }
        }
        if (next_high < next_low)
            next_high = high;  // not monotonic here: keep looking above
        low = next_low;
        high = next_high;
    }
    return fitted_block{std::move(best.content), std::move(best.block), best.lambda};
}

}  // namespace torv
