// The three layouts that hold one compressed block, checked byte for byte.
#include <gtest/gtest.h>

#include <random>

#include "byte_utils.h"
#include "codec/lzss_encode.h"
#include "harness.h"
#include "samples.h"

namespace torv::test {
namespace {

// A compressible but irregular picture, different for each seed.
bytes picture(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    bytes pixels(static_cast<std::size_t>(width * height));
    for (std::size_t k = 0; k < pixels.size(); ++k) {
        pixels[k] = k % 64 == 0 ? static_cast<std::uint8_t>(random()) : pixels[k == 0 ? 0 : k - 1];
    }
    return pixels;
}

void expect_bmp(const scratch_dir& dir, const std::string& name, int width, int height, const bytes& colours,
                const bytes& pixels) {
    SCOPED_TRACE(name);
    const bytes written = dir.read(out_name(name));
    ASSERT_EQ(written.size(), 1078u + static_cast<std::size_t>(width * height));
    EXPECT_TRUE(written == expected_bmp(width, height, colours, pixels));
}

TEST(ThreePanelBlock, PaletteAForTheFirstImagePaletteBForTheOthers) {
    const bytes a = random_palette(1);
    const bytes b = random_palette(2);
    const bytes images[] = {picture(224, 96, 3), picture(384, 256, 4), picture(320, 256, 5)};
    const bytes block = lzss_encode(concat(concat(images[0], images[1]), images[2]));
    bytes header = concat(a, b);
    header.resize(1184, 0x5A);  // bytes 1024-1183 must not show anywhere

    scratch_dir dir;
    dir.write("panel.bin", samples::pad_to(concat(header, block), 87'796));
    const run_result result = dir.run({"panel.dat", drive_letter()});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");
    expect_bmp(dir, "panel0.bmp", 224, 96, a, images[0]);
    expect_bmp(dir, "panel1.bmp", 384, 256, b, images[1]);
    expect_bmp(dir, "panel2.bmp", 320, 256, b, images[2]);
    EXPECT_EQ(dir.files().size(), 4u);
}

TEST(SinglePictureBlock, PaletteComesFromTheBlockAndTheNameHasNoSuffix) {
    const bytes colours = random_palette(6);
    const bytes image = picture(640, 480, 7);
    scratch_dir dir;
    // The file's own first bytes are the block's length, not a palette.
    dir.write("pic.bin", samples::pad_to(lzss_encode(concat(colours, image)), 134'573));
    ASSERT_EQ(dir.run({"pic", drive_letter()}).status, 0);
    expect_bmp(dir, "pic.bmp", 640, 480, colours, image);
    EXPECT_EQ(dir.files().size(), 2u);
}

TEST(FourImageBlock, FourImagesShareThePlainPalette) {
    const bytes colours = random_palette(8);
    const bytes images[] = {picture(112, 144, 9), picture(112, 144, 10), picture(320, 224, 11), picture(320, 224, 12)};
    bytes all;
    for (const bytes& image : images) {
        all = concat(all, image);
    }
    scratch_dir dir;
    dir.write("four.bin", samples::pad_to(concat(colours, lzss_encode(all)), 57'652));
    ASSERT_EQ(dir.run({"four", drive_letter()}).status, 0);
    expect_bmp(dir, "four0.bmp", 112, 144, colours, images[0]);
    expect_bmp(dir, "four1.bmp", 112, 144, colours, images[1]);
    expect_bmp(dir, "four2.bmp", 320, 224, colours, images[2]);
    expect_bmp(dir, "four3.bmp", 320, 224, colours, images[3]);
}

TEST(BlockLayouts, ShortBlockLeavesTheRestZero) {
    const bytes colours = random_palette(13);
    // 20,000 bytes declared; the last match runs 17 bytes past them, and those
    // must not reach the image.
    bytes data = picture(112, 144, 14);
    data.resize(20'000 - 1);
    bytes block = lzss_encode_literals(data);
    block[0] = 0x20;  // declared length 20,000 = 0x4E20
    block[1] = 0x4E;
    block.push_back(0x00);  // flag byte: a match
    block.push_back(0xEE);
    block.push_back(0xFF);  // 18 bytes from 4078, where data[16384] was written last
    scratch_dir dir;
    dir.write("four.bin", samples::pad_to(concat(colours, block), 57'652));
    ASSERT_EQ(dir.run({"four", drive_letter()}).status, 0);

    bytes covered = data;
    covered.push_back(data[16'384]);  // the one byte of the match within the length
    covered.resize(2 * 16'128, 0);
    expect_bmp(dir, "four0.bmp", 112, 144, colours, slice(covered, 0, 16'128));
    expect_bmp(dir, "four1.bmp", 112, 144, colours, slice(covered, 16'128, 16'128));
    expect_bmp(dir, "four3.bmp", 320, 224, colours, bytes(320 * 224, 0));
}

TEST(BlockLayouts, ShortBlockLeavesAPaletteFromTheBlockZero) {
    scratch_dir dir;
    // 100 bytes declared: the first 50 palette entries, no pixels.
    dir.write("pic.bin", samples::pad_to(lzss_encode(bytes(100, 0xFF)), 134'573));
    ASSERT_EQ(dir.run({"pic", drive_letter()}).status, 0);
    bytes colours(512, 0);
    std::fill(colours.begin(), colours.begin() + 100, 0xFF);
    expect_bmp(dir, "pic.bmp", 640, 480, colours, bytes(640 * 480, 0));
}

TEST(BlockLayouts, HugeDeclaredLengthNeedsNoHugeMemory) {
    // 4 GiB - 1 declared, and the stream made of the longest matches to the
    // end of the file.
    bytes block = {0xFF, 0xFF, 0xFF, 0xFF};
    while (block.size() < 134'573) {
        block.push_back(block.size() % 17 == 4 ? 0x00 : (block.size() % 17) % 2 == 1 ? 0x00 : 0x0F);
    }
    scratch_dir dir;
    dir.write("pic.bin", samples::pad_to(block, 134'573));
    const run_result result = dir.run({"pic", drive_letter()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(dir.read(out_name("pic.bmp")).size(), 308'278u);
    if (memory_is_measurable()) {
        EXPECT_LT(result.peak_rss_kib, 16 * 1024);
    }
}

TEST(BlockLayouts, SamplesConvertToTheirImageCounts) {
    scratch_dir dir;
    dir.write("a.bin", samples::make_three_panel_block());
    dir.write("b.bin", samples::make_single_picture_block());
    dir.write("c.bin", samples::make_four_image_block());
    for (const char* name : {"a", "b", "c"}) {
        ASSERT_EQ(dir.run({name, drive_letter()}).status, 0);
    }
    EXPECT_EQ(dir.files().size(), 3u + 3u + 1u + 4u);
    EXPECT_TRUE(dir.exists(out_name("b.bmp")));
}

}  // namespace
}  // namespace torv::test
