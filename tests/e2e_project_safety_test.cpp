// torv-project under attack: the game folder is never written, whatever
// folders and links are given; names of any bytes and hostile manifests
// never crash it; a build or an apply writes all of its files or none,
// through failures, races, signals and kills; and memory stays bounded by
// one file at a time, whatever the number of files.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "bps_by_hand.h"
#include "project_scene.h"
#include "samples.h"

namespace torv::test {
namespace {

namespace fs = std::filesystem;

// Nothing below `folder` but what `before` listed.
void expect_untouched(const scratch_dir& dir, const std::vector<std::string>& before) {
    EXPECT_EQ(everything(dir), before);
}

bool has_temporary(const scratch_dir& dir) {
    for (const std::string& name : everything(dir)) {
        if (name.ends_with(".tmp"))
            return true;
    }
    return false;
}

// A game whose folder holds a folder of the same name with a source of the
// same name: an output folder above the game folder would write into it.
TEST(ProjectSafety, OutputFoldersThatHoldTheGameOrLieInItAreRefused) {
    scratch_dir dir;
    const bytes four = samples::make_four_image_block();
    dir.write("n/game/four.bin", four);
    dir.write("n/game/game/four.bin", four);
    ASSERT_EQ(dir.run_project({"unpack", "n/game", "proj", "-q"}).status, 0);
    const std::optional<bytes> png = edited_png(four, "s2.bmp");
    if (!png)
        GTEST_SKIP() << "no PNG writer in this test build";
    dir.write("proj/four/four2.png", *png);
    dir.write("proj/game/four/four2.png", *png);
    ASSERT_EQ(dir.run_project({"build", "proj", "n/game", "built", "--patch", "patches", "-q"}).status, 0);
    const std::vector<std::string> before = everything(dir);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"build", "-f", "proj", "n/game", "n"},
          std::vector<std::string>{"build", "proj", "n/game", "n"},
          std::vector<std::string>{"build", "proj", "n/game", "elsewhere", "--patch", "n"},
          std::vector<std::string>{"build", "proj", "n/game", "n/game/game/out"},
          std::vector<std::string>{"build", "proj", "n/game", "."},
          std::vector<std::string>{"apply", "patches", "n/game", "n"},
          std::vector<std::string>{"apply", "-f", "patches", "n/game", "n"},
          std::vector<std::string>{"apply", "patches", "n/game", "patches/out"}}) {
        SCOPED_TRACE(args[0] + " " + args[args.size() - 1]);
        const run_result refused = dir.run_project(args);
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.errors.find(": choose one outside it"), std::string::npos) << refused.errors;
        expect_untouched(dir, before);
    }
    if (under_wine())
        return;  // links are POSIX's here
    // The same through a link to the game's parent.
    fs::create_directory_symlink(dir.path() / "n", dir.path() / "n-link");
    const run_result linked = dir.run_project({"build", "-f", "proj", "n/game", "n-link"});
    EXPECT_EQ(linked.status, 1);
    EXPECT_NE(linked.errors.find("the output folder n-link holds the game folder n/game"), std::string::npos)
        << linked.errors;
    EXPECT_TRUE(dir.read("n/game/four.bin") == four);
}

