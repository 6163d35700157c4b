// The BMP and PNG readers on files written by real image writers (see
// tools/make_reader_images.sh), on hand-made variants no writer at hand
// produces, and on cut-off files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "image/bmp_read.h"
#include "image/bmp_write.h"
#include "image/png_read.h"

namespace torv {
namespace {

using bytes = std::vector<std::uint8_t>;

constexpr int width = 16;
constexpr int height = 12;
const rgb8 colours[] = {{0, 0, 0}, {248, 248, 248}, {248, 0, 0}, {0, 200, 0}, {16, 32, 240}, {120, 64, 8}};

// The picture every file holds (rows differ, so a picture read upside down
// shows).
int source_index(int x, int y) {
    return y == 0 ? x % 6 : (x * 3 + y * 5 + (x * y) % 4) % 6;
}

// What a failed read says; nothing for a read that worked.
std::string words_of(const result<picture>& read) {
    return read ? std::string() : read.error().words;
}

std::uint32_t le32_at(const bytes& file, std::size_t at) {
    return get_u32le(&file[at]);
}

bytes read_file(const std::string& name) {
    std::ifstream in(std::string(TORV_TEST_DATA) + "/readers/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

result<picture> read_any(const std::string& name, const bytes& file, std::size_t max_pixels = 1 << 20) {
    return name.ends_with(".png") ? read_png(file, max_pixels) : read_bmp(file, max_pixels);
}

void expect_picture(const picture& image, int (*index)(int, int), std::span<const rgb8> table) {
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const rgb8 c = image.colour_at(static_cast<std::size_t>(y * width + x));
            const rgb8 want = table[static_cast<std::size_t>(index(x, y))];
            ASSERT_EQ(c, want) << "at (" << x << ", " << y << ")";
        }
    }
}

TEST(ImageRead, FilesFromRealWriters) {
    struct sample {
        const char* name;
        bool indexed;
    };
    const sample samples[] = {
        {"pil-p8.bmp", true},    {"im-bmp3-rle8.bmp", true}, {"im-os2-8.bmp", true},   {"im-v5-4.bmp", true},
        {"im-bmp3-4.bmp", true}, {"im-24.bmp", false},       {"pil-rgb24.bmp", false}, {"im-v5-32-alpha.bmp", false},
        {"pil-p.png", true},     {"pil-p4.png", true},       {"pil-rgb.png", false},   {"pil-rgba.png", false},
    };
    for (const sample& s : samples) {
        SCOPED_TRACE(s.name);
        if (std::string(s.name).ends_with(".png") && !png_supported())
            continue;
        const result<picture> read = read_any(s.name, read_file(s.name));
        ASSERT_TRUE(read.ok()) << words_of(read);
        EXPECT_EQ(read->indexed, s.indexed);
        expect_picture(*read, source_index, colours);
    }
}

// GIMP's 16-bit exports: each channel rounded to five bits (six for green in
// RGB565), so every colour lies within one step of the source's.
TEST(ImageRead, SixteenBitFilesFromGimp) {
    for (const char* name : {"gimp-rgb565.bmp", "gimp-rgb555.bmp"}) {
        SCOPED_TRACE(name);
        const result<picture> read = read_bmp(read_file(name), 1 << 20);
        ASSERT_TRUE(read.ok()) << words_of(read);
        ASSERT_EQ(read->width, width);
        ASSERT_EQ(read->height, height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const rgb8 got = read->colour_at(static_cast<std::size_t>(y * width + x));
                const rgb8 want = colours[source_index(x, y)];
                for (const auto& [a, b] :
                     {std::pair{got.red, want.red}, {got.green, want.green}, {got.blue, want.blue}})
                    ASSERT_LE(std::abs(a - b), 8) << "at (" << x << ", " << y << ")";
            }
        }
    }
}

TEST(ImageRead, OneBitAndGreyFiles) {
    const rgb8 black_white[] = {{0, 0, 0}, {248, 248, 248}};
    auto checkerboard = [](int x, int y) { return (x + y) % 2; };
    for (const char* name : {"im-bmp3-1.bmp", "pil-two.png"}) {
        SCOPED_TRACE(name);
        if (std::string(name).ends_with(".png") && !png_supported())
            continue;
        const result<picture> read = read_any(name, read_file(name));
        ASSERT_TRUE(read.ok()) << words_of(read);
        ASSERT_TRUE(read->indexed);
        expect_picture(*read, checkerboard, black_white);
    }
    if (png_supported()) {
        std::vector<rgb8> greys;
        for (int k = 0; k < 16; ++k)
            greys.push_back({static_cast<std::uint8_t>(16 * k), static_cast<std::uint8_t>(16 * k),
                             static_cast<std::uint8_t>(16 * k)});
        const result<picture> read = read_any("pil-grey.png", read_file("pil-grey.png"));
        ASSERT_TRUE(read.ok()) << words_of(read);
        expect_picture(
            *read, [](int x, int y) { return (x + y) % 16; }, greys);
    }
}

TEST(ImageRead, RefusesWhatItCannotTake) {
    if (png_supported()) {
        const result<picture> translucent = read_any("x.png", read_file("pil-rgba-translucent.png"));
        EXPECT_NE(words_of(translucent).find("pixel (3, 2)"), std::string::npos) << words_of(translucent);
        // A palette entry half transparent (tRNS), used by pixel (3, 0).
        const result<picture> see_through = read_any("x.png", read_file("pil-p-translucent.png"));
        ASSERT_FALSE(see_through);
        EXPECT_EQ(see_through.error().code, code::not_opaque);
        EXPECT_EQ(words_of(see_through), "pixel (3, 0) is not fully opaque");
    }
    // Too large for what the caller needs: refused, with the size known.
    const result<picture> large = read_bmp(read_file("pil-p8.bmp"), width * height - 1);
    ASSERT_FALSE(large.ok());
    EXPECT_EQ(large.error().code, code::image_too_large);
    ASSERT_TRUE(large.error().size);
    EXPECT_EQ(large.error().size->width, width);
    EXPECT_EQ(large.error().size->height, height);
    EXPECT_FALSE(read_bmp(bytes{'B', 'M', 1, 2}, 100).ok());

    // A height of -2^31 has no positive 32-bit counterpart: named as it is.
    bytes tallest = read_file("pil-p8.bmp");
    put_u32le(&tallest[22], 0x80000000u);
    const result<picture> read = read_bmp(tallest, 1 << 20);
    EXPECT_NE(words_of(read).find("-2147483648"), std::string::npos) << words_of(read);
    EXPECT_FALSE(read.ok() || read.error().size);
}

// Bit-field masks as a file states them: a colour's mask of 0, a mask beyond
// the pixel's 16 bits, masks that share bits, a mask of two runs. Each is
// refused, naming the mask, rather than read as a picture missing a colour.
TEST(ImageRead, ColourMasksThatCannotBeAreRefused) {
    const bytes good = read_file("gimp-rgb565.bmp");  // a 56-byte header, its masks at byte 54
    ASSERT_EQ(le32_at(good, 14), 56u);
    ASSERT_TRUE(read_bmp(good, 1 << 20));
    struct wrong {
        std::array<std::uint32_t, 3> masks;
        const char* says;
    };
    const wrong cases[] = {
        {{0, 0, 0}, "BMP red mask is 0"},
        {{0xF800, 0, 0x001F}, "BMP green mask is 0"},
        {{0x7C0000, 0x07E0, 0x001F}, "BMP red mask 0x7c0000 lies beyond the 16 bits of a pixel"},
        {{0xF800, 0x0FE0, 0x001F}, "BMP red mask 0xf800 and green mask 0xfe0 overlap"},
        {{0xF801, 0x07E0, 0x001E}, "BMP red mask 0xf801 is not one run of bits"},
    };
    for (const wrong& c : cases) {
        SCOPED_TRACE(c.says);
        bytes file = good;
        for (std::size_t k = 0; k < 3; ++k) put_u32le(&file[54 + 4 * k], c.masks[k]);
        const result<picture> read = read_bmp(file, 1 << 20);
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().code, code::bad_image);
        EXPECT_EQ(words_of(read).substr(0, std::string(c.says).size()), c.says);
    }
}

