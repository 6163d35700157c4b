// torv-project end to end: a game folder unpacked into a project (the same
// for any number of threads), its status, a build of what changed, verified
// by torv, with patches that apply; bad input gets one line each and leaves
// nothing behind; a build interrupted leaves no half-written file; a frame
// sequence's GIF holds every frame exactly.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "byte_utils.h"
#include "harness.h"
#include "png_file.h"
#include "project_scene.h"
#include "samples.h"

#ifdef TORV_TEST_GIF
#include <gif_lib.h>
#endif

namespace torv::test {
namespace {

namespace fs = std::filesystem;

TEST(Project, UnpackedEditedBuiltAndPatched) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    run_result result = scene.project({"unpack", "game", "proj", "-j", "1"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.output.find("3 sources, 19 images in proj (as PNG)"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("left alone, being the size of no layout: 1 file (data/notes.bin)"), std::string::npos)
        << result.output;
    ASSERT_EQ(scene.project({"unpack", "game", "proj2", "-j", "3", "-q"}).status, 0);
    EXPECT_TRUE(tree(dir, "proj") == tree(dir, "proj2")) << "the same project for every number of threads";
    EXPECT_TRUE(dir.exists("proj/sub/intro/intro011.png") && dir.exists("proj/data/panels/panels2.png"));

    result = scene.project({"status", "proj", "game"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "no changes: 3 sources, 19 images as they were unpacked\n");

    // One frame edited, saved as an indexed PNG.
    std::map<std::string, bytes> frames = torv_images(scene.intro);
    frames["s005.bmp"] = scribbled(frames["s005.bmp"]);
    const std::optional<bytes> png = png_of_bmp(frames["s005.bmp"]);
    if (!png)
        GTEST_SKIP() << "no PNG writer in this test build";
    dir.write("proj/sub/intro/intro005.png", *png);
    dir.write("proj/sub/intro/notes.txt", {'x'});
    result = scene.project({"status", "proj"});
    EXPECT_NE(result.output.find("sub/intro.bin: 1 image changed: intro005.png"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("left alone, not an image: sub/intro/notes.txt"), std::string::npos);

    result = scene.project({"build", "proj", "game", "out", "--patch", "patches"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.output.find("sub/intro.bin: 1 image changed (intro005.png); records: "), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find(" of 9,486,336 bytes"), std::string::npos);
    EXPECT_NE(result.output.find("2 sources unchanged"), std::string::npos);
    EXPECT_EQ(tree(dir, "out").size(), 1u) << "only what changed";
    const bytes built = dir.read("out/sub/intro.bin");
    EXPECT_TRUE(torv_images(built) == frames) << "torv gives back the frames as edited";

    result = scene.project({"apply", "patches", "game", "applied"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_TRUE(dir.read("applied/sub/intro.bin") == built);

    // Nothing replaced without -f; everything copied with --copy-unchanged.
    result = scene.project({"build", "proj", "game", "out"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("intro.bin exists (-f replaces it)"), std::string::npos) << result.errors;
    ASSERT_EQ(scene.project({"build", "proj", "game", "out", "-f", "--copy-unchanged", "-q"}).status, 0);
    EXPECT_TRUE(dir.read("out/data/four.bin") == scene.four);
    EXPECT_TRUE(dir.read("out/sub/intro.bin") == built);
}

TEST(Project, BadInputGetsOneLineEachAndWritesNothing) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_EQ(scene.project({"unpack", "game", "proj", "-q"}).status, 0);
    const bytes manifest = dir.read("proj/torv-project.json");
    auto expect_refused = [&](const std::vector<std::string>& args, const std::vector<std::string>& lines) {
        SCOPED_TRACE(lines.front());
        const run_result result = scene.project(args);
        EXPECT_EQ(result.status, 1);
        for (const std::string& line : lines) {
            EXPECT_NE(result.errors.find("torv-project: " + line), std::string::npos) << result.errors;
        }
        EXPECT_FALSE(dir.exists("out") || dir.exists("applied")) << "nothing written";
        for (const std::string& name : dir.files()) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    };
    dir.write("empty/x.txt", {});
    expect_refused({"status", "empty"}, {"empty has no torv-project.json: it is no project, or its unpacking did "
                                         "not finish"});
    dir.write("proj/torv-project.json", {'{', 'x'});
    expect_refused({"build", "proj", "game", "out"}, {"proj: torv-project.json is not a torv-project manifest: it "
                                                      "is not JSON"});
    std::string newer(manifest.begin(), manifest.end());
    newer.replace(newer.find("\"format\": 1"), 11, "\"format\": 7");
    dir.write("proj/torv-project.json", bytes(newer.begin(), newer.end()));
    expect_refused({"status", "proj"}, {"proj: the project is of format 7 (made by torv-project 1.1.0), and this "
                                        "torv-project reads format 1: a newer torv-project made it"});
    dir.write("proj/torv-project.json", manifest);

    // An image of the wrong size, a source missing from the game folder:
    // every failure said, nothing written.
    dir.write("proj/data/four/four2.png", dir.read("proj/data/four/four0.png"));
    expect_refused({"build", "proj", "game", "out"},
                   {"data/four.bin: four2.png: the image is 112x144, it must be 320x224"});
    fs::rename(dir.path() / "game/data/panels.bin", dir.path() / "panels.bin");
    expect_refused({"build", "proj", "game", "out"}, {"data/panels.bin is not in game", "nothing was written"});
    fs::rename(dir.path() / "panels.bin", dir.path() / "game/data/panels.bin");
    expect_refused({"build", "proj", "game", "game/out"}, {"the output folder game/out lies within the game folder"});
    expect_refused({"build", "proj", "game", "proj/out"}, {"the output folder proj/out lies within the project"});

    // A game file that is not the one the project was made from; a project
    // folder that holds something already.
    const bytes panels = dir.read("game/data/panels.bin");
    bytes touched = panels;
    touched[500] ^= 1;
    dir.write("game/data/panels.bin", touched);
    expect_refused({"build", "proj", "game", "out"},
                   {"data/panels.bin is not the file the project was made from (its SHA-256 differs)"});
    dir.write("game/data/panels.bin", panels);
    expect_refused({"unpack", "game", "proj"}, {"proj is there and not an empty folder"});

    // A patch cut short.
    dir.write("proj/data/four/four2.png", dir.read("proj/data/four/four0.png"));
    dir.write("patches/data/panels.bin.bps", {'B', 'P', 'S', '1', 0x80});
    expect_refused({"apply", "patches", "game", "applied"}, {"data/panels.bin.bps: the patch is not a BPS patch"});
}

// An image saved again, showing what it showed, gives the original's bytes:
// its source is not written, or copied as it was. Links in the game folder
// are not followed.
TEST(Project, AnImageSavedAgainUnchangedGivesTheOriginalBack) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_EQ(scene.project({"unpack", "game", "proj", "-q"}).status, 0);
    const std::optional<bytes> png = png_of_bmp(torv_images(scene.four)["s1.bmp"]);
    if (!png)
        GTEST_SKIP() << "no PNG writer in this test build";
    ASSERT_FALSE(*png == dir.read("proj/data/four/four1.png")) << "a save of its own";
    dir.write("proj/data/four/four1.png", *png);
    run_result result = scene.project({"build", "proj", "game", "out", "--copy-unchanged"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.output.find("four1.png saved again, but what the images show is unchanged"), std::string::npos)
        << result.output;
    EXPECT_TRUE(dir.read("out/data/four.bin") == scene.four);

    if (under_wine())
        return;  // links are POSIX's here
    dir.write("elsewhere/more.bin", scene.panels);
    fs::create_directory_symlink(dir.path() / "elsewhere", dir.path() / "game/linked");
    fs::create_symlink(dir.path() / "elsewhere/more.bin", dir.path() / "game/link.bin");
    result = scene.project({"unpack", "game", "linked_proj"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.output.find("not followed: 2 links"), std::string::npos) << result.output;
    EXPECT_FALSE(dir.exists("linked_proj/linked") || dir.exists("linked_proj/link"));
}

// A patch for one version of a file, given another version: refused by name.
TEST(Project, APatchForAnotherVersionOrWithoutItsFileIsRefused) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_EQ(scene.project({"unpack", "game", "proj", "-q"}).status, 0);
    std::map<std::string, bytes> images = torv_images(scene.four);
    const std::optional<bytes> png = png_of_bmp(scribbled(images["s2.bmp"]));
    if (!png)
        GTEST_SKIP() << "no PNG writer in this test build";
    dir.write("proj/data/four/four2.png", *png);
    ASSERT_EQ(scene.project({"build", "proj", "game", "out", "--patch", "patches", "-q"}).status, 0);
    bytes other = scene.four;
    other[1000] ^= 1;
    dir.write("old/data/four.bin", other);
    run_result result = scene.project({"apply", "patches", "old", "applied"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("data/four.bin.bps: it is for another version of data/four.bin"), std::string::npos)
        << result.errors;
    dir.write("none/x.bin", {1});
    result = scene.project({"apply", "patches", "none", "applied"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("data/four.bin.bps: its game file data/four.bin is not in none"), std::string::npos)
        << result.errors;
    EXPECT_FALSE(dir.exists("applied"));
}

// A build stopped by a signal at any moment: every file it was to write is
// there whole, or none is, and no temporary file stays.
TEST(Project, AnInterruptedBuildLeavesNoHalfWrittenFile) {
    if (under_wine())
        GTEST_SKIP() << "signals are POSIX's";
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_EQ(scene.project({"unpack", "game", "proj", "-q"}).status, 0);
    std::map<std::string, bytes> frames = torv_images(scene.intro);
    const std::optional<bytes> png = png_of_bmp(scribbled(frames["s003.bmp"]));
    if (!png)
        GTEST_SKIP() << "no PNG writer in this test build";
    dir.write("proj/sub/intro/intro003.png", *png);
    ASSERT_EQ(scene.project({"build", "proj", "game", "whole", "-j", "1", "-q"}).status, 0);
    const bytes whole = dir.read("whole/sub/intro.bin");
    for (const int delay_ms : {0, 20, 60, 150, 300}) {
        SCOPED_TRACE(delay_ms);
        run_options options;
        options.project = true;
        options.while_running = [&](int pid) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
            kill(pid, SIGTERM);
        };
        const run_result stopped = dir.run({"build", "proj", "game", "out", "-j", "1", "-q"}, options);
        const std::map<std::string, bytes> written = tree(dir, "out");
        if (stopped.status == 0) {
            EXPECT_TRUE(written.at("sub/intro.bin") == whole);
        } else {
            EXPECT_EQ(stopped.status, 128 + SIGTERM);
            for (const auto& [name, contents] : written) {
                EXPECT_TRUE(name == "sub/intro.bin" && contents == whole) << name;
            }
        }
        fs::remove_all(dir.path() / "out");
    }
}

#ifdef TORV_TEST_GIF
int read_from(GifFileType* gif, GifByteType* out, int count) {
    auto* source = static_cast<std::pair<const bytes*, std::size_t>*>(gif->UserData);
    const auto take = static_cast<std::size_t>(
        std::min<std::size_t>(static_cast<std::size_t>(count), source->first->size() - source->second));
    std::copy_n(source->first->data() + source->second, take, out);
    source->second += take;
    return static_cast<int>(take);
}

// The animation holds every frame, each with its own palette exactly, at
// twelve frames a second.
TEST(Project, AFrameSequencesGifHoldsEveryFrameExactly) {
    game_scene scene;
    ASSERT_EQ(scene.project({"unpack", "game", "proj", "--gif", "-q"}).status, 0);
    const bytes gif_file = scene.dir.read("proj/sub/intro/intro.gif");
    std::pair<const bytes*, std::size_t> source{&gif_file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, read_from, &error);
    ASSERT_NE(gif, nullptr);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    const std::map<std::string, bytes> frames = torv_images(scene.intro);
    ASSERT_EQ(gif->ImageCount, static_cast<int>(frames.size()));
    int k = 0;
    int hundredths = 0;
    for (const auto& [name, bmp] : frames) {
        SCOPED_TRACE(name);
        const SavedImage& image = gif->SavedImages[k];
        ASSERT_NE(image.ImageDesc.ColorMap, nullptr);
        GraphicsControlBlock control{};
        DGifSavedExtensionToGCB(gif, k, &control);
        hundredths += control.DelayTime;
        for (int at = 0; at < 320 * 224; at += 97) {
            const int x = at % 320, y = at / 320;
            const GifColorType shown = image.ImageDesc.ColorMap->Colors[image.RasterBits[at]];
            const std::uint8_t index = bmp[1078 + static_cast<std::size_t>((223 - y) * 320 + x)];
            const std::uint8_t* quad = &bmp[54 + 4 * static_cast<std::size_t>(index)];
            ASSERT_EQ(shown.Red, quad[2]);
            ASSERT_EQ(shown.Green, quad[1]);
            ASSERT_EQ(shown.Blue, quad[0]);
        }
        ++k;
    }
    EXPECT_EQ(hundredths, 100) << "12 frames, one second";
    DGifCloseFile(gif, &error);
}
#endif

}  // namespace
}  // namespace torv::test
