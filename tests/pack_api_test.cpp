// Packing through the public header, with a folder of the caller's: a folder
// that cannot be listed is probed name by name, so a gap in the frames is
// still found; the names front ends are given map onto the images they
// stand for, or are refused by name.
#include <gtest/gtest.h>

#include <map>

#include "libtorv/pack.h"
#include "libtorv/unpack.h"
#include "samples.h"

namespace libtorv {
namespace {

// Image files in memory, by name.
struct memory_folder {
    std::map<std::string, bytes> files;
    bool listable = true;

    image_folder folder() const {
        image_folder made;
        made.has = [this](const std::string& name) { return files.contains(name); };
        made.read = [this](const std::string& name, std::uint64_t) -> result<bytes> { return files.at(name); };
        made.each_name = [this](const std::function<void(const std::string&)>& visit) -> result<> {
            if (!listable) {
                failure why;
                why.code = code::cannot_list;
                why.words = "cannot list .: Permission denied";
                return why;
            }
            for (const auto& [name, contents] : files) visit(name);
            return {};
        };
        return made;
    }
};

TEST(PackApi, AGapInTheFramesIsFoundWhenTheFolderCannotBeListed) {
    const bytes original = torv::samples::make_frame_sequence(12);
    memory_folder frames;
    ASSERT_TRUE(unpack_bytes(original, "intro", [&](const image_view& image) {
        frames.files[std::string(image.name)] = *bmp_bytes(image);
        return true;
    }));
    frames.files.erase("intro005.bmp");
    const original_file like{"intro.bin", original};
    for (const bool listable : {true, false}) {
        SCOPED_TRACE(listable);
        frames.listable = listable;
        bytes packed;
        const result<pack_result> refused = pack_images(
            "intro", frames.folder(), &like, {},
            [&](std::span<const std::uint8_t> part) { packed.insert(packed.end(), part.begin(), part.end()); });
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().code, code::missing_frame);
        EXPECT_NE(refused.error().words.find("up to intro011.bmp"), std::string::npos) << refused.error().words;
    }
}

TEST(PackApi, NamesAFrontEndIsGivenMapOntoImagesOrAreRefused) {
    const std::vector<std::string> four = {"four0.bmp", "four1.bmp", "four2.bmp", "four3.bmp"};
    const result<image_match> matched = match_images(four, {"four2.png", "four1 (1).bmp", "four3 (12).png"});
    ASSERT_TRUE(matched) << matched.error().words;
    EXPECT_EQ(matched->files,
              (std::vector<std::pair<std::string, std::string>>{
                  {"four2.png", "four2.png"}, {"four1 (1).bmp", "four1.bmp"}, {"four3 (12).png", "four3.png"}}));
    EXPECT_EQ(matched->notes.size(), 2u);

    // Names of no image: another case, another folder, another file's, a zip.
    const result<image_match> unused =
        match_images(four, {"four1.bmp", "Four1.bmp", "dir/four2.bmp", "four-bmp.zip", "four1 (x).bmp"});
    ASSERT_FALSE(unused);
    EXPECT_EQ(unused.error().code, code::unused_image);
    EXPECT_EQ(unused.error().words,
              "no image of the original is named Four1.bmp, dir/four2.bmp, four-bmp.zip, "
              "four1 (x).bmp: its images are four0.bmp, four1.bmp, four2.bmp, four3.bmp, as "
              "BMP or PNG");
    EXPECT_EQ(match_images(four, {}).error().code, code::nothing_to_pack);
    EXPECT_EQ(match_images(four, {"four1.bmp", "four1 (1).png"}).error().code, code::both_kinds);

    EXPECT_EQ(prefix_of_images({"x001.bmp", "x000.bmp"}), "x");
    EXPECT_EQ(prefix_of_images({"pic0.png", "pic1.png"}), "pic");
    EXPECT_EQ(prefix_of_images({"pic.bmp"}), "pic");
    EXPECT_EQ(prefix_of_images({"notes.txt"}), "");
    EXPECT_EQ(image_stem("e:pic0.bmp"), "e:pic0");
    EXPECT_EQ(image_stem("dir.v2/pic"), "dir.v2/pic");
    EXPECT_EQ(image_stem("pic.jpeg"), "pic");
}

}  // namespace
}  // namespace libtorv
