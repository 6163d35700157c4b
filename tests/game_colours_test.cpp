// A stored colour and the game's levels it stands for, by the conventions
// editors keep: the nearest level of an 8-bit value; torv's top bits, and
// scaling rounded (GIMP) or cut (ImageMagick), for fewer bits.
#include "pack/game_colours.h"

#include <gtest/gtest.h>

namespace torv {
namespace {

constexpr channel_form shifted_five{5, false};  // a 16-bit BMP's five-bit channel
constexpr channel_form scaled_six{6, true};     // its six-bit green
constexpr channel_form scaled_five{5, true};    // an 8-bit file of five-bit values

TEST(GameColours, EachStoredValueStandsForTheLevelsEditorsMakeOfIt) {
    struct row {
        std::uint8_t value;
        channel_form form;
        std::uint8_t first, last, stored;
        const char* why;
    };
    const row rows[] = {
        {248, {}, 31, 31, 31, "torv's own value: its level"},
        {255, {}, 31, 31, 31, "above the last level: the last"},
        {252, {}, 31, 31, 31, "nearer 248 than anything"},
        {244, {}, 30, 31, 30, "halfway between 240 and 248: both"},
        {3, {}, 0, 0, 0, "nearer 0"},
        {5, {}, 1, 1, 1, "nearer 8"},
        {240, shifted_five, 30, 31, 30, "five bits of 30: torv's 240, or GIMP's 248 scaled"},
        {0, shifted_five, 0, 1, 0, "0, or 8 cut to five bits"},
        {248, shifted_five, 31, 31, 31, "31 is 31 every way"},
        {153, scaled_six, 19, 19, 19, "GIMP's green 38 of 63 for 152"},
        {123, scaled_five, 15, 16, 15, "ImageMagick's 15 of 31 for 128"},
        {0, scaled_five, 0, 1, 0, "ImageMagick's 0 for 8"},
        {247, scaled_five, 30, 31, 30, "ImageMagick's 30 of 31 for 248"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.why);
        const level_range levels = levels_of(r.value, r.form);
        EXPECT_EQ(levels.first, r.first);
        EXPECT_EQ(levels.last, r.last);
        EXPECT_EQ(levels.stored, r.stored);
    }
    // Every level a channel's value stands for, combined: 2 x 1 x 2 here.
    const game_colours colours = game_colours_of({240, 248, 0}, {shifted_five, shifted_five, scaled_five});
    EXPECT_EQ(colours.count, 4);
    EXPECT_TRUE(colours.contains(31 | 31 << 5 | 1 << 10));
    EXPECT_FALSE(colours.contains(30 | 30 << 5));
}

TEST(GameColours, AnEightBitFileOfFiveBitValuesIsTakenAsFiveBits) {
    picture scaled;
    scaled.colours = {{123, 247, 0}, {8, 16, 0}};
    take_five_bit_save(scaled);
    EXPECT_EQ(scaled.bits, (channel_bits{scaled_five, scaled_five, scaled_five}));
    picture torvs;  // 0, 8 and 16 are five-bit values scaled too, but all torv's own
    torvs.colours = {{0, 8, 16}, {8, 8, 8}};
    take_five_bit_save(torvs);
    EXPECT_EQ(torvs.bits, channel_bits{});
    picture other;  // 124 is no five-bit value scaled
    other.colours = {{123, 124, 0}};
    take_five_bit_save(other);
    EXPECT_EQ(other.bits, channel_bits{});
}

}  // namespace
}  // namespace torv
