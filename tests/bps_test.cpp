// BPS patches: a patch made by hand from the format's public description
// applies as it says; ours turn any source into any target, small where the
// files are alike; and a patch cut short, changed, or applied to another
// file is refused, never read past.
#include "codec/bps.h"

#include <gtest/gtest.h>

#include <random>

#include "bps_by_hand.h"

namespace torv {
namespace {

using bytes = std::vector<std::uint8_t>;

using test::bps_by_hand::put_crc;
using test::bps_by_hand::put_number;
const auto zlib_crc = test::bps_by_hand::crc_of;
const auto hand_patch = [](const bytes& source, std::uint64_t target_size, const bytes& actions,
                           std::uint32_t target_crc, const std::string& metadata = {}) {
    return test::bps_by_hand::patch_of(source, target_size, actions, target_crc, metadata);
};

// A patch as the format describes it, its numbers written by hand: from
// "abcdef", the target "abc" read where it stands, "xy" given, "xyxyx"
// copied from the target's offset 3 (overlapping what it writes), then "ef"
// copied from the source's offset 4.
TEST(Bps, APatchWrittenByHandAppliesAsTheFormatSays) {
    const bytes source = {'a', 'b', 'c', 'd', 'e', 'f'};
    const bytes target = {'a', 'b', 'c', 'x', 'y', 'x', 'y', 'x', 'y', 'x', 'e', 'f'};
    bytes patch = {
        'B',  'P',  'S', '1', 0x86, 0x8C, 0x80,  // sizes 6 and 12, no metadata
        0x88,                                    // source read, 3
        0x85, 'x',  'y',                         // target read, 2
        0x93, 0x86,                              // target copy, 5, from +3
        0x86, 0x88,                              // source copy, 2, from +4
    };
    put_crc(patch, zlib_crc(source));
    put_crc(patch, zlib_crc(target));
    put_crc(patch, zlib_crc(patch));
    const result<bytes> made = bps_apply(patch, source);
    ASSERT_TRUE(made) << made.error().words;
    EXPECT_EQ(*made, target);
    const result<bps_facts> facts = bps_facts_of(patch);
    EXPECT_EQ(facts->source_size, 6u);
    EXPECT_EQ(facts->target_size, 12u);
    EXPECT_EQ(facts->target_crc32, zlib_crc(target));
}

bytes noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    bytes out(size);
    for (auto& b : out) b = static_cast<std::uint8_t>(random());
    return out;
}

TEST(Bps, AnySourceBecomesAnyTargetAndAlikeFilesMakeSmallPatches) {
    const bytes base = noise(200'000, 1);
    bytes edited = base;
    for (std::size_t k = 0; k < 300; ++k) edited[50'000 + k] ^= 0x5A;  // changed in place
    bytes moved(base.begin() + 100'000, base.end());                   // the second half first
    moved.insert(moved.end(), base.begin(), base.begin() + 100'000);
    bytes repeated(1000, 7);
    for (int k = 0; k < 50; ++k) repeated.insert(repeated.end(), base.begin(), base.begin() + 1000);
    struct pair {
        bytes source, target;
        std::size_t most;  // bytes the patch may take
    };
    const pair pairs[] = {
        {base, base, 40},
        {base, edited, 400},
        {base, moved, 80},
        {bytes(), repeated, 1200},
        {base, bytes(), 40},
        {bytes(), bytes(), 40},
        {base, noise(5000, 2), 5100},
    };
    for (const pair& p : pairs) {
        SCOPED_TRACE(std::to_string(p.source.size()) + " to " + std::to_string(p.target.size()));
        const bytes patch = bps_encode(p.source, p.target);
        EXPECT_LE(patch.size(), p.most);
        const result<bytes> made = bps_apply(patch, p.source);
        ASSERT_TRUE(made) << made.error().words;
        EXPECT_TRUE(*made == p.target);
        const auto elsewhere = test::bps_by_hand::apply(patch, p.source);
        ASSERT_TRUE(elsewhere) << "a decoder written from the format's description refuses it";
        EXPECT_TRUE(elsewhere->target == p.target);
    }
}

// Metadata is part of the format: what a patch carries there is read back
// as it was, by us and by a decoder written from the format's description,
// and a patch with another tool's metadata (XML, as some write) still
// applies here.
TEST(Bps, MetadataIsCarriedBothWays) {
    const bytes source = noise(3000, 5);
    bytes target = source;
    target[1000] ^= 0xFF;
    const std::string ours = R"({"title":"Café","file":"data/four.bin"})";
    const bytes patch = bps_encode(source, target, ours);
    const result<bps_facts> facts = bps_facts_of(patch);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->metadata, ours);
    const auto elsewhere = test::bps_by_hand::apply(patch, source);
    ASSERT_TRUE(elsewhere);
    EXPECT_EQ(elsewhere->metadata, ours);
    EXPECT_TRUE(elsewhere->target == target);

    const std::string theirs = "<?xml version=\"1.0\"?><patch><title>x</title></patch>";
    bytes actions;
    put_number(actions, (source.size() - 1) << 2);  // the whole source read where it stands
    const bytes plain_copy = hand_patch(source, source.size(), actions, zlib_crc(source), theirs);
    const result<bytes> made = bps_apply(plain_copy, source);
    ASSERT_TRUE(made) << made.error().words;
    EXPECT_TRUE(*made == source);
    EXPECT_EQ(bps_facts_of(plain_copy)->metadata, theirs);
}

// Numbers of two bytes and more (a read of 300 bytes, moves of thousands)
// apply; a wrong target CRC32, bytes after the last action, and moves that
// leave the file (near 2^63 either way, where a sum would overflow) are
// refused, each with a patch whose own CRC32 is right.
TEST(Bps, LongNumbersApplyAndPatchesThatLieAreRefused) {
    const bytes source = noise(5000, 4);
    bytes target(source.begin(), source.begin() + 300);                // read where it stands
    target.insert(target.end(), source.begin() + 4000, source.end());  // copied from +4000 on
    bytes actions;
    put_number(actions, (300 - 1) << 2 | 0);   // source read, 300: two bytes
    put_number(actions, (1000 - 1) << 2 | 2);  // source copy, 1000
    put_number(actions, 4000 << 1);            // the cursor moves from 0 to 4000
    const bytes patch = hand_patch(source, target.size(), actions, zlib_crc(target));
    ASSERT_GT(actions.size(), 3u) << "numbers of several bytes";
    const result<bytes> made = bps_apply(patch, source);
    ASSERT_TRUE(made) << made.error().words;
    EXPECT_TRUE(*made == target);

    auto refused = [&](const bytes& wrong, const std::string& why) {
        SCOPED_TRACE(why);
        const result<bytes> applied = bps_apply(wrong, source);
        ASSERT_FALSE(applied);
        EXPECT_EQ(applied.error().code, code::bad_patch);
        EXPECT_NE(applied.error().words.find(why), std::string::npos) << applied.error().words;
    };
    refused(hand_patch(source, target.size(), actions, zlib_crc(target) ^ 1), "its CRC32 differs");
    bytes trailing = actions;
    trailing.push_back(0x80);
    refused(hand_patch(source, target.size(), trailing, zlib_crc(target)), "goes on after the target is whole");
    // Moves forward and back (bit 0 the sign): near 2^63 each way, past the
    // end, before the start.
    for (const std::uint64_t moved :
         {std::uint64_t{0x7FFFFFFFFFFFFFFF} << 1, (std::uint64_t{0x7FFFFFFFFFFFFFFF} << 1) | 1,
          std::uint64_t{5000} << 1, (std::uint64_t{200} << 1) | 1}) {
        bytes far;
        put_number(far, (10 - 1) << 2 | 2);  // source copy, 10, from +100: the cursor stands at 110
        put_number(far, 100 << 1);
        put_number(far, (10 - 1) << 2 | 2);  // then 10 more, from far away
        put_number(far, moved);
        refused(hand_patch(source, 20, far, 0), "a copy starts outside what it copies from");
        bytes own;
        put_number(own, (4 - 1) << 2 | 1);  // target read, 4
        own.insert(own.end(), {1, 2, 3, 4});
        put_number(own, (2 - 1) << 2 | 3);  // target copy, 2, from +2: the cursor stands at 4
        put_number(own, 2 << 1);
        put_number(own, (10 - 1) << 2 | 3);  // then 10 more, from far away
        put_number(own, moved);
        refused(hand_patch(source, 16, own, 0), "a copy starts outside what it copies from");
    }
}

TEST(Bps, APatchCutChangedOrForAnotherFileIsRefused) {
    const bytes source = noise(5000, 3);
    bytes target = source;
    target.insert(target.begin() + 1000, 100, 9);
    const bytes patch = bps_encode(source, target);
    for (std::size_t size = 0; size < patch.size(); ++size) {
        const bytes cut(patch.begin(), patch.begin() + static_cast<std::ptrdiff_t>(size));
        const result<bytes> refused = bps_apply(cut, source);
        ASSERT_FALSE(refused) << size;
        EXPECT_EQ(refused.error().code, code::bad_patch);
    }
    for (std::size_t at = 0; at < patch.size(); ++at) {
        bytes changed = patch;
        changed[at] ^= 0x10;
        const result<bytes> refused = bps_apply(changed, source);
        ASSERT_FALSE(refused) << at;
    }
    bytes other = source;
    other[10] ^= 1;
    EXPECT_EQ(bps_apply(patch, other).error().code, code::wrong_source);
    EXPECT_EQ(bps_apply(patch, bytes(source.begin(), source.end() - 1)).error().code, code::wrong_source);
}

}  // namespace
}  // namespace torv
