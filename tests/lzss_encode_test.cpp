// The encoder against brute force: its blocks are the smallest any valid
// stream can be, its matches the longest there are, and everything it writes
// decodes back exactly.
#include "codec/lzss_encode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "block_file.h"
#include "lzss_reference.h"

namespace torv::test {
namespace {

using bytes = std::vector<std::uint8_t>;

constexpr std::size_t ring = 4096;
constexpr std::size_t cursor_start = 4078;

// The fewest bytes of any block for `data` (at most 4096 bytes), found by
// trying every item the decoder could be given at every step: a literal, or a
// match from any of the 4096 dictionary positions of any valid length.
// Counts real bytes, flag bytes included.
std::size_t brute_force_minimum(const bytes& data) {
    const std::size_t n = data.size();
    // What the decoder's dictionary holds at ring position q once t bytes are
    // out: each position is written at most once for such short data.
    auto ring_byte = [&](std::size_t q, std::size_t t) -> std::uint8_t {
        const std::size_t j = (q + ring - cursor_start) % ring;
        return j < t ? data[j] : 0;
    };
    // Valid match lengths at each position: from each dictionary position,
    // copy byte by byte as the decoder does and stop at the first mismatch.
    std::vector<std::vector<unsigned>> lengths(n);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned longest = 0;
        for (std::size_t p = 0; p < ring; ++p) {
            unsigned k = 0;
            while (k < 18 && i + k < n && ring_byte((p + k) % ring, i + k) == data[i + k]) {
                ++k;
            }
            longest = std::max(longest, k);
        }
        for (unsigned length = 3; length <= longest; ++length) {
            lengths[i].push_back(length);
        }
    }
    // best[i][g]: bytes for data[i..] when g items of the current group are
    // already out (0: the next item needs a new flag byte).
    std::vector<std::array<std::size_t, 8>> best(n + 1);
    best[n].fill(0);
    for (std::size_t i = n; i-- > 0;) {
        for (unsigned g = 0; g < 8; ++g) {
            const std::size_t flag = g == 0 ? 1 : 0;
            std::size_t cost = flag + 1 + best[i + 1][(g + 1) % 8];
            for (const unsigned length : lengths[i]) {
                cost = std::min(cost, flag + 2 + best[i + length][(g + 1) % 8]);
            }
            best[i][g] = cost;
        }
    }
    return 4 + best[0][0];
}

bytes random_bytes(std::mt19937& random, std::size_t size, unsigned alphabet) {
    bytes data(size);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(random() % alphabet);
    }
    return data;
}

// Small inputs of every kind: noise over few symbols, runs (of zeros too,
// which match the starting dictionary), repeats with overlap.
std::vector<bytes> small_inputs() {
    std::mt19937 random(11);
    std::vector<bytes> inputs;
    for (int round = 0; round < 300; ++round) {
        const std::size_t size = 1 + random() % (round % 5 == 0 ? 90 : 48);
        bytes data = random_bytes(random, size, 1 + static_cast<unsigned>(round % 4));
        if (round % 3 == 1) {
            // Runs of random lengths.
            data.clear();
            while (data.size() < size) {
                // Some runs long enough for matches of 18 from every byte.
                const std::size_t run = 1 + random() % (round % 2 == 0 ? 40 : 12);
                data.insert(data.end(), run, static_cast<std::uint8_t>(random() % 3));
            }
        } else if (round % 3 == 2) {
            // A short pattern repeated, with a changed byte here and there.
            const bytes pattern = random_bytes(random, 1 + random() % 5, 5);
            data.clear();
            for (std::size_t k = 0; k < size; ++k) {
                data.push_back(random() % 9 == 0 ? 7 : pattern[k % pattern.size()]);
            }
        }
        inputs.push_back(data);
    }
    return inputs;
}

