// A block fitted into its room: left as it is where it fits; never over the
// room, the bytes that may not change unchanged, the block decoding to what
// was fitted; the same for any number of threads; and where no change of
// the pixels could make it fit, said so.
#include "pack/fit_room.h"

#include <gtest/gtest.h>

#include <random>

#include "codec/lzss_encode.h"
#include "lzss_reference.h"

namespace torv {
namespace {

// A block of `fixed` bytes that may not change, then a noisy picture. Its
// palette holds each colour twice (entries 2k and 2k + 1), as palettes do:
// swapping an entry for its twin changes nothing one sees, but the file.
alterable_block noisy_block(std::size_t fixed, std::int32_t width, std::int32_t height, unsigned seed) {
    std::mt19937 random(seed);
    alterable_block block;
    block.data.resize(fixed);
    for (auto& b : block.data) b = static_cast<std::uint8_t>(random());
    std::array<colour_point, 256> palette{};
    for (std::size_t k = 0; k < palette.size(); ++k) {
        const std::size_t twin = k / 2 * 2;
        palette[k] = point_of({static_cast<std::uint8_t>(twin), static_cast<std::uint8_t>(255 - twin),
                               static_cast<std::uint8_t>((twin * 7) % 256)});
    }
    block.palettes = {palette};
    alterable_image image;
    image.width = width;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const auto index = static_cast<std::uint8_t>((x + y) / 3 + static_cast<std::int32_t>(random() % 9));
            image.bytes.push_back(block.data.size());
            image.wanted.push_back(palette[index]);
            block.data.push_back(index);
        }
    }
    block.images.push_back(std::move(image));
    return block;
}

TEST(FitRoom, ABlockThatFitsIsLeftAsItIs) {
    const alterable_block block = noisy_block(512, 64, 48, 1);
    const result<fitted_block> fitted = fit_into_room(block, 1 << 20, 1);
    ASSERT_TRUE(fitted);
    EXPECT_EQ(fitted->content, block.data);
    EXPECT_EQ(fitted->block, lzss_encode(block.data));
}

TEST(FitRoom, TheRoomIsNeverExceededAndWhatMayNotChangeStays) {
    const alterable_block block = noisy_block(512, 160, 120, 2);
    const std::size_t whole = lzss_encode(block.data).size();
    for (const std::size_t room : {whole - 1, whole * 3 / 4, whole / 2, whole / 4}) {
        SCOPED_TRACE(room);
        const result<fitted_block> fitted = fit_into_room(block, room, 2);
        ASSERT_TRUE(fitted) << fitted.error().words;
        EXPECT_LE(fitted->block.size(), room);
        EXPECT_EQ(samples::reference_decode(fitted->block).data, fitted->content);
        EXPECT_TRUE(std::equal(block.data.begin(), block.data.begin() + 512, fitted->content.begin()))
            << "the bytes that are no pixel";
        EXPECT_NE(fitted->content, block.data);
        EXPECT_EQ(fit_into_room(block, room, 1)->block, fitted->block) << "the same for any number of threads";
    }
}

TEST(FitRoom, WhatNoChangeCanMakeFitIsSaidSo) {
    alterable_block block = noisy_block(4096, 8, 8, 3);
    const std::size_t whole = lzss_encode(block.data).size();
    block.images.clear();  // nothing may change
    const result<fitted_block> fitted = fit_into_room(block, whole / 2, 1);
    ASSERT_FALSE(fitted);
    EXPECT_EQ(fitted.error().code, code::block_too_large);
    EXPECT_EQ(fitted.error().room, static_cast<std::int64_t>(whole / 2));
}

}  // namespace
}  // namespace torv
