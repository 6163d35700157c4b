#include "codec/lzss_encode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "codec/lzss_format.h"
#include "io/little_endian.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace torv {

namespace {

using lzss::max_match;
using lzss::min_match;
using lzss::ring_start;
constexpr std::size_t window = lzss::ring_size;

// Each item costs its bytes and one bit of a flag byte. A block of B bits in
// all takes ceil(B / 8) bytes besides its length field, and ceil is
// monotonic: the fewest bits make the fewest bytes.
constexpr std::uint32_t literal_bits = 8 + 1;
constexpr std::uint32_t match_bits = 16 + 1;

// ---------------------------------------------------------------------------
// The match finder: a binary tree of the positions in the window, ordered by
// the 18 bytes that start at each, one tree per hash of the first three bytes.
// Inserting a position walks down its tree, passing its neighbours in that
// order (so finding the longest match), and splits the tree around it; the
// new position becomes the root. Every node is newer than the nodes below it,
// so the first node found outside the window ends the walk. Equal strings
// replace each other, which keeps long runs of one byte at constant cost.

constexpr std::uint32_t no_node = std::numeric_limits<std::uint32_t>::max();
// Child links are kept per position modulo a power of two above the window,
// so a node in the window never shares its slot with the node being inserted.
constexpr std::size_t link_slots = 2 * window;
constexpr std::size_t slot_mask = link_slots - 1;
constexpr unsigned tree_bits = 17;
constexpr std::size_t tree_count = std::size_t{1} << tree_bits;

// The tree of a string: a hash of its first three bytes, the shortest match.
// Strings of different trees never share three bytes.
inline std::size_t tree_of(const std::uint8_t* p) {
    const std::uint32_t key = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
    return (key * 2654435761u) >> (32 - tree_bits);
}
constexpr std::size_t stream_padding = max_match + 8;

struct match_finder {
    // The decoder's view of the data: `window` zeros, the data, and padding
    // so that every position has 18 bytes to compare (and a word beyond).
    std::vector<std::uint8_t> stream;
    std::vector<std::uint32_t> roots = std::vector<std::uint32_t>(tree_count, no_node);
    std::vector<std::uint32_t> links = std::vector<std::uint32_t>(2 * link_slots, no_node);  // smaller, larger
};

// How many of the first 18 bytes at `a` and `b` agree, knowing that the first
// `known` do. Compares eight bytes at a time; the stream's padding covers the
// reads past the 18th byte.
inline unsigned shared_length(const std::uint8_t* a, const std::uint8_t* b, unsigned known) {
    for (unsigned length = known; length < max_match; length += 8) {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        std::memcpy(&x, a + length, 8);
        std::memcpy(&y, b + length, 8);
        if (x != y) {
            // The first differing byte: the lowest set bit, on a little-endian
            // machine; byte by byte elsewhere.
            if constexpr (std::endian::native == std::endian::little) {
                return std::min(max_match, length + static_cast<unsigned>(std::countr_zero(x ^ y)) / 8);
            } else {
                while (a[length] == b[length]) ++length;
                return std::min(max_match, length);
            }
        }
    }
    return max_match;
}

// Inserts position `at` of the stream and returns the longest match for it
// (compared over up to 18 bytes, padding included).
longest_match insert_position(match_finder& finder, std::uint32_t at) {
    const std::uint8_t* s = finder.stream.data();
    std::uint32_t& root = finder.roots[tree_of(s + at)];
    std::uint32_t node = root;
    root = at;

    std::uint32_t* smaller_link = &finder.links[2 * (at & slot_mask)];
    std::uint32_t* larger_link = smaller_link + 1;
    // The bytes shared with the nearest smaller and larger strings seen so
    // far are shared with every node between them.
    unsigned smaller_shared = 0;
    unsigned larger_shared = 0;
    longest_match best;
    while (node != no_node && at - node <= window) {
        const unsigned length = shared_length(s + node, s + at, std::min(smaller_shared, larger_shared));
        std::uint32_t* node_links = &finder.links[2 * (node & slot_mask)];
        if (length > best.length) {
            best = {static_cast<std::uint8_t>(length), static_cast<std::uint16_t>(at - node)};
        }
        if (length == max_match) {
            // The new position takes the old one's place and its subtrees.
            *smaller_link = node_links[0];
            *larger_link = node_links[1];
            return best;
        }
        if (s[node + length] < s[at + length]) {
            *smaller_link = node;
            smaller_link = &node_links[1];
            node = node_links[1];
            smaller_shared = length;
        } else {
            *larger_link = node;
            larger_link = &node_links[0];
            node = node_links[0];
            larger_shared = length;
        }
    }
    *smaller_link = no_node;
    *larger_link = no_node;
    return best;
}

// Inserts position `at` whose 18 bytes are those of `at - 1`, just inserted:
// what insert_position would do, without the walk. It replaces `at - 1` at the
// root of their tree.
longest_match insert_repeat(match_finder& finder, std::uint32_t at) {
    finder.roots[tree_of(finder.stream.data() + at)] = at;
    const std::uint32_t* previous = &finder.links[2 * ((at - 1) & slot_mask)];
    std::uint32_t* links = &finder.links[2 * (at & slot_mask)];
    links[0] = previous[0];
    links[1] = previous[1];
    return {max_match, 1};
}

// Inserts every position from `from` to `to` (exclusive); calls found(at,
// match) for each. Inside a run of one byte, where each string is the one
// before it, insertion takes the short way.
template <typename on_found>
void insert_positions(match_finder& finder, std::uint32_t from, std::uint32_t to, on_found found) {
    const std::uint8_t* s = finder.stream.data();
    longest_match last;
    for (std::uint32_t at = from; at < to; ++at) {
        // The last match was 18 bytes at distance 1: bytes at-2 .. at+16 are
        // one byte; one more and this string is the last one again.
        const bool repeat = last.length == max_match && last.distance == 1 && s[at + max_match - 1] == s[at];
        last = repeat ? insert_repeat(finder, at) : insert_position(finder, at);
        found(at, last);
    }
}

// ---------------------------------------------------------------------------
// Writing the item stream.

struct block_writer {
    std::vector<std::uint8_t> out;
    std::size_t flag_at = 0;
    unsigned items_in_group = 8;  // a new group starts with the first item
};

block_writer start_block(std::size_t size, std::size_t reserve) {
    block_writer writer;
    writer.out.reserve(4 + reserve);
    writer.out.resize(4);
    put_u32le(writer.out.data(), static_cast<std::uint32_t>(size));
    return writer;
}

void begin_item(block_writer& writer, bool literal) {
    if (writer.items_in_group == 8) {
        writer.items_in_group = 0;
        writer.flag_at = writer.out.size();
        writer.out.push_back(0);
    }
    if (literal) {
        writer.out[writer.flag_at] =
            static_cast<std::uint8_t>(writer.out[writer.flag_at] | 1u << writer.items_in_group);
    }
    ++writer.items_in_group;
}

void put_literal(block_writer& writer, std::uint8_t byte) {
    begin_item(writer, true);
    writer.out.push_back(byte);
}

// A match of `length` bytes from `distance` back, for the data byte at
// `position`: the decoder reads it from its dictionary position.
void put_match(block_writer& writer, std::size_t position, unsigned length, unsigned distance) {
    begin_item(writer, false);
    const std::size_t from = (ring_start + position + window - distance) % window;
    writer.out.push_back(static_cast<std::uint8_t>(from & 0xFF));
    writer.out.push_back(static_cast<std::uint8_t>((from >> 8) << 4 | (length - min_match)));
}

// ---------------------------------------------------------------------------
// The optimal parse: a shortest path from the first byte to the end, where a
// literal costs literal_bits and a match of any length up to the longest
// costs match_bits. Every shorter length of a match is a match too, at the
// same distance.

struct parse_step {
    std::uint8_t length = 0;  // of the item that ends here: 1 for a literal
    std::uint16_t distance = 0;
};

// Lowers cost[k] to `via_match` for k = 0 .. longest - 3: the ends of every
// length of a match. Four costs at a time where the processor allows (costs
// stay far below 2^31, so signed comparisons serve).
inline void relax_matches(std::uint32_t* reached, std::uint32_t via_match, unsigned longest) {
    constexpr unsigned lanes = max_match - min_match + 1;  // 16
#ifdef __SSE2__
    const __m128i candidate = _mm_set1_epi32(static_cast<int>(via_match));
    const __m128i lane = _mm_setr_epi32(0, 1, 2, 3);
    const __m128i count = _mm_set1_epi32(static_cast<int>(longest - min_match + 1));
    for (unsigned k = 0; k < lanes; k += 4) {
        auto* at = reinterpret_cast<__m128i*>(reached + k);
        const __m128i current = _mm_loadu_si128(at);
        const __m128i in_match = _mm_cmpgt_epi32(count, _mm_add_epi32(lane, _mm_set1_epi32(static_cast<int>(k))));
        const __m128i take = _mm_and_si128(in_match, _mm_cmpgt_epi32(current, candidate));
        _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(take, candidate), _mm_andnot_si128(take, current)));
    }
