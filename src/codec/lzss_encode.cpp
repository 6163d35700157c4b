#include "codec/lzss_encode.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <thread>

namespace torv {

namespace {

constexpr std::size_t window = 4096;
constexpr unsigned min_match = 3;
constexpr unsigned max_match = 18;
// The decoder's cursor starts 18 bytes before the end of its dictionary.
constexpr std::size_t ring_start = window - max_match;  // 4078

// Each item costs its bytes and one bit of a flag byte. A block of B bits in
// all takes ceil(B / 8) bytes besides its length field, and ceil is
// monotonic: the fewest bits make the fewest bytes.
constexpr std::uint32_t literal_bits = 8 + 1;
constexpr std::uint32_t match_bits = 16 + 1;

// ---------------------------------------------------------------------------
// The match finder: a binary tree of the positions in the window, ordered by
// the 18 bytes that start at each, one tree per value of the first two bytes.
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
    const std::uint32_t key = p[0] | p[1] << 8 | p[2] << 16;
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
    const auto n = static_cast<std::uint32_t>(size);
    for (int shift = 0; shift < 32; shift += 8) {
        writer.out.push_back(static_cast<std::uint8_t>(n >> shift));
    }
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

std::vector<parse_step> cheapest_parse(const std::vector<longest_match>& matches) {
    const std::size_t n = matches.size();
    constexpr std::uint32_t unreached = std::numeric_limits<std::uint32_t>::max() / 2;
    // cost[i]: the fewest bits for the first i bytes. Room past the end takes
    // the relaxations of matches that cannot be used there.
    std::vector<std::uint32_t> cost(n + 1 + max_match, unreached);
    cost[0] = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t here = cost[i];
        cost[i + 1] = std::min(cost[i + 1], here + literal_bits);
        // Every length from 3 to the longest, without a branch per length.
        const std::uint32_t via_match = here + match_bits;
        const unsigned longest = matches[i].length;
        if (longest < min_match) {
            continue;
        }
        std::uint32_t* reached = &cost[i + min_match];
        for (unsigned k = 0; k <= max_match - min_match; ++k) {
            const std::uint32_t candidate = k + min_match <= longest ? via_match : unreached;
            reached[k] = std::min(reached[k], candidate);
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
    for (std::uint32_t at = 0; at < window; ++at) {
        insert_position(finder, at);
    }
    std::vector<longest_match> matches(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        longest_match found = insert_position(finder, static_cast<std::uint32_t>(window + i));
        // Matches stop at the end of the data, not in the padding.
        found.length = static_cast<std::uint8_t>(std::min<std::size_t>(found.length, data.size() - i));
        matches[i] = found.length >= min_match ? found : longest_match{};
    }
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

void stretch_block(std::vector<std::uint8_t>& block, std::size_t min_size) {
    if (block.size() >= min_size || block.size() < 4) {
        return;
    }
    // Find the last group's flag byte and how many items it holds: walk the
    // items until the declared length is out.
    const std::uint32_t declared = static_cast<std::uint32_t>(block[0]) | static_cast<std::uint32_t>(block[1]) << 8 |
                                   static_cast<std::uint32_t>(block[2]) << 16 |
                                   static_cast<std::uint32_t>(block[3]) << 24;
    block_writer writer;
    std::uint64_t produced = 0;
    std::size_t pos = 4;
    while (produced < declared && pos < block.size()) {
        if (writer.items_in_group == 8) {
            writer.items_in_group = 0;
            writer.flag_at = pos++;
        }
        const bool literal = (block[writer.flag_at] >> writer.items_in_group & 1) != 0;
        if (literal) {
            produced += 1;
            pos += 1;
        } else {
            produced += pos + 1 < block.size() ? (block[pos + 1] & 0x0F) + min_match : 0;
            pos += 2;
        }
        ++writer.items_in_group;
    }
    // Whatever follows the last item is not part of the block.
    block.resize(std::min(pos, block.size()));
    writer.out = std::move(block);
    std::uint64_t length = std::max<std::uint64_t>(produced, declared);
    while (writer.out.size() < min_size) {
        put_literal(writer, 0);
        ++length;
    }
    const auto n = static_cast<std::uint32_t>(length);
    for (int k = 0; k < 4; ++k) {
        writer.out[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(n >> (8 * k));
    }
    block = std::move(writer.out);
}

std::vector<std::uint8_t> lzss_encode_literals(std::span<const std::uint8_t> data) {
    block_writer writer = start_block(data.size(), data.size() + data.size() / 8 + 1);
    for (const std::uint8_t byte : data) {
        put_literal(writer, byte);
    }
    return std::move(writer.out);
}

std::vector<std::vector<std::uint8_t>> lzss_encode_all(std::span<const std::span<const std::uint8_t>> inputs,
                                                       unsigned jobs) {
    std::vector<std::vector<std::uint8_t>> blocks(inputs.size());
    if (jobs == 0) {
        jobs = std::max(1u, std::thread::hardware_concurrency());
    }
    jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, inputs.size()));
    // Each block is encoded alone and lands in its own place, so the result
    // does not depend on which thread takes which block.
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t k = next++; k < inputs.size(); k = next++) {
            blocks[k] = lzss_encode(inputs[k]);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < jobs; ++t) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    return blocks;
}

}  // namespace torv
