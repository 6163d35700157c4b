// Unpacking through the public header: the same images from memory as from
// a file, in order and named as torv names them; a taker that says stop ends
// the walk; a size of no layout gives nothing; a walk started again at an
// image's record gives that image; its PNG reads back as its indices and
// colours; what a caller builds wrong is refused, never read past.
#include "libtorv/unpack.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <map>

#include "image/png_read.h"
#include "samples.h"

namespace libtorv {
namespace {

// Each image taken: its name and its BMP file.
using taken = std::vector<std::pair<std::string, bytes>>;

image_taker keep_into(taken& kept) {
    return [&kept](const image_view& image) {
        kept.emplace_back(std::string(image.name), *bmp_bytes(image));
        return true;
    };
}

TEST(Unpack, FromMemoryAsFromAFileAndATakerMayStopIt) {
    const std::map<std::string, bytes> files = {{"four", torv::samples::make_four_image_block()},
                                                {"frames", torv::samples::make_frame_sequence(5)}};
    for (const auto& [what, contents] : files) {
        SCOPED_TRACE(what);
        taken from_memory;
        EXPECT_EQ(unpack_bytes(contents, "e:s", keep_into(from_memory))->layout,
                  what == "four" ? "four_image_block" : "frame_sequence");

        const auto path = std::filesystem::temp_directory_path() / ("torv-unpack-" + what + ".bin");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
        taken from_file;
        ASSERT_TRUE(unpack_file(path.string(), "e:s", keep_into(from_file)));
        std::filesystem::remove(path);
        EXPECT_TRUE(from_file == from_memory);

        ASSERT_GE(from_memory.size(), 4u);
        EXPECT_EQ(from_memory[0].first, what == "four" ? "e:s0.bmp" : "e:s000.bmp");

        int seen = 0;
        const result<unpack_result> stopped =
            unpack_bytes(contents, "x", [&](const image_view&) { return ++seen < 2; });
        EXPECT_TRUE(stopped->stopped);
        EXPECT_EQ(seen, 2);
    }
    const bytes odd(1000, 7);
    int seen = 0;
    EXPECT_EQ(unpack_bytes(odd, "x", [&](const image_view&) { return ++seen > 0; })->layout, "");
    EXPECT_EQ(seen, 0);
    const result<unpack_result> missing =
        unpack_file("/nonexistent/torv.bin", "x", [](const image_view&) { return true; });
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, code::cannot_open);
    const result<unpack_result> folder =
        unpack_file(std::filesystem::temp_directory_path().string(), "x", [](const image_view&) { return true; });
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().code, code::not_a_file);
}

TEST(Unpack, StartingAtAnImagesRecordGivesItAgainAndItsPngHoldsItsIndicesAndColours) {
    for (const bytes& contents : {torv::samples::make_three_panel_block(), torv::samples::make_frame_sequence(7)}) {
        taken all;
        std::vector<record_point> points;
        ASSERT_TRUE(unpack_bytes(contents, "s", [&](const image_view& image) {
            all.emplace_back(std::string(image.name), *bmp_bytes(image));
            points.push_back(image.record);
            const result<bytes> png = png_bytes(image);
            if (torv::png_supported()) {
                const result<torv::picture> read = torv::read_png(*png, 1 << 20);
                EXPECT_TRUE(read && read->indexed);
                EXPECT_TRUE(
                    std::equal(image.indices.begin(), image.indices.end(), read->indices.begin(), read->indices.end()));
                const auto colours = palette_colours(image.palette);
                for (std::size_t k = 0; k < read->table.size(); ++k) {
                    EXPECT_EQ(read->table[k], (torv::rgb8{colours[3 * k], colours[3 * k + 1], colours[3 * k + 2]}));
                }
            } else {
                EXPECT_EQ(png.error().code, code::unsupported_image);
            }
            return true;
        }));
        ASSERT_GE(all.size(), 3u);
        for (std::size_t k = 0; k < all.size(); ++k) {
            taken again;
            ASSERT_TRUE(unpack_bytes(
                contents, "s",
                [&](const image_view& image) {
                    again.emplace_back(std::string(image.name), *bmp_bytes(image));
                    return false;
                },
                points[k]));
            // The first image of the record the point names.
            const std::size_t first_of_record = k - (k % (all.size() == 3 ? 3 : 1));
            ASSERT_EQ(again.size(), 1u);
            EXPECT_TRUE(again[0] == all[first_of_record]) << k;
        }
    }
}

// Points no unpacking handed over: outside the file, between records, or a
// number the file cannot reach (near INT32_MAX, which would overflow).
TEST(Unpack, APointThatIsNoRecordIsRefused) {
    const bytes frames = torv::samples::make_frame_sequence(7);
    const bytes panels = torv::samples::make_three_panel_block();
    const auto size = static_cast<std::int64_t>(frames.size());
    const std::pair<const bytes*, record_point> wrong[] = {
        {&frames, {size, 0}}, {&frames, {-1, 0}},   {&frames, {2048, INT32_MAX - 5}},
        {&frames, {100, 0}},  {&frames, {4096, 3}}, {&frames, {0, -1}},
        {&panels, {0, 1}},    {&panels, {1184, 0}},
    };
    for (const auto& [file, point] : wrong) {
        SCOPED_TRACE(std::to_string(point.offset) + " " + std::to_string(point.number));
        int seen = 0;
        const result<unpack_result> refused = unpack_bytes(
            *file, "s", [&](const image_view&) { return ++seen > 0; }, point);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().code, code::bad_argument);
        EXPECT_EQ(seen, 0);
    }
}

// Views a caller builds: sizes that disagree with the indices are refused,
// never read or written past (the sanitizer build checks that).
TEST(Unpack, AViewWhoseSizesDisagreeWithItsIndicesIsRefused) {
    const std::array<std::uint16_t, 256> palette{};
    const bytes indices(100, 1);
    const std::pair<std::int32_t, std::int32_t> wrong[] = {{11, 10}, {-5, 10}, {10, -5}, {0, 0}, {1 << 20, 1}};
    for (const auto& [width, height] : wrong) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const image_view view{"x.bmp", width, height, indices, palette, {}};
        EXPECT_EQ(bmp_bytes(view).error().code, code::bad_argument);
        EXPECT_EQ(png_bytes(view).error().code, code::bad_argument);
    }
    const image_view fine{"x.bmp", 10, 10, indices, palette, {}};
    EXPECT_EQ(bmp_bytes(fine)->size(), 1078u + 12 * 10);  // rows filled to four bytes
}

}  // namespace
}  // namespace libtorv
