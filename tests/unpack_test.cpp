// Unpacking through a sink: the same images from memory as from a file, in
// order and named as torv names them; a sink's failure ends the walk.
#include "format/unpack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "samples.h"

namespace torv {
namespace {

using bytes = std::vector<std::uint8_t>;

struct kept_image {
    bytes pixels;
    rgb15_palette palette;
    friend bool operator==(const kept_image&, const kept_image&) = default;
};

std::vector<std::pair<std::string, kept_image>> unpack_all(const layout& format, input_stream& in) {
    std::vector<std::pair<std::string, kept_image>> kept;
    bytes canvas(largest_image_bytes());
    const file_result failed = unpack_images(format, in, "e:s", canvas, [&](const unpacked_image& image) {
        kept.emplace_back(std::string(image.name),
                          kept_image{{image.image.pixels.begin(), image.image.pixels.end()}, image.palette});
        return file_result{};
    });
    EXPECT_FALSE(failed);
    return kept;
}

TEST(Unpack, FromMemoryAsFromAFileAndASinkFailureStopsTheWalk) {
    const std::map<std::string, bytes> files = {{"four", samples::make_four_image_block()},
                                                {"frames", samples::make_frame_sequence(5)}};
    for (const auto& [what, contents] : files) {
        SCOPED_TRACE(what);
        const layout& format = *find_layout(static_cast<std::int64_t>(contents.size()));
        input_stream memory;
        attach_memory(memory, contents);
        const auto from_memory = unpack_all(format, memory);

        const auto path = std::filesystem::temp_directory_path() / ("torv-unpack-" + what + ".bin");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
        input_stream file;
        ASSERT_TRUE(open_input(file, path.string()));
        EXPECT_TRUE(unpack_all(format, file) == from_memory);
        close_input(file);
        std::filesystem::remove(path);

        ASSERT_GE(from_memory.size(), 4u);
        EXPECT_EQ(from_memory[0].first, what == "four" ? "e:s0.bmp" : "e:s000.bmp");

        // A sink that fails on the second image sees no third.
        input_stream again;
        attach_memory(again, contents);
        bytes canvas(largest_image_bytes());
        int seen = 0;
        const file_result failed = unpack_images(format, again, "x", canvas, [&](const unpacked_image& image) {
            return ++seen == 2 ? file_result{file_failure{file_step::write, std::string(image.name), "full"}}
                               : file_result{};
        });
        ASSERT_TRUE(failed);
        // The second image's name, under prefix "x" rather than "e:s".
        EXPECT_EQ(failed->name.substr(1), from_memory[1].first.substr(3));
        EXPECT_EQ(seen, 2);
    }
}

}  // namespace
}  // namespace torv
