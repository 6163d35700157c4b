// A player's patches matched to the game's files: by path in any case, by
// name for a loose file, else by size and CRC32 (a renamed patch); a file
// at the patch's path of another version is said so, one that is the
// patch's result already is seen as such; CRC32s are read only of files of
// a size some patch names, each once.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "libtorv/checksums.h"
#include "libtorv/patch.h"

namespace libtorv {
namespace {

bytes text(const std::string& words) {
    return {words.begin(), words.end()};
}

struct game {
    std::vector<std::string> paths;
    std::vector<bytes> contents;
    std::vector<std::size_t> read;  // files whose CRC32 was asked for, in order

    std::vector<listed_game_file> listed() const {
        std::vector<listed_game_file> out;
        for (std::size_t k = 0; k < paths.size(); ++k) out.push_back({paths[k], contents[k].size()});
        return out;
    }
    std::vector<patch_for_file> match(const std::vector<patch_to_match>& patches) {
        const result<std::vector<patch_for_file>> found =
            match_patches(patches, listed(), [&](std::size_t k) -> result<std::uint32_t> {
                read.push_back(k);
                return crc32_of(contents[k]);
            });
        EXPECT_TRUE(found.ok());
        return found.ok() ? *found : std::vector<patch_for_file>{};
    }
};

patch_to_match patch_for(const std::string& name, const bytes& source, const bytes& target) {
    return {target_of_patch(name), *facts_of_patch(bps_patch(source, target))};
}

TEST(PatchMatch, ByPathThenByContents) {
    game folder{{"DATA/Four.bin", "data/panels.bin", "intro.bin", "readme.txt"},
                {text("four, as shipped"), text("panels, as shipped"), text("intro, as shipped!"),
                 text("a readme, of 20 byte")},
                {}};
    const std::vector<patch_for_file> found = folder.match({
        patch_for("data/four.bin.bps", text("four, as shipped"), text("four, edited")),
        patch_for("patch1.bps", text("panels, as shipped"), text("panels, edited")),
        patch_for("intro.bin.bps", text("intro, as shippe?!"), text("intro, edited")),
        patch_for("gone.bin.bps", text("not in this folder"), text("x")),
    });
    ASSERT_EQ(found.size(), 4U);
    EXPECT_EQ(found[0].file, 0U);  // its path, in another case
    EXPECT_EQ(found[0].match, patch_match::source);
    EXPECT_FALSE(found[0].by_contents);
    EXPECT_EQ(found[1].file, 1U);  // renamed: found by size and CRC32
    EXPECT_EQ(found[1].match, patch_match::source);
    EXPECT_TRUE(found[1].by_contents);
    EXPECT_EQ(found[2].file, 2U);  // at its path, but another version
    EXPECT_EQ(found[2].match, patch_match::other);
    EXPECT_EQ(found[3].file, patch_for_file::none);
    // The readme is of no size a patch names, and nothing is read twice.
    std::vector<std::size_t> read = folder.read;
    std::sort(read.begin(), read.end());
    EXPECT_EQ(read, (std::vector<std::size_t>{0, 1, 2}));
}

TEST(PatchMatch, LooseFilesByNameAndFilesPatchedAlready) {
    game loose{{"four.bin", "panels.bin"}, {text("four, edited"), text("panels")}, {}};
    const std::vector<patch_for_file> found = loose.match({
        patch_for("data/four.bin.bps", text("four, as shipped"), text("four, edited")),
        patch_for("data/other.bin.bps", text("PANELS"), text("panels")),
    });
    ASSERT_EQ(found.size(), 2U);
    EXPECT_EQ(found[0].file, 0U);  // data/four.bin, given as a loose four.bin
    EXPECT_EQ(found[0].match, patch_match::target);
    EXPECT_FALSE(found[0].by_contents);
    EXPECT_EQ(found[1].file, 1U);  // its result, under another name
    EXPECT_EQ(found[1].match, patch_match::target);
    EXPECT_TRUE(found[1].by_contents);
    // A loose file does not stand for a path whose name two loose files share.
    game twice{{"four.bin", "FOUR.BIN"}, {text("a"), text("b")}, {}};
    EXPECT_EQ(twice.match({patch_for("data/four.bin.bps", text("c"), text("d"))})[0].file, patch_for_file::none);
}

TEST(PatchMatch, AFileThatCannotBeReadFailsTheMatch) {
    const std::vector<listed_game_file> files{{"four.bin", 1}};
    const result<std::vector<patch_for_file>> found = match_patches({patch_for("four.bin.bps", text("a"), text("b"))},
                                                                    files, [](std::size_t) -> result<std::uint32_t> {
                                                                        failure why;
                                                                        why.code = code::cannot_read;
                                                                        why.words = "cannot read four.bin";
                                                                        return why;
                                                                    });
    ASSERT_FALSE(found.ok());
    EXPECT_EQ(found.error().words, "cannot read four.bin");
}

}  // namespace
}  // namespace libtorv
