// Unpacking through the public header: the same images from memory as from
// a file, in order and named as torv names them; a taker that says stop ends
// the walk; a size of no layout gives nothing; a walk started again at an
// image's record gives that image; its PNG reads back as its indices and
// colours.
#include "libtorv/unpack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "image/png_read.h"
#include "samples.h"

namespace torv {
namespace {

using bytes = std::vector<std::uint8_t>;

// Each image taken: its name and its BMP file.
using taken = std::vector<std::pair<std::string, bytes>>;

image_taker keep_into(taken& kept) {
    return [&kept](const image_view& image) {
        kept.emplace_back(std::string(image.name), bmp_bytes(image));
        return true;
    };
}

TEST(Unpack, FromMemoryAsFromAFileAndATakerMayStopIt) {
    const std::map<std::string, bytes> files = {{"four", samples::make_four_image_block()},
                                                {"frames", samples::make_frame_sequence(5)}};
    for (const auto& [what, contents] : files) {
        SCOPED_TRACE(what);
        taken from_memory;
        EXPECT_EQ(unpack_bytes(contents, "e:s", keep_into(from_memory)).layout,
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
        const unpack_result stopped = unpack_bytes(contents, "x", [&](const image_view&) { return ++seen < 2; });
        EXPECT_TRUE(stopped.stopped);
        EXPECT_EQ(seen, 2);
    }
    const bytes odd(1000, 7);
    int seen = 0;
    EXPECT_EQ(unpack_bytes(odd, "x", [&](const image_view&) { return ++seen > 0; }).layout, "");
    EXPECT_EQ(seen, 0);
    EXPECT_FALSE(unpack_file("/nonexistent/torv.bin", "x", [](const image_view&) { return true; }));
}

TEST(Unpack, StartingAtAnImagesRecordGivesItAgainAndItsPngHoldsItsIndicesAndColours) {
    for (const bytes& contents : {samples::make_three_panel_block(), samples::make_frame_sequence(7)}) {
        taken all;
        std::vector<record_point> points;
        unpack_bytes(contents, "s", [&](const image_view& image) {
            all.emplace_back(std::string(image.name), bmp_bytes(image));
            points.push_back(image.record);
            const bytes png = png_bytes(image);
            if (png_supported()) {
                const picture_read read = read_png(png, 1 << 20);
                EXPECT_TRUE(read.ok() && read.image.indexed);
                EXPECT_TRUE(std::equal(image.indices.begin(), image.indices.end(), read.image.indices.begin(),
                                       read.image.indices.end()));
                const auto colours = palette_colours(image.palette);
                for (std::size_t k = 0; k < read.image.table.size(); ++k) {
                    EXPECT_EQ(read.image.table[k], (rgb8{colours[3 * k], colours[3 * k + 1], colours[3 * k + 2]}));
                }
            } else {
                EXPECT_TRUE(png.empty());
            }
            return true;
        });
        ASSERT_GE(all.size(), 3u);
        for (std::size_t k = 0; k < all.size(); ++k) {
            taken again;
            unpack_bytes(
                contents, "s",
                [&](const image_view& image) {
                    again.emplace_back(std::string(image.name), bmp_bytes(image));
                    return false;
                },
                points[k]);
            // The first image of the record the point names.
            const std::size_t first_of_record = k - (k % (all.size() == 3 ? 3 : 1));
            ASSERT_EQ(again.size(), 1u);
            EXPECT_TRUE(again[0] == all[first_of_record]) << k;
        }
        int seen = 0;
        unpack_bytes(contents, "s", [&](const image_view&) { return ++seen > 0; },
                     {static_cast<std::int64_t>(contents.size()), 0});
        unpack_bytes(contents, "s", [&](const image_view&) { return ++seen > 0; }, {-1, 0});
        EXPECT_EQ(seen, 0);
    }
}

}  // namespace
}  // namespace torv
