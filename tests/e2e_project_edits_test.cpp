// What a modder's edits meet in torv-project: either kind of image under
// either name is taken by its content; frames added are built, a frame
// removed is refused with the reason; an editor's own file or a stray image
// is named with what to do, never passed over; every image's problem is said
// in one run; pixels moved to the nearest colour are counted; a patched
// file is known as such; every command takes -q.
#include <gtest/gtest.h>

#include <filesystem>

#include "png_file.h"
#include "project_scene.h"
#include "samples.h"

namespace torv::test {
namespace {

namespace fs = std::filesystem;

// A PNG project: an image saved as BMP beside its PNG's name, or a BMP under
// the PNG's name; a BMP project given a PNG: each is built, as its content.
TEST(ProjectEdits, EitherKindOfImageUnderEitherNameIsTaken) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack("proj"));
    ASSERT_TRUE(scene.unpack("bmp-proj", {"--bmp"}));
    std::map<std::string, bytes> images = torv_images(scene.four);
    const bytes edited = scribbled(images["s1.bmp"]);
    const std::optional<bytes> png = png_of_bmp(edited);
    if (!png)
        GTEST_SKIP() << "no PNG writer in this test build";
    images["s1.bmp"] = edited;

    fs::remove(dir.path() / "proj/data/four/four1.png");
    dir.write("proj/data/four/four1.bmp", edited);
    run_result result = scene.project({"status", "proj"});
    EXPECT_EQ(result.output, "data/four.bin: 1 image changed: four1.bmp\n");
    result = scene.project({"build", "proj", "game", "out1"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.output.find("data/four.bin: 1 image changed (four1.bmp)"), std::string::npos) << result.output;
    EXPECT_TRUE(torv_images(dir.read("out1/data/four.bin")) == images);

    fs::remove(dir.path() / "proj/data/four/four1.bmp");
    dir.write("proj/data/four/four1.png", edited);  // a BMP under the PNG's name
    result = scene.project({"build", "proj", "game", "out2"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_TRUE(dir.read("out2/data/four.bin") == dir.read("out1/data/four.bin"));

    dir.write("bmp-proj/data/four/four1.png", *png);  // beside the unchanged BMP
    result = scene.project({"build", "bmp-proj", "game", "out3"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.output.find("1 image changed (four1.png)"), std::string::npos) << result.output;
    EXPECT_TRUE(dir.read("out3/data/four.bin") == dir.read("out1/data/four.bin"));

    dir.write("bmp-proj/data/four/four1.bmp", scribbled(edited, 5000));  // both changed: which?
    result = scene.project({"build", "bmp-proj", "game", "out4"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("data/four.bin: both four1.bmp and four1.png hold four1, and both changed: keep one"),
              std::string::npos)
        << result.errors;
}

// Frames after the last extend the animation as torv-pack would; a frame
// taken away is refused with why; an editor's own file and a stray image
// are named with what to do; a file that is no image is said to be left
// alone.
TEST(ProjectEdits, NoFileGivenIsPassedOverInSilence) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    std::map<std::string, bytes> frames = torv_images(scene.intro);
    const std::optional<bytes> png = png_of_bmp(scribbled(frames["s003.bmp"]));
    if (!png)
        GTEST_SKIP() << "no PNG writer in this test build";
    dir.write("proj/sub/intro/intro012.png", *png);
    dir.write("proj/sub/intro/intro013.bmp", scribbled(frames["s005.bmp"]));
    run_result result = scene.project({"build", "proj", "game", "out", "--patch", "patches"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.output.find("sub/intro.bin: 2 frames added (intro012.png, intro013.bmp); records: "),
              std::string::npos)
        << result.output;
    frames["s012.bmp"] = scribbled(frames["s003.bmp"]);
    frames["s013.bmp"] = scribbled(frames["s005.bmp"]);
    EXPECT_TRUE(torv_images(dir.read("out/sub/intro.bin")) == frames) << "14 frames, as torv-pack adds them";

    dir.write("proj/sub/intro/intro015.png", *png);  // a gap
    dir.write("proj/sub/intro/intro003.xcf", {'g', 'i', 'm', 'p'});
    dir.write("proj/data/four/four7.png", *png);
    dir.write("proj/data/four/Four1.PNG", *png);
    dir.write("proj/data/four/notes.txt", {'x'});
    fs::remove(dir.path() / "proj/data/panels/panels1.png");
    fs::remove(dir.path() / "proj/sub/intro/intro007.png");
    result = scene.project({"build", "proj", "game", "out2"});
    EXPECT_EQ(result.status, 1);
    for (const std::string line :
         {"data/four.bin: Four1.PNG: name it four1.png, in lower case as torv names it",
          "data/four.bin: four7.png: it is the image of no place in four.bin (its images are four0.png to "
          "four3.png): rename it, or move it out of data/four",
          "data/panels.bin: panels1.png is missing: panels.bin holds 3 images, each needed",
          "sub/intro.bin: intro007.png is missing: intro.bin is an animation of 12 frames, and the game plays "
          "each (put the frame back, or a copy of the one before it to hold that one longer)",
          "sub/intro.bin: intro003.xcf is an editor's own file, which torv-project does not read: export it as "
          "intro003.png",
          "sub/intro.bin: frames added after the last must follow it without a gap: intro014.png is missing, "
          "though intro015.png is there",
          "nothing was written"}) {
        EXPECT_NE(result.errors.find("torv-project: " + line), std::string::npos) << line << "\n" << result.errors;
    }
    EXPECT_EQ(result.errors.find("notes.txt"), std::string::npos) << "a file that is no image is no problem";
    result = scene.project({"status", "proj"});
    EXPECT_NE(result.output.find("left alone, not an image: data/four/notes.txt"), std::string::npos) << result.output;
    EXPECT_FALSE(dir.exists("out2"));
}

// A true-colour copy of an 8-bit BMP of torv's, with 100 pixels of a colour
// its palette lacks.
bytes true_colour_with_new_colours(const bytes& bmp) {
    bytes wide = {'B', 'M'};
    const std::uint32_t width = le32(bmp, 18), height = le32(bmp, 22), row = width * 3;
    const std::uint32_t size = 54 + row * height;
    for (const std::uint32_t v : {size, 0u, 54u, 40u, width, height}) {
        for (int shift = 0; shift < 32; shift += 8) wide.push_back(static_cast<std::uint8_t>(v >> shift));
    }
    for (const std::uint16_t v : {std::uint16_t{1}, std::uint16_t{24}}) {
        wide.push_back(static_cast<std::uint8_t>(v));
        wide.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    wide.resize(54, 0);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t index = bmp[1078 + y * width + x];
            const bool odd = x < 10 && y < 10;
            for (std::size_t c = 0; c < 3; ++c) {
                wide.push_back(odd ? static_cast<std::uint8_t>(0x13 + 0x40 * c) : bmp[54 + 4 * std::size_t{index} + c]);
            }
        }
    }
    return wide;
}

// Every image's problem in one run: two broken images of one source, and
// five broken frames of another, each named; and images that read well but
// bring colours their palettes lack, two sharing a palette and two frames
// of their own, each named too.
TEST(ProjectEdits, EveryImagesProblemIsSaidInOneRun) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    const bytes four2 = dir.read("proj/data/four/four2.png");
    dir.write("proj/data/four/four2.png", bytes(four2.begin(), four2.begin() + 100));
    dir.write("proj/data/four/four3.png", dir.read("proj/data/four/four0.png"));
    const bytes frame = dir.read("proj/sub/intro/intro003.png");
    for (int k = 6; k <= 10; ++k) {
        dir.write("proj/sub/intro/intro0" + std::to_string(k / 10) + std::to_string(k % 10) + ".png",
                  bytes(frame.begin(), frame.begin() + 60 + k));
    }
    run_result result = scene.project({"build", "proj", "game", "out"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("data/four.bin: four2.png: "), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("data/four.bin: four3.png: the image is 112x144, it must be 320x224"),
              std::string::npos)
        << result.errors;
    for (int k = 6; k <= 10; ++k) {
        const std::string name = "intro0" + std::to_string(k / 10) + std::to_string(k % 10) + ".png";
        EXPECT_NE(result.errors.find("sub/intro.bin: " + name + ": "), std::string::npos) << name << result.errors;
    }
    EXPECT_FALSE(dir.exists("out"));

    ASSERT_TRUE(scene.unpack("proj2"));
    const std::map<std::string, bytes> fours = torv_images(scene.four);
    const std::map<std::string, bytes> frames = torv_images(scene.intro);
    dir.write("proj2/data/four/four2.png", true_colour_with_new_colours(fours.at("s2.bmp")));
    dir.write("proj2/data/four/four3.png", true_colour_with_new_colours(fours.at("s3.bmp")));
    dir.write("proj2/sub/intro/intro004.png", true_colour_with_new_colours(frames.at("s004.bmp")));
    dir.write("proj2/sub/intro/intro009.png", true_colour_with_new_colours(frames.at("s009.bmp")));
    result = scene.project({"build", "proj2", "game", "out"});
    EXPECT_EQ(result.status, 1);
    for (const std::string line : {"data/four.bin: four2.png: pixel (", "data/four.bin: four3.png: pixel (",
                                   "sub/intro.bin: intro004.png: pixel (", "sub/intro.bin: intro009.png: pixel ("}) {
        EXPECT_NE(result.errors.find(line), std::string::npos) << line << "\n" << result.errors;
    }
    EXPECT_FALSE(dir.exists("out"));
}

// Colours moved to the nearest entry are counted in the build's line, for
// each image, as torv-pack counts them.
TEST(ProjectEdits, PixelsMovedToTheNearestColourAreCounted) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack("proj", {"--bmp"}));
    const bytes wide = true_colour_with_new_colours(torv_images(scene.four)["s2.bmp"]);
    dir.write("proj/data/four/four2.bmp", wide);
    run_result result = scene.project({"build", "proj", "game", "out"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("four2.bmp: pixel ("), std::string::npos) << result.errors;
    result = scene.project({"build", "proj", "game", "out", "--nearest"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.output.find("data/four.bin: 1 image changed (four2.bmp, 100 pixels to the nearest colour); "),
              std::string::npos)
        << result.output;
}

// In a PNG project, what is said names the project's files: the images
// sharing a palette by their PNG names, not the BMP names torv gives them.
TEST(ProjectEdits, MessagesNameTheProjectsFiles) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    dir.write("proj/data/four/four2.png", true_colour_with_new_colours(torv_images(scene.four)["s2.bmp"]));
    const run_result result = scene.project({"build", "proj", "game", "out"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("data/four.bin: four2.png: pixel ("), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("which the palette it shares with four0.png, four1.png, four3.png lacks"),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(result.errors.find(".bmp"), std::string::npos) << result.errors;
}

// A file already patched is said to be so, and copied as it is; what to do
// with what apply wrote is said.
TEST(ProjectEdits, AFileAlreadyPatchedIsKnown) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    if (!scene.edit("proj/data/four/four2.png", scene.four, "s2.bmp"))
        GTEST_SKIP() << "no PNG writer in this test build";
    ASSERT_EQ(scene.project({"build", "proj", "game", "built", "--patch", "patches", "-q"}).status, 0);
    dir.write("patched/data/four.bin", dir.read("built/data/four.bin"));
    const run_result result = scene.project({"apply", "patches", "patched", "out"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(
        result.output.find("data/four.bin: already patched (it is what data/four.bin.bps makes), copied as it is"),
        std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("1 file in out: copy them over the game's files of the same names to play"),
              std::string::npos)
        << result.output;
    EXPECT_TRUE(dir.read("out/data/four.bin") == dir.read("built/data/four.bin"));
}

// Every command takes -q; a usage error is status 2; unpack's refusal of a
// folder that holds something says what to do, without -f (which it has
// not); a project inside the game folder, and case twins, are refused.
TEST(ProjectEdits, CommandsTakeWhatTheDocumentsSay) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    run_result result = scene.project({"status", "-q", "proj"});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.output, "");
    fs::remove(dir.path() / "proj/data/four/four1.png");
    result = scene.project({"status", "-q", "proj"});
    EXPECT_EQ(result.output,
              "data/four.bin: four1.png is missing: four.bin holds 4 images, each needed (put it back "
              "from a new unpack)\n");
    EXPECT_EQ(scene.project({"status"}).status, 2);
    EXPECT_EQ(scene.project({"unpack", "game"}).status, 2);

    dir.write("taken/x.txt", {'x'});
    result = scene.project({"unpack", "game", "taken"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("taken is there and not an empty folder: unpack makes a project in a new or empty "
                                 "folder"),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(result.errors.find("-f"), std::string::npos);
    result = scene.project({"unpack", "game", "game/proj"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("the project game/proj lies within the game folder game"), std::string::npos)
        << result.errors;
    if (!under_wine()) {
        dir.write("game/data/FOUR.bin", scene.four);
        result = scene.project({"unpack", "game", "twins"});
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.errors.find("data/FOUR.bin and data/four.bin would share the folder data/four"),
                  std::string::npos)
            << result.errors;
    }
    EXPECT_FALSE(dir.exists("twins") || dir.exists("game/proj"));
}

// A game file changed since the project was made, of a source being built:
// refused, nothing written.
TEST(ProjectEdits, TheOriginalOfASourceBuiltMustBeTheOneUnpacked) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    if (!scene.edit("proj/data/four/four2.png", scene.four, "s2.bmp"))
        GTEST_SKIP() << "no PNG writer in this test build";
    bytes touched = scene.four;
    touched[600] ^= 1;
    dir.write("game/data/four.bin", touched);
    const run_result result = scene.project({"build", "proj", "game", "out"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("data/four.bin is not the file the project was made from (its SHA-256 differs)"),
              std::string::npos)
        << result.errors;
    EXPECT_FALSE(dir.exists("out"));
}

}  // namespace
}  // namespace torv::test
