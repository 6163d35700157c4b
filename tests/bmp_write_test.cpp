#include "image/bmp_write.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

#include "format/names.h"

namespace torv {
namespace {

std::array<std::uint8_t, 4> quad_of(std::uint8_t low, std::uint8_t high) {
    std::array<std::uint8_t, 4> quad{};
    put_rgbquad(quad.data(), static_cast<std::uint16_t>(low | high << 8));
    return quad;
}

TEST(BmpWriter, ColourTableEntriesShiftEachComponentByThree) {
    using quad = std::array<std::uint8_t, 4>;
    EXPECT_EQ(quad_of(0x1F, 0x00), (quad{0x00, 0x00, 0xF8, 0x00}));  // red only
    EXPECT_EQ(quad_of(0xE0, 0x03), (quad{0x00, 0xF8, 0x00, 0x00}));  // green only
    EXPECT_EQ(quad_of(0x00, 0x7C), (quad{0xF8, 0x00, 0x00, 0x00}));  // blue only
    EXPECT_EQ(quad_of(0xFF, 0x7F), (quad{0xF8, 0xF8, 0xF8, 0x00}));
    EXPECT_EQ(quad_of(0x00, 0x80), (quad{0x00, 0x00, 0x00, 0x00}));  // bit 15 ignored
    EXPECT_EQ(quad_of(0x21, 0x04), (quad{0x08, 0x08, 0x08, 0x00}));  // lowest step of each
}

TEST(BmpWriter, LittleEndianStores) {
    std::array<std::uint8_t, 6> out{};
    std::uint8_t* end = put_u32le(out.data(), 0x12345678);
    end = put_u16le(end, 0xABCD);
    EXPECT_EQ(end, out.data() + 6);
    EXPECT_EQ(out, (std::array<std::uint8_t, 6>{0x78, 0x56, 0x34, 0x12, 0xCD, 0xAB}));
    put_u16le(out.data(), 0x1FFFF);  // only the low 16 bits
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xFF);
}

TEST(BmpWriter, NamesBySuffixCode) {
    EXPECT_EQ(bmp_name("e:pic", -1), "e:pic.bmp");
    EXPECT_EQ(bmp_name("e:pic", 0), "e:pic000.bmp");
    EXPECT_EQ(bmp_name("e:pic", 7), "e:pic007.bmp");
    EXPECT_EQ(bmp_name("e:pic", 42), "e:pic042.bmp");
    EXPECT_EQ(bmp_name("e:pic", 999), "e:pic999.bmp");
    EXPECT_EQ(bmp_name("e:pic", 1000), "e:pic0.bmp");
    EXPECT_EQ(bmp_name("e:pic", 1003), "e:pic3.bmp");
    EXPECT_EQ(bmp_name("", 1001), "1.bmp");
}

TEST(BmpWriter, FrameNamesKeepCountingPast999) {
    EXPECT_EQ(frame_bmp_name("e:intro", 0), "e:intro000.bmp");
    EXPECT_EQ(frame_bmp_name("e:intro", 999), "e:intro999.bmp");
    EXPECT_EQ(frame_bmp_name("e:intro", 1000), "e:intro1000.bmp");
    EXPECT_EQ(frame_bmp_name("e:intro", 4631), "e:intro4631.bmp");
}

TEST(BmpWriter, LaysOutHeaderAndRowsBottomUp) {
    std::vector<std::uint8_t> canvas(112 * 144);
    for (int i = 0; i < 112 * 144; ++i) {
        canvas[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i / 112 + i % 7);
    }
    rgb15_palette palette{};
    palette[1] = 0x1F;  // red

    const std::size_t size = bmp_file_size(112, 144);
    ASSERT_EQ(size, 17'206u);
    std::vector<std::uint8_t> file(size);
    lay_out_bmp({canvas, 112, 144}, palette, file.data());

    auto u32 = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t k = 4; k-- > 0;) {
            value = value << 8 | file[at + k];
        }
        return value;
    };
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(u32(2), 17'206u);
    EXPECT_EQ(u32(10), 1078u);
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(u32(18), 112u);
    EXPECT_EQ(u32(22), 144u);
    EXPECT_EQ(file[28], 8);
    EXPECT_EQ(u32(46), 256u);
    EXPECT_EQ(file[54 + 4 + 2], 0xF8);  // red of entry 1
    // The first row in the file is the bottom row of the canvas.
    for (std::size_t x = 0; x < 112; ++x) {
        ASSERT_EQ(file[1078 + x], canvas[143 * 112 + x]);
        ASSERT_EQ(file[size - 112 + x], canvas[x]);
    }
}

}  // namespace
}  // namespace torv
