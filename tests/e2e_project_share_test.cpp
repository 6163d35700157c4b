// The modder's loop end to end: a mod shared as one zip whose patches say
// what it is and apply here and in a decoder written from the format's
// description; a zip that would write outside its folder, twice to one
// file, or unpack to too much, refused by name with nothing written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "bps_by_hand.h"
#include "harness.h"
#include "libtorv/patch.h"
#include "libtorv/zip.h"
#include "project_scene.h"

namespace torv::test {
namespace {

namespace fs = std::filesystem;

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string text_of(const bytes& data) {
    return {data.begin(), data.end()};
}

// A project with two sources edited: data/four.bin and sub/intro.bin.
bool edited_project(const game_scene& scene) {
    return scene.unpack() && scene.edit("proj/data/four/four2.png", scene.four, "s2.bmp") &&
           scene.edit("proj/sub/intro/intro005.png", scene.intro, "s005.bmp");
}

TEST(ProjectBundle, OneZipCarriesEveryPatchAndSaysWhatTheModIs) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    if (!edited_project(scene))
        GTEST_SKIP() << "no PNG writer in this test build";
    const run_result built = scene.project({"build", "proj", "game", "out", "--patch-file", "share/mod.zip", "--title",
                                            "Café colours", "--author", "Ann", "--description", "Brighter panels."});
    ASSERT_EQ(built.status, 0) << built.errors;
    EXPECT_TRUE(has(built.output, "share/mod.zip: 2 patches and README.txt, ")) << built.output;

    const libtorv::result<std::vector<libtorv::zip_entry>> zip = libtorv::read_zip(dir.read("share/mod.zip"), 1 << 26);
    ASSERT_TRUE(zip) << zip.error().words;
    ASSERT_EQ(zip->size(), 3u);
    EXPECT_EQ((*zip)[0].name, "README.txt");
    const std::string readme = text_of((*zip)[0].contents);
    for (const char* part : {"Café colours\nby Ann\n\nBrighter panels.\n", "  data/four.bin\n", "  sub/intro.bin\n",
                             "torv-project apply"}) {
        EXPECT_TRUE(has(readme, part)) << part << " not in\n" << readme;
    }
    const std::pair<std::string, bytes> sources[] = {{"data/four.bin", scene.four}, {"sub/intro.bin", scene.intro}};
    for (std::size_t k = 0; k < 2; ++k) {
        const auto& [path, original] = sources[k];
        SCOPED_TRACE(path);
        EXPECT_EQ((*zip)[k + 1].name, path + ".bps");
        const auto applied = bps_by_hand::apply((*zip)[k + 1].contents, original);
        ASSERT_TRUE(applied) << "a decoder written from the format's description refuses it";
        EXPECT_TRUE(applied->target == dir.read("out/" + path));
        EXPECT_EQ(applied->metadata, R"({"title":"Café colours","author":"Ann","description":"Brighter panels.",)"
                                     R"("file":")" +
                                         path + "\"}");
    }

    // The zip applies as a folder of patches does.
    const run_result applied = scene.project({"apply", "share/mod.zip", "game", "applied"});
    ASSERT_EQ(applied.status, 0) << applied.errors;
    EXPECT_TRUE(tree(dir, "applied") == tree(dir, "out"));

    // With nothing changed, no zip; with --patch too, both; the words are
    // for patches only.
    ASSERT_EQ(scene.project({"unpack", "game", "fresh", "-q"}).status, 0);
    const run_result unchanged = scene.project({"build", "fresh", "game", "out2", "--patch-file", "none.zip"});
    EXPECT_EQ(unchanged.status, 0) << unchanged.errors;
    EXPECT_TRUE(has(unchanged.output, "none.zip: not written, as no file changed"));
    EXPECT_FALSE(dir.exists("none.zip"));
    const run_result both =
        scene.project({"build", "proj", "game", "out3", "--patch", "patches", "--patch-file", "both.zip", "-q",
                       "--title", "Café colours", "--author", "Ann", "--description", "Brighter panels."});
    EXPECT_EQ(both.status, 0) << both.errors;
    EXPECT_TRUE(dir.read("patches/data/four.bin.bps") == (*zip)[1].contents) << "the same patch either way";
    EXPECT_EQ(scene.project({"build", "proj", "game", "out4", "--title", "x"}).status, 2);
    EXPECT_FALSE(dir.exists("out4"));
}