// A link inside the output folder leading into the game: refused before any
// folder is made, in the game or anywhere.
TEST(ProjectSafety, ALinkInTheOutputFolderIsRefusedBeforeAnythingIsMade) {
    if (under_wine())
        GTEST_SKIP() << "links are POSIX's";
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    if (!scene.edit("proj/data/four/four2.png", scene.four, "s2.bmp"))
        GTEST_SKIP() << "no PNG writer in this test build";
    fs::create_directories(dir.path() / "game/empty");
    fs::create_directories(dir.path() / "out");
    fs::create_directory_symlink("../game/empty", dir.path() / "out/data");
    const std::vector<std::string> before = everything(dir);
    const run_result refused = scene.project({"build", "proj", "game", "out", "--patch", "out"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.errors.find("out/data is a link, and nothing is written through one"), std::string::npos)
        << refused.errors;
    EXPECT_NE(refused.errors.find("nothing was written"), std::string::npos);
    expect_untouched(dir, before);
}

// Names as old CD copies carry them (not UTF-8), and names with a colon or a
// backslash: unpacked, read back by status, built.
TEST(ProjectSafety, GameFilesOfAnyNameUnpackReadBackAndBuild) {
    if (under_wine())
        GTEST_SKIP() << "such names are POSIX's";
    scratch_dir dir;
    const bytes four = samples::make_four_image_block();
    const std::vector<std::string> names = {"caf\xe9.bin",   "e:panels.bin", "a\\b.bin",
                                            "tab\there.bin", "-f.bin",       "sp ace/\xff.BIN"};
    for (const std::string& name : names) dir.write("game/" + name, four);
    run_result result = dir.run_project({"unpack", "game", "proj"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.output.find("6 sources, 24 images"), std::string::npos) << result.output;
    result = dir.run_project({"status", "proj", "game"});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.output, "no changes: 6 sources, 24 images as they were unpacked\n") << result.errors;
    const std::optional<bytes> png = edited_png(four, "s1.bmp");
    if (!png)
        GTEST_SKIP() << "no PNG writer in this test build";
    dir.write(
        "proj/caf\xe9/caf\xe9"
        "1.png",
        *png);
    dir.write(
        "proj/sp ace/\xff/\xff"
        "1.png",
        *png);
    result = dir.run_project({"build", "proj", "game", "out", "--patch", "patches"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(tree(dir, "out").size(), 2u);
    EXPECT_TRUE(dir.exists("out/caf\xe9.bin") && dir.exists("patches/sp ace/\xff.BIN.bps"));
    result = dir.run_project({"apply", "patches", "game", "applied", "-q"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_TRUE(tree(dir, "applied") == tree(dir, "out"));
}

// A manifest of the wrong types or ranges: refused with the field named, by
// status and build alike; never a crash.
TEST(ProjectSafety, HostileManifestsAreRefusedByField) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    const bytes manifest = dir.read("proj/torv-project.json");
    const std::string text(manifest.begin(), manifest.end());
    auto with = [&](const std::string& from, const std::string& to) {
        std::string changed = text;
        changed.replace(changed.find(from), from.size(), to);
        return bytes(changed.begin(), changed.end());
    };
    const std::vector<std::pair<bytes, std::string>> cases = {
        {with("\"tool\": \"1.1.0\"", "\"tool\": 5"), "the manifest's \"tool\" must be text, not 5"},
        {with("\"tool\": \"1.1.0\"", "\"tool\": []"), "the manifest's \"tool\" must be text, not []"},
        {with("\"images\": \"png\"", "\"images\": 5"), "the manifest's \"images\" must be text, not 5"},
        {with("\"format\": 1", "\"format\": 4294967297"), "the project is of format 4294967297"},
        {with("\"format\": 1", "\"format\": 2147483648"),
         "format 2147483648 (made by torv-project 1.1.0), and this "
         "torv-project reads format 1: a newer torv-project made it"},
        {bytes{'[', ']'}, "torv-project.json is not a torv-project manifest: it is not a JSON object"},
        {with("\"size\": 57652", "\"size\": 1e999"), "it is not JSON"},
    };
    for (const auto& [contents, words] : cases) {
        SCOPED_TRACE(words);
        dir.write("proj/torv-project.json", contents);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"status", "proj"}, std::vector<std::string>{"build", "proj", "game", "out"}}) {
            const run_result refused = scene.project(args);
            EXPECT_EQ(refused.status, 1) << args[0];
            EXPECT_NE(refused.errors.find(words), std::string::npos) << refused.errors;
        }
    }
    EXPECT_FALSE(dir.exists("out"));
}

// Files that cannot all be written: none is. A patch folder that is a file,
// a size limit, and a project file that cannot be written.
TEST(ProjectSafety, AFailedWriteLeavesNothingNotEvenFolders) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    if (!scene.edit("proj/sub/intro/intro003.png", scene.intro, "s003.bmp"))
        GTEST_SKIP() << "no PNG writer in this test build";
    dir.write("proj/data/four/four2.png", *edited_png(scene.four, "s2.bmp"));
    dir.write("patches-file", {'x'});
    std::vector<std::string> before = everything(dir);
    run_result result = scene.project({"build", "proj", "game", "out/deep", "--patch", "patches-file"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("patches-file is a file, not a folder"), std::string::npos) << result.errors;
    expect_untouched(dir, before);
    if (under_wine())
        return;  // size limits are POSIX's
    run_options limited;
    limited.file_size_limit = 1 << 20;  // the patches fit, intro.bin does not
    result = scene.project({"build", "proj", "game", "out/deep", "--patch", "patches"}, limited);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("cannot write out/deep/sub/intro.bin: File too large"), std::string::npos)
        << result.errors;
    expect_untouched(dir, before);
    // Unpacking stops as wholly: no project folder is left. The limit lets
    // the manifest through, and not the largest image.
    std::uintmax_t largest_image = 0;
    for (const auto& [name, contents] : tree(dir, "proj")) {
        if (name.ends_with(".png"))
            largest_image = std::max<std::uintmax_t>(largest_image, contents.size());
    }
    const std::uintmax_t manifest = dir.read("proj/torv-project.json").size();
    ASSERT_GT(largest_image, manifest + 64);
    limited.file_size_limit = manifest + 64;
    result = scene.project({"unpack", "game", "proj2"}, limited);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("nothing was written"), std::string::npos) << result.errors;
    expect_untouched(dir, before);
}