// Every cut of every file: refused, or read as the whole picture when only
// what follows the pixels is gone; never read outside the buffer (the
// sanitizer build checks that), never silently short of pixels.
TEST(ImageRead, CutOffFilesAreRefusedCleanly) {
    for (const char* name : {"pil-p8.bmp", "im-bmp3-rle8.bmp", "im-os2-8.bmp", "im-v5-32-alpha.bmp", "gimp-rgb565.bmp",
                             "pil-p.png", "pil-rgba.png"}) {
        if (std::string(name).ends_with(".png") && !png_supported())
            continue;
        const bytes whole = read_file(name);
        const result<picture> full = read_any(name, whole);
        ASSERT_TRUE(full.ok()) << name << ": " << words_of(full);
        for (std::size_t size = 0; size < whole.size(); ++size) {
            const bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
            const result<picture> read = read_any(name, cut);
            if (read.ok()) {
                ASSERT_EQ(read->indices, full->indices) << name << " cut to " << size << " bytes";
                ASSERT_EQ(read->colours, full->colours) << name << " cut to " << size << " bytes";
            }
        }
    }
}

// Variants no writer at hand produces, made from an 8-bit file of our own.
bytes own_bmp(const bytes& pixels, const rgb15_palette& palette, int w, int h) {
    bytes file(bmp_file_size(w, h));
    lay_out_bmp({pixels, w, h}, palette, file.data());
    return file;
}