void expect_decodes_back(const bytes& block, const bytes& data) {
    EXPECT_EQ(decode_file(block).data, data);
    const samples::reference_result plain = samples::reference_decode(block);
    EXPECT_EQ(plain.data, data);
    EXPECT_EQ(plain.consumed, block.size());  // nothing left over, nothing missing
}

TEST(LzssEncoder, SmallestBlockThatAnyValidStreamCanBe) {
    for (const bytes& data : small_inputs()) {
        SCOPED_TRACE(::testing::PrintToString(data));
        const bytes block = lzss_encode(data);
        ASSERT_EQ(block.size(), brute_force_minimum(data));
        expect_decodes_back(block, data);
    }
}

// Longest matches checked against every distance, on data long enough for
// the window to slide and for matches to reach into the starting zeros.
TEST(LzssEncoder, MatchesAreTheLongestInTheWindow) {
    std::mt19937 random(5);
    for (unsigned alphabet : {2u, 3u, 16u}) {
        bytes data = random_bytes(random, 9'000, alphabet);
        std::fill(data.begin() + 5'000, data.begin() + 5'040, 0);  // a run of the dictionary's zeros
        bytes stream(ring, 0);
        stream.insert(stream.end(), data.begin(), data.end());
        const std::vector<longest_match> found = find_longest_matches(data);
        for (std::size_t i = 0; i < data.size(); ++i) {
            const std::size_t v = ring + i;
            const std::size_t limit = std::min<std::size_t>(18, data.size() - i);
            auto length_at = [&](std::size_t distance) {
                std::size_t k = 0;
                while (k < limit && stream[v - distance + k] == stream[v + k]) ++k;
                return k;
            };
            std::size_t longest = 0;
            for (std::size_t distance = 1; distance <= ring; ++distance) {
                longest = std::max(longest, length_at(distance));
            }
            ASSERT_EQ(found[i].length, longest >= 3 ? longest : 0) << "at " << i;
            if (found[i].length > 0) {
                ASSERT_EQ(length_at(found[i].distance), longest) << "at " << i;
            }
        }
    }
}

TEST(LzssEncoder, NeverLargerThanTheGreedyParseAndAlwaysDecodesBack) {
    std::mt19937 random(8);
    std::size_t optimal_total = 0, greedy_total = 0;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        bytes data = random_bytes(random, 1 + random() % 20'000, 1 + static_cast<unsigned>(random() % 40));
        for (std::size_t k = 0; k + 64 < data.size(); k += 1 + random() % 500) {
            std::fill_n(data.begin() + static_cast<std::ptrdiff_t>(k), random() % 64, data[k]);  // runs
        }
        const bytes optimal = lzss_encode(data);
        const bytes greedy = lzss_encode_greedy(data);
        ASSERT_LE(optimal.size(), greedy.size());
        expect_decodes_back(optimal, data);
        expect_decodes_back(greedy, data);
        optimal_total += optimal.size();
        greedy_total += greedy.size();
    }
    EXPECT_LT(optimal_total, greedy_total);
}

TEST(LzssEncoder, StretchedBlocksHoldTheirDataThenZeros) {
    std::mt19937 random(12);
    for (int round = 0; round < 60; ++round) {
        const bytes data = random_bytes(random, random() % 300, 4);
        const bytes block = lzss_encode(data);
        const std::uint64_t wanted = block.size() + random() % 100;
        const bytes stretched = joined(stretch_block(block, wanted));
        ASSERT_GE(stretched.size(), wanted);
        ASSERT_LE(stretched.size(), std::max<std::uint64_t>(wanted, block.size()) + 1);
        const samples::reference_result back = samples::reference_decode(stretched);
        ASSERT_EQ(back.consumed, stretched.size());
        ASSERT_TRUE(std::equal(data.begin(), data.end(), back.data.begin()));
        ASSERT_TRUE(std::all_of(back.data.begin() + static_cast<std::ptrdiff_t>(data.size()), back.data.end(),
                                [](std::uint8_t b) { return b == 0; }));
    }
}

}  // namespace
}  // namespace torv::test