// Two builds racing into one folder: one writes its whole set, the other
// nothing (and says so); never a file of each, never a temporary.
TEST(ProjectSafety, RacingBuildsLeaveOneWholeSet) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    if (!scene.edit("proj/data/four/four2.png", scene.four, "s2.bmp"))
        GTEST_SKIP() << "no PNG writer in this test build";
    dir.write("proj/data/panels/panels1.png", *edited_png(scene.panels, "s1.bmp"));
    ASSERT_EQ(scene.project({"build", "proj", "game", "whole", "--patch", "whole", "-q"}).status, 0);
    const std::map<std::string, bytes> whole = tree(dir, "whole");
    ASSERT_EQ(whole.size(), 4u);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        auto build = [&] { return scene.project({"build", "proj", "game", "out", "--patch", "out", "-q", "-j", "1"}); };
        std::future<run_result> first = std::async(std::launch::async, build);
        const run_result second = build();
        const run_result other = first.get();
        EXPECT_EQ(other.status + second.status, 1) << other.errors << second.errors;
        EXPECT_TRUE(tree(dir, "out") == whole);
        EXPECT_FALSE(has_temporary(dir));
        fs::remove_all(dir.path() / "out");
    }
}

// A build or apply ended by a signal at any moment: its whole set or
// nothing, and no temporary.
TEST(ProjectSafety, SignalsLeaveTheWholeSetOrNothing) {
    if (under_wine())
        GTEST_SKIP() << "signals are POSIX's";
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    if (!scene.edit("proj/sub/intro/intro003.png", scene.intro, "s003.bmp"))
        GTEST_SKIP() << "no PNG writer in this test build";
    dir.write("proj/data/four/four2.png", *edited_png(scene.four, "s2.bmp"));
    ASSERT_EQ(scene.project({"build", "proj", "game", "whole", "--patch", "whole-patches", "-q"}).status, 0);
    const std::map<std::string, bytes> whole = tree(dir, "whole");
    const std::map<std::string, bytes> patches = tree(dir, "whole-patches");
    ASSERT_EQ(whole.size(), 2u);
    int whole_sets = 0;
    int none = 0;
    for (const int signal_number : {SIGTERM, SIGINT}) {
        for (const int delay_ms : {0, 30, 80, 150, 250, 400}) {
            SCOPED_TRACE(std::to_string(signal_number) + " after " + std::to_string(delay_ms) + " ms");
            for (const std::string& command : {std::string("build"), std::string("apply")}) {
                run_options options;
                options.while_running = [&](int pid) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
                    kill(pid, signal_number);
                };
                const run_result stopped =
                    command == "build"
                        ? scene.project({"build", "proj", "game", "out", "--patch", "out/p", "-q", "-j", "1"}, options)
                        : scene.project({"apply", "whole-patches", "game", "out", "-q"}, options);
                const std::map<std::string, bytes> written = tree(dir, "out");
                if (written.empty()) {
                    ++none;
                    EXPECT_FALSE(dir.exists("out/sub")) << "no folder made and left";
                } else {
                    ++whole_sets;
                    std::map<std::string, bytes> expected = whole;
                    if (command == "build") {
                        for (const auto& [name, contents] : patches) expected["p/" + name] = contents;
                    }
                    EXPECT_TRUE(written == expected) << command << ": " << written.size() << " files";
                }
                EXPECT_FALSE(has_temporary(dir));
                fs::remove_all(dir.path() / "out");
            }
        }
    }
    std::printf("signals: %d runs left the whole set, %d nothing\n", whole_sets, none);
    EXPECT_GT(none, 0) << "some signals came before the set was placed";
}