#else
    for (unsigned k = 0; k < lanes; ++k) {
        if (k + min_match <= longest) {
            reached[k] = std::min(reached[k], via_match);
        }
    }
#endif
}

// The cheapest of the positions that reach as far as a match can (18
// bytes): they can end a match anywhere 3 to 18 bytes on, so the cheapest of
// the last 16 of them serves every position; a queue keeps it at hand.
struct window_minimum {
    static constexpr std::size_t capacity = 32;  // a power of two above 16
    std::array<std::size_t, capacity> positions{};
    std::size_t first = 0;
    std::size_t last = 0;  // one past the newest

    bool empty() const { return first == last; }
    std::size_t front() const { return positions[first % capacity]; }
    void add(std::size_t position, const std::vector<std::uint32_t>& cost) {
        // Positions no cheaper than a newer one can never be the cheapest.
        while (!empty() && cost[positions[(last - 1) % capacity]] >= cost[position]) --last;
        positions[last++ % capacity] = position;
    }
    void drop_before(std::size_t oldest) {
        while (!empty() && front() < oldest) ++first;
    }
};

std::vector<parse_step> cheapest_parse(const std::vector<longest_match>& matches) {
    const std::size_t n = matches.size();
    constexpr std::uint32_t unreached = std::numeric_limits<std::uint32_t>::max() / 2;
    // cost[i]: the fewest bits for the first i bytes. Room past the end takes
    // the relaxations of matches that cannot be used there.
    std::vector<std::uint32_t> cost(n + 1 + max_match, unreached);
    cost[0] = 0;
    window_minimum full_reach;
    for (std::size_t j = 0; j <= n; ++j) {
        if (j > 0) {
            // Arriving at j: by a literal, by a match from a position of full
            // reach, or by what shorter matches already brought here.
            std::uint32_t best = std::min(cost[j], cost[j - 1] + literal_bits);
            if (j >= min_match && matches[j - min_match].length == max_match) {
                full_reach.add(j - min_match, cost);
            }
            full_reach.drop_before(j >= max_match ? j - max_match : 0);
            if (!full_reach.empty()) {
                best = std::min(best, cost[full_reach.front()] + match_bits);
            }
            cost[j] = best;
        }
        // Leaving j by a shorter match: its ends, pushed ahead.
        const unsigned longest = j < n ? matches[j].length : 0;
        if (longest >= min_match && longest < max_match) {
            relax_matches(&cost[j + min_match], cost[j] + match_bits, longest);
        }
    }
    // Walk back from the end: each step is an item whose start has the cost
    // that makes the step's end as cheap as it is.
    std::vector<parse_step> steps;
    for (std::size_t end = n; end > 0;) {
        parse_step step{1, 0};
        if (cost[end] != cost[end - 1] + literal_bits) {
            for (unsigned length = max_match; length >= min_match; --length) {
                if (length > end) {
                    continue;
                }
                const std::size_t start = end - length;
                if (matches[start].length >= length && cost[start] + match_bits == cost[end]) {
                    step = {static_cast<std::uint8_t>(length), matches[start].distance};
                    break;
                }
            }
        }
        steps.push_back(step);
        end -= step.length;
    }
    std::reverse(steps.begin(), steps.end());
    return steps;
}