TEST(ImageRead, TopDownBitFieldsAndRle4) {
    std::mt19937 random(3);
    bytes pixels(width * height);
    for (auto& p : pixels) p = static_cast<std::uint8_t>(random() % 16);
    rgb15_palette palette{};
    for (std::size_t k = 0; k < 16; ++k) palette[k] = static_cast<std::uint16_t>(random() & 0x7FFF);
    auto expected = [&](std::size_t at) { return rgb8_of(palette[pixels[at]]); };

    // Our own file reads back as written.
    const bytes plain = own_bmp(pixels, palette, width, height);
    const result<picture> back = read_bmp(plain, 1 << 20);
    ASSERT_TRUE(back.ok()) << words_of(back);
    EXPECT_EQ(back->indices, pixels);

    // Top-down: a negative height and the rows in reading order.
    bytes top_down = plain;
    put_u32le(top_down.data() + 22, static_cast<std::uint32_t>(-height));
    for (int y = 0; y < height; ++y) {
        std::copy_n(pixels.begin() + y * width, width, top_down.begin() + 1078 + y * width);
    }
    const result<picture> read_top = read_bmp(top_down, 1 << 20);
    ASSERT_TRUE(read_top.ok()) << words_of(read_top);
    EXPECT_EQ(read_top->indices, pixels);

    // 32-bit with a V4 header and masks in an unusual order: red in the low
    // byte, blue above it, green on top, and no alpha.
    bytes v4(14 + 108 + width * height * 4, 0);
    v4[0] = 'B';
    v4[1] = 'M';
    put_u32le(&v4[10], 14 + 108);
    put_u32le(&v4[14], 108);
    put_u32le(&v4[18], width);
    put_u32le(&v4[22], height);
    put_u16le(&v4[26], 1);
    put_u16le(&v4[28], 32);
    put_u32le(&v4[30], 3);  // bit fields
    put_u32le(&v4[54], 0x000000FF);
    put_u32le(&v4[58], 0xFF000000);
    put_u32le(&v4[62], 0x0000FF00);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const rgb8 c = expected(static_cast<std::size_t>(y * width + x));
            std::uint8_t* p = &v4[static_cast<std::size_t>(14 + 108 + ((height - 1 - y) * width + x) * 4)];
            p[0] = c.red;
            p[1] = c.blue;
            p[3] = c.green;
        }
    }
    const result<picture> read_v4 = read_bmp(v4, 1 << 20);
    ASSERT_TRUE(read_v4.ok()) << words_of(read_v4);
    for (std::size_t at = 0; at < pixels.size(); ++at) ASSERT_EQ(read_v4->colours[at], expected(at));

    // 16 bits with no masks: 5-5-5, the format's own colours exactly.
    bytes plain16(54 + width * height * 2, 0);
    std::copy_n(plain.begin(), 54, plain16.begin());
    put_u32le(&plain16[10], 54);
    put_u16le(&plain16[28], 16);
    put_u32le(&plain16[46], 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // rgb15 holds red low, a 5-5-5 pixel holds it high.
            const unsigned entry = palette[pixels[static_cast<std::size_t>(y * width + x)]];
            const unsigned pixel = ((entry & 0x1F) << 10) | (entry & 0x03E0) | ((entry >> 10) & 0x1F);
            put_u16le(&plain16[54 + static_cast<std::size_t>((height - 1 - y) * width + x) * 2], pixel);
        }
    }
    const result<picture> read16 = read_bmp(plain16, 1 << 20);
    ASSERT_TRUE(read16.ok()) << words_of(read16);
    for (std::size_t at = 0; at < pixels.size(); ++at) ASSERT_EQ(read16->colours[at], expected(at));

    // RLE4 of a 4x3 picture: a run of two alternating indices, ends of
    // lines, an absolute run, a delta that skips a pixel, and the end.
    bytes rle = plain;
    rle.resize(1078);
    put_u32le(&rle[18], 4);
    put_u32le(&rle[22], 3);
    put_u16le(&rle[28], 4);
    put_u32le(&rle[30], 2);  // RLE4
    put_u32le(&rle[46], 16);
    rle.erase(rle.begin() + 54 + 64, rle.end());  // 16 colours
    put_u32le(&rle[10], static_cast<std::uint32_t>(rle.size()));
    const bytes stream = {4, 0x12, 0,    0,           // bottom row: 1 2 1 2, end of line
                          0, 3,    0x34, 0x50, 0, 0,  // middle row: 3 4 5 by an absolute run
                          0, 2,    1,    0,           // top row: a delta one pixel right,
                          2, 0x77, 0,    1};          // then 7 7, and the end
    rle.insert(rle.end(), stream.begin(), stream.end());
    const result<picture> read_rle = read_bmp(rle, 1 << 20);
    ASSERT_TRUE(read_rle.ok()) << words_of(read_rle);
    EXPECT_EQ(read_rle->indices, (bytes{0, 7, 7, 0, 3, 4, 5, 0, 1, 2, 1, 2}));
}

}  // namespace
}  // namespace torv