// A run killed outright (SIGKILL, which no program can catch) leaves no
// temporary, half-written or whole: files being written have no name until
// they are complete.
TEST(ProjectSafety, AKilledRunLeavesNoTemporary) {
    if (under_wine())
        GTEST_SKIP() << "signals are POSIX's";
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    if (!scene.edit("proj/sub/intro/intro003.png", scene.intro, "s003.bmp"))
        GTEST_SKIP() << "no PNG writer in this test build";
    int caught_writing = 0;
    for (const std::string& command : {std::string("build"), std::string("unpack")}) {
        for (int round = 0; round < 6; ++round) {
            SCOPED_TRACE(command + " " + std::to_string(round));
            run_options options;
            options.while_running = [&](int pid) {
                const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                while (!writes_unnamed_file(pid) && std::chrono::steady_clock::now() < give_up) {
                }
                caught_writing += writes_unnamed_file(pid) ? 1 : 0;
                std::this_thread::sleep_for(std::chrono::milliseconds(round * 3));
                kill(pid, SIGKILL);
            };
            const run_result killed = command == "build"
                                          ? scene.project({"build", "proj", "game", "out", "-q", "-j", "1"}, options)
                                          : scene.project({"unpack", "game", "proj2", "-q", "-j", "1"}, options);
            if (killed.status != 0) {
                EXPECT_EQ(killed.status, 128 + SIGKILL);
            }
            EXPECT_FALSE(has_temporary(dir));
            fs::remove_all(dir.path() / "out");
            fs::remove_all(dir.path() / "proj2");
        }
    }
    EXPECT_GT(caught_writing, 0) << "some runs were killed while writing";
}

// A manifest that lists a source twice, or two patches for one file:
// refused before anything is written, with -f too.
TEST(ProjectSafety, TwinsAreRefusedBeforeAnythingIsWritten) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    if (!scene.edit("proj/data/panels/panels1.png", scene.panels, "s1.bmp"))
        GTEST_SKIP() << "no PNG writer in this test build";
    ASSERT_EQ(scene.project({"build", "proj", "game", "built", "--patch", "patches", "-q"}).status, 0);
    dir.write("patches/data/panels.bin.BPS", dir.read("patches/data/panels.bin.bps"));
    dir.write("patches/data/four.bin.bps", dir.read("patches/data/panels.bin.bps"));
    const std::vector<std::string> before = everything(dir);
    for (const bool force : {false, true}) {
        const run_result refused =
            scene.project(force ? std::vector<std::string>{"apply", "-f", "patches", "game", "out"}
                                : std::vector<std::string>{"apply", "patches", "game", "out"});
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.errors.find("data/panels.bin.BPS and data/panels.bin.bps are both patches for "
                                      "data/panels.bin: keep one"),
                  std::string::npos)
            << refused.errors;
        expect_untouched(dir, before);
    }
    // The same source twice in the manifest.
    const bytes manifest = dir.read("proj/torv-project.json");
    std::string text(manifest.begin(), manifest.end());
    text.replace(text.find("\"path\": \"data/four.bin\""), 23, "\"path\": \"data/panels.bin\"");
    dir.write("proj/torv-project.json", bytes(text.begin(), text.end()));
    const run_result twice = scene.project({"build", "-f", "proj", "game", "out"});
    EXPECT_EQ(twice.status, 1);
    EXPECT_NE(twice.errors.find("sources 1 and 2 are one game file, \"data/panels.bin\""), std::string::npos)
        << twice.errors;
    expect_untouched(dir, before);
}

// apply holds one patched file and its game file at a time, whatever the
// number of patches: six patches that each make a 64 MiB file take little
// more than one does.
TEST(ProjectSafety, ApplyHoldsOneFileAtATime) {
    if (!memory_is_measurable())
        GTEST_SKIP() << "memory is not measured here";
    scratch_dir dir;
    // A patch written by hand: one byte given, then copied over and over
    // (a target copy may overlap what it writes) into 64 MiB of zeros.
    constexpr std::size_t big = std::size_t{64} << 20;
    const bytes large(big, 0);
    const bytes small = {1, 2, 3};
    bytes actions;
    bps_by_hand::put_number(actions, 0 << 2 | 1);  // target read, 1 byte
    actions.push_back(0);
    bps_by_hand::put_number(actions, (big - 2) << 2 | 3);  // target copy, the rest, from the start
    bps_by_hand::put_number(actions, 0);
    const bytes patch = bps_by_hand::patch_of(small, big, actions, bps_by_hand::crc_of(large));
    std::vector<long> peaks;
    for (const int count : {1, 6}) {
        for (int k = 0; k < count; ++k) {
            dir.write("game" + std::to_string(count) + "/f" + std::to_string(k) + ".bin", small);
            dir.write("patches" + std::to_string(count) + "/f" + std::to_string(k) + ".bin.bps", patch);
        }
        const run_result applied =
            dir.run_project({"apply", "patches" + std::to_string(count), "game" + std::to_string(count),
                             "out" + std::to_string(count), "-q"});
        ASSERT_EQ(applied.status, 0) << applied.errors;
        EXPECT_TRUE(dir.read("out" + std::to_string(count) + "/f0.bin") == large);
        peaks.push_back(applied.peak_rss_kib);
    }
    std::printf("apply: peak %ld KiB with one 64 MiB file, %ld KiB with six\n", peaks[0], peaks[1]);
    EXPECT_LT(peaks[1], peaks[0] + 64 * 1024) << "six files take no more than one and a little";
}