// A zip of the patch `patch` under each of `names`.
bytes zip_of(const std::vector<std::string>& names, const bytes& patch) {
    libtorv::zip_archive zip;
    for (const std::string& name : names) EXPECT_TRUE(libtorv::add_to_zip(zip, name, patch));
    return libtorv::finish_zip(zip);
}

TEST(ProjectBundle, AHostileZipIsRefusedByNameAndNothingIsWritten) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    bytes changed = scene.four;
    changed[100] ^= 1;
    const bytes patch = libtorv::bps_patch(scene.four, changed);
    auto expect_refused = [&](const bytes& zip, const std::string& line) {
        SCOPED_TRACE(line);
        dir.write("hostile.zip", zip);
        const run_result result = scene.project({"apply", "hostile.zip", "game", "applied"});
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(has(result.errors, "torv-project: hostile.zip: " + line)) << result.errors;
        EXPECT_TRUE(has(result.errors, "nothing was written")) << result.errors;
        EXPECT_FALSE(dir.exists("applied"));
        EXPECT_TRUE(dir.read("game/data/four.bin") == scene.four);
        EXPECT_FALSE(dir.exists("four.bin") || dir.exists("etc"));
    };
    expect_refused(zip_of({"data/four.bin.bps", "../four.bin.bps"}, patch),
                   "../four.bin.bps: it leads out of its folder (\"..\")");
    expect_refused(zip_of({"data/four.bin.bps", "data\\..\\..\\four.bin.bps"}, patch),
                   "data/../../four.bin.bps: it leads out of its folder");
    expect_refused(zip_of({"/etc/four.bin.bps"}, patch), "/etc/four.bin.bps: it is an absolute path");
    expect_refused(zip_of({"C:/four.bin.bps"}, patch), "C:/four.bin.bps: it is an absolute path");
    expect_refused(zip_of({"data/four.bin.bps", "data/FOUR.bin.BPS"}, patch),
                   "data/four.bin.bps and data/FOUR.bin.BPS are both patches for data/FOUR.bin: keep one");

    // Sizes a zip claims are believed only so far: five patches said to
    // unpack to 250 MB each are refused before one is unpacked.
    bytes big = zip_of({"a.bin.bps", "b.bin.bps", "c.bin.bps", "d.bin.bps", "e.bin.bps"}, bytes(10'000, 0));
    for (std::size_t at = 0; at + 46 <= big.size(); ++at) {
        if (big[at] == 0x50 && big[at + 1] == 0x4B && big[at + 2] == 1 && big[at + 3] == 2) {
            const std::uint32_t claimed = 250'000'000;
            for (int k = 0; k < 4; ++k)
                big[at + 24 + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(claimed >> (8 * k));
        }
    }
    expect_refused(big,
                   "its patches unpack to 1,250,000,000 bytes, more than the 1,073,741,824 a zip of patches "
                   "may hold");

    // What is no zip at all.
    expect_refused({'P', 'K', 3}, "it is no zip archive");
    // A zip without a patch in it says so.
    dir.write("readme.zip", zip_of({"README.txt"}, patch));
    const run_result empty = scene.project({"apply", "readme.zip", "game", "applied"});
    EXPECT_EQ(empty.status, 1);
    EXPECT_TRUE(has(empty.errors, "readme.zip holds no .bps patch")) << empty.errors;
}

}  // namespace
}  // namespace torv::test
