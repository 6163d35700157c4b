// Unpacking through the public header: the same images from memory as from
// a file, in order and named as torv names them; a taker that says stop ends
// the walk; a size of no layout gives nothing.
#include "libtorv/unpack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

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

}  // namespace
}  // namespace torv
