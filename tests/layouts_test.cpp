#include "format/layouts.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "format/tiles.h"

namespace torv {
namespace {

TEST(Layouts, BlocksAreAsLongAsTheirImagesNeed) {
    EXPECT_EQ(block_extent(three_panel_block_layout), 201'728u);
    EXPECT_EQ(block_extent(single_picture_block_layout), 307'712u);
    EXPECT_EQ(block_extent(four_image_block_layout), 175'616u);
    EXPECT_EQ(block_extent(frame_sequence_layout), 71'680u);
    EXPECT_EQ(header_extent(three_panel_block_layout), 1'184u);
}

// Nothing two places describe may overlap, and everything plain lies in the
// header (or, for a layout without a block, in the file).
TEST(Layouts, PlacesNeitherOverlapNorLeaveTheirArea) {
    for (const layout* format : all_layouts) {
        SCOPED_TRACE(format->name);
        struct span_of {
            source from;
            std::size_t begin, end;
        };
        std::vector<span_of> spans;
        for (const palette_place& p : format->palettes) {
            spans.push_back({p.from, p.offset, p.offset + palette_bytes});
        }
        for (const image_place& image : format->images) {
            spans.push_back({image.from, image.offset, image.offset + image_bytes(image)});
            EXPECT_LT(image.palette, format->palettes.size());
            if (image.order == pixel_order::tiles) {
                EXPECT_EQ(static_cast<std::size_t>(image.width) % tile_width, 0u);
                EXPECT_EQ(static_cast<std::size_t>(image.height) % tile_height, 0u);
            }
        }
        for (std::size_t a = 0; a < spans.size(); ++a) {
            if (spans[a].from == source::file) {
                EXPECT_LE(spans[a].end, header_extent(*format));
            }
            for (std::size_t b = a + 1; b < spans.size(); ++b) {
                const bool apart =
                    spans[a].from != spans[b].from || spans[a].end <= spans[b].begin || spans[b].end <= spans[a].begin;
                EXPECT_TRUE(apart) << a << " and " << b;
            }
        }
        EXPECT_EQ(find_layout(format->file_size), format);
        EXPECT_EQ(layout_named(format->name), format);
    }
    EXPECT_EQ(find_layout(9'486'335), nullptr);
}

TEST(Tiles, PixelsLieWhereTheTileOrderSaysAndComeBack) {
    constexpr std::size_t width = 320, height = 224;
    std::vector<std::uint8_t> stored(width * height);
    std::mt19937 random(3);
    for (auto& b : stored) b = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> rows(stored.size()), again(stored.size());
    untile(stored, width, height, rows);
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t at = ((y / 8) * 20 + x / 16) * 128 + (y % 8) * 16 + x % 16;
            ASSERT_EQ(rows[y * width + x], stored[at]) << x << "," << y;
        }
    }
    tile(rows, width, height, again);
    EXPECT_EQ(again, stored);
}

}  // namespace
}  // namespace torv