// An image file far larger than its image could be is refused from its
// size, before it is read: status and build never hold it.
TEST(ProjectSafety, AnImageFarLargerThanItsImageIsRefusedUnread) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    const fs::path huge = dir.path() / "proj/sub/intro/intro005.png";
    fs::resize_file(huge, std::uintmax_t{1000} << 20);  // sparse: takes no disk
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"status", "proj"}, std::vector<std::string>{"build", "proj", "game", "out"}}) {
        const run_result result = scene.project(args);
        EXPECT_NE((result.output + result.errors)
                      .find("sub/intro.bin: intro005.png is 1,048,576,000 bytes, far more than an image of 320x224 "
                            "needs"),
                  std::string::npos)
            << result.output << result.errors;
        if (memory_is_measurable()) {
            EXPECT_LT(result.peak_rss_kib, 200 * 1024) << args[0] << " read the file";
        }
    }
    EXPECT_FALSE(dir.exists("out"));
}

// Links are followed nowhere: not to a project image, not in the game folder
// (as unpack never follows one), and a patch that is a link is refused.
TEST(ProjectSafety, LinksAreFollowedNowhere) {
    if (under_wine())
        GTEST_SKIP() << "links are POSIX's";
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    const std::optional<bytes> png = edited_png(scene.four, "s2.bmp");
    if (!png)
        GTEST_SKIP() << "no PNG writer in this test build";
    dir.write("secret.png", *png);
    fs::remove(dir.path() / "proj/data/four/four2.png");
    fs::create_symlink(dir.path() / "secret.png", dir.path() / "proj/data/four/four2.png");
    run_result result = scene.project({"build", "proj", "game", "out"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("data/four.bin: four2.png is a link, which torv-project does not follow"),
              std::string::npos)
        << result.errors;
    fs::remove(dir.path() / "proj/data/four/four2.png");
    dir.write("proj/data/four/four2.png", *png);

    // The game's data folder a link to a copy of it: status and build refuse it.
    fs::rename(dir.path() / "game/data", dir.path() / "real-data");
    fs::create_directory_symlink(dir.path() / "real-data", dir.path() / "game/data");
    result = scene.project({"status", "proj", "game"});
    EXPECT_NE(result.output.find("data/four.bin is not in game as a plain file (cannot open "), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("data is a link, which torv-project does not follow"), std::string::npos);
    result = scene.project({"build", "proj", "game", "out"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("data is a link, which torv-project does not follow"), std::string::npos)
        << result.errors;
    EXPECT_FALSE(dir.exists("out"));
    fs::remove(dir.path() / "game/data");
    fs::rename(dir.path() / "real-data", dir.path() / "game/data");

    // A patch that is a link, and one that names a folder.
    ASSERT_EQ(scene.project({"build", "proj", "game", "built", "--patch", "patches", "-q"}).status, 0);
    fs::create_symlink(dir.path() / "patches/data/four.bin.bps", dir.path() / "patches/linked.bin.bps");
    dir.write("patches/sub.bps", dir.read("patches/data/four.bin.bps"));
    result = scene.project({"apply", "patches", "game", "applied"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("linked.bin.bps is a link, which apply does not follow"), std::string::npos)
        << result.errors;
    fs::remove(dir.path() / "patches/linked.bin.bps");
    result = scene.project({"apply", "patches", "game", "applied"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("sub.bps: its game file sub is not in game as a plain file (cannot open "),
              std::string::npos)
        << result.errors;
    EXPECT_NE(result.errors.find("it is a folder"), std::string::npos) << result.errors;
    EXPECT_FALSE(dir.exists("applied"));
}

}  // namespace
}  // namespace torv::test