std::vector<std::uint8_t> write_steps(std::span<const std::uint8_t> data, const std::vector<parse_step>& steps) {
    block_writer writer = start_block(data.size(), data.size() / 2);
    std::size_t position = 0;
    for (const parse_step& step : steps) {
        if (step.length == 1) {
            put_literal(writer, data[position]);
        } else {
            put_match(writer, position, step.length, step.distance);
        }
        position += step.length;
    }
    return std::move(writer.out);
}

}  // namespace

std::vector<longest_match> find_longest_matches(std::span<const std::uint8_t> data) {
    match_finder finder;
    finder.stream.assign(window, 0);
    finder.stream.insert(finder.stream.end(), data.begin(), data.end());
    finder.stream.resize(finder.stream.size() + stream_padding, 0);

    // The zeros ahead of the data are sources of matches too.
    std::vector<longest_match> matches(data.size());
    const auto end = static_cast<std::uint32_t>(window + data.size());
    insert_positions(finder, 0, end, [&](std::uint32_t at, longest_match found) {
        if (at < window) {
            return;
        }
        const std::size_t i = at - window;
        // Matches stop at the end of the data, not in the padding.
        found.length = static_cast<std::uint8_t>(std::min<std::size_t>(found.length, data.size() - i));
        matches[i] = found.length >= min_match ? found : longest_match{};
    });
    return matches;
}

