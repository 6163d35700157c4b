// The uncompressed layout, checked byte for byte against an independent model
// of the BMP files it must give.
#include <gtest/gtest.h>

#include "byte_utils.h"
#include "harness.h"
#include "samples.h"

namespace torv::test {
namespace {

constexpr std::size_t palette_size = 512;
constexpr std::size_t image_size = 640 * 480;
constexpr std::size_t first_image = 3 * palette_size;

TEST(RawTriple, EachImageWithItsOwnPaletteByteForByte) {
    scratch_dir dir;
    const bytes source = samples::make_raw_triple();
    ASSERT_EQ(source.size(), 923'136u);
    dir.write("pic.bin", source);

    const run_result result = dir.run({"pic.dat", drive_letter()});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");

    for (std::size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const bytes written = dir.read(out_name("pic" + std::to_string(k) + ".bmp"));
        const bytes palette = slice(source, k * palette_size, palette_size);
        const bytes pixels = slice(source, first_image + k * image_size, image_size);
        ASSERT_EQ(written.size(), 308'278u);
        EXPECT_EQ(le32(written, 2), 308'278u);
        EXPECT_EQ(le32(written, 18), 640u);
        EXPECT_EQ(le32(written, 22), 480u);
        EXPECT_TRUE(written == expected_bmp(640, 480, palette, pixels));
    }
    EXPECT_EQ(dir.files().size(), 4u);
}

TEST(RawTriple, TopRowOfImageOneIsTheLastRowInItsFile) {
    scratch_dir dir;
    bytes source(923'136, 0);
    // Mark image 1's top row (file offsets 308,736 to 309,375) and its
    // palette's entry 7.
    for (std::size_t x = 0; x < 640; ++x) {
        source[308'736 + x] = static_cast<std::uint8_t>(x % 251);
    }
    source[512 + 2 * 7] = 0xFF;
    source[512 + 2 * 7 + 1] = 0x7F;
    dir.write("pic.bin", source);
    ASSERT_EQ(dir.run({"pic", drive_letter()}).status, 0);

    const bytes image1 = dir.read(out_name("pic1.bmp"));
    ASSERT_EQ(image1.size(), 308'278u);
    for (std::size_t x = 0; x < 640; ++x) {
        ASSERT_EQ(image1[308'278 - 640 + x], x % 251);
    }
    EXPECT_EQ(image1[54 + 4 * 7], 0xF8);
    // The other images keep their own, all-zero palettes.
    EXPECT_EQ(dir.read(out_name("pic0.bmp"))[54 + 4 * 7], 0);
    EXPECT_EQ(dir.read(out_name("pic2.bmp"))[54 + 4 * 7], 0);
}

}  // namespace
}  // namespace torv::test