std::vector<std::uint8_t> lzss_encode(std::span<const std::uint8_t> data) {
    return write_steps(data, cheapest_parse(find_longest_matches(data)));
}

std::vector<std::uint8_t> lzss_encode_greedy(std::span<const std::uint8_t> data) {
    const std::vector<longest_match> matches = find_longest_matches(data);
    std::vector<parse_step> steps;
    for (std::size_t i = 0; i < data.size();) {
        const longest_match& found = matches[i];
        steps.push_back(found.length >= min_match ? parse_step{found.length, found.distance} : parse_step{1, 0});
        i += steps.back().length;
    }
    return write_steps(data, steps);
}

stretched_block stretch_block(std::vector<std::uint8_t> block, std::uint64_t min_size) {
    stretched_block stretched;
    if (block.size() >= min_size || block.size() < 4) {
        stretched.head = std::move(block);
        return stretched;
    }
    // Find the last group's flag byte and how many items it holds: walk the
    // items until the declared length is out or the stream ends.
    const std::uint32_t declared = get_u32le(block.data());
    block_writer writer;  // no items yet: the first added starts a group
    std::size_t pos = 4;
    std::size_t items_end = pos;  // after the last whole item
    std::size_t flag_at = 0;
    unsigned items_in_group = 0;
    lzss::item_walk walk;
    lzss::walk_items(
        walk, declared, [&] { return pos < block.size() ? int{block[pos++]} : -1; },
        [&] {
            flag_at = pos - 1;
            items_in_group = 0;
        },
        [&] {
            items_end = pos;
            writer.flag_at = flag_at;
            writer.items_in_group = ++items_in_group;
        });
    // Whatever follows the last whole item is not part of the block.
    block.resize(items_end);
    writer.out = std::move(block);
    std::uint64_t length = std::max<std::uint64_t>(walk.produced, declared);

    // Fill the last group, then whole groups of nine bytes, then a part of
    // one: m literals there take m + 1 bytes.
    std::uint64_t missing = min_size - writer.out.size();
    while (writer.items_in_group < 8 && missing > 0) {
        put_literal(writer, 0);
        ++length;
        --missing;
    }
    stretched.groups = missing / filler_group.size();
    length += stretched.groups * 8;
    const std::uint64_t rest = missing % filler_group.size();
    if (rest > 0) {
        const std::uint64_t literals = std::max<std::uint64_t>(1, rest - 1);
        stretched.tail.assign(static_cast<std::size_t>(1 + literals), 0);
        stretched.tail[0] = static_cast<std::uint8_t>((1u << literals) - 1);
        length += literals;
    }
    put_u32le(writer.out.data(), static_cast<std::uint32_t>(length));
    stretched.head = std::move(writer.out);
    return stretched;
}

std::vector<std::uint8_t> joined(const stretched_block& block) {
    std::vector<std::uint8_t> out = block.head;
    for (std::uint64_t k = 0; k < block.groups; ++k) {
        out.insert(out.end(), filler_group.begin(), filler_group.end());
    }
    out.insert(out.end(), block.tail.begin(), block.tail.end());
    return out;
}

std::vector<std::uint8_t> lzss_encode_literals(std::span<const std::uint8_t> data) {
    block_writer writer = start_block(data.size(), data.size() + data.size() / 8 + 1);
    for (const std::uint8_t byte : data) {
        put_literal(writer, byte);
    }
    return std::move(writer.out);
}

}  // namespace torv
