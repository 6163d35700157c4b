// The output path under attack: links and other entries at the output's
// name, outputs that appear during the run, runs side by side, signals, size
// and memory limits. After each: the original as it was, no output unless
// the run succeeded, nothing replaced without -f, and no temporary left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "harness.h"
#include "samples.h"

namespace torv::test {
namespace {

namespace fs = std::filesystem;

// Every entry of the folder (links, FIFOs and all), by name, with what it is.
std::vector<std::string> listing(const scratch_dir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        const fs::file_status status = entry.symlink_status();
        names.push_back(entry.path().filename().string() + (fs::is_symlink(status) ? " (link)" : "") +
                        (fs::is_fifo(status) ? " (fifo)" : ""));
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct packing_scene {
    scratch_dir dir;
    bytes original = samples::make_frame_sequence(60);

    packing_scene() {
        dir.write("intro.bin", original);
        const run_result converted = dir.run({"intro.bin", ""});
        EXPECT_EQ(converted.status, 0) << converted.output;
    }
    void expect_untouched(const std::vector<std::string>& before) const {
        EXPECT_TRUE(dir.read("intro.bin") == original);
        EXPECT_EQ(listing(dir), before);
    }
};

TEST(PackOutput, NothingIsReplacedWithoutForceAndNothingIsLeftBehind) {
    if (under_wine()) {
        GTEST_SKIP() << "links, FIFOs and size limits are POSIX's";
    }
    packing_scene scene;
    const scratch_dir& dir = scene.dir;
    const fs::path at = dir.path();
    fs::create_symlink("intro.bin", at / "link.bin");
    fs::create_symlink("nowhere.bin", at / "dangling.bin");
    ASSERT_EQ(mkfifo((at / "fifo.bin").c_str(), 0644), 0);
    dir.write("taken.bin", {1, 2, 3});
    chmod((at / "taken.bin").c_str(), 0640);
    const std::vector<std::string> before = listing(dir);

    // Any entry of the output's name is refused, and left as it is.
    for (const char* name : {"link.bin", "dangling.bin", "fifo.bin", "taken.bin"}) {
        SCOPED_TRACE(name);
        const run_result refused = dir.run_pack({"intro.bin", "", "-o", name});
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.errors.find(std::string(name) + " exists (-f replaces it)"), std::string::npos)
            << refused.errors;
        scene.expect_untouched(before);
    }

    // A file-size limit: the write fails and says so.
    run_options limited;
    limited.file_size_limit = 100'000;
    const run_result too_large = dir.run_pack({"intro.bin", "", "-o", "new.bin"}, limited);
    EXPECT_EQ(too_large.status, 1);
    EXPECT_NE(too_large.errors.find("cannot write new.bin: File too large"), std::string::npos) << too_large.errors;
    scene.expect_untouched(before);

    // Two runs onto one name: one writes it, the other refuses, whichever
    // comes second, even when both started before the name was taken.
    auto pack_new = [&] { return dir.run_pack({"intro.bin", "", "--no-like", "-j", "1", "-o", "new.bin"}); };
    std::future<run_result> first = std::async(std::launch::async, pack_new);
    const run_result second = pack_new();
    const run_result one = first.get();
    EXPECT_EQ(one.status + second.status, 1) << one.errors << second.errors;
    EXPECT_NE((one.errors + second.errors).find("new.bin exists"), std::string::npos);
    const bytes packed = dir.read("new.bin");
    EXPECT_EQ(packed.size(), scene.original.size());
    fs::remove(at / "new.bin");
    scene.expect_untouched(before);

    // The longest name a folder takes is a name like any other.
    const std::string longest = std::string(251, 'n') + ".bin";
    const run_result long_name = dir.run_pack({"intro.bin", "", "-o", longest});
    EXPECT_EQ(long_name.status, 0) << long_name.errors;
    EXPECT_TRUE(dir.read(longest) == scene.original);
    fs::remove(at / longest);
    scene.expect_untouched(before);
    // With -f: a link is replaced, not written through; a file keeps its
    // permissions.
    for (const char* name : {"link.bin", "taken.bin"}) {
        const run_result forced = dir.run_pack({"intro.bin", "", "-f", "-o", name});
        EXPECT_EQ(forced.status, 0) << forced.errors;
        EXPECT_TRUE(dir.read(name) == scene.original);
    }
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(at / "link.bin")));
    EXPECT_EQ(fs::status(at / "taken.bin").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_TRUE(dir.read("intro.bin") == scene.original);
}

// What is no plain file is refused at once, with its kind, never waited for
// or read as empty: a FIFO as the original or as torv's source, a folder, a
// device.
TEST(PackOutput, WhatIsNoPlainFileIsRefusedAtOnce) {
    if (under_wine()) {
        GTEST_SKIP() << "FIFOs and devices are POSIX's";
    }
    packing_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_EQ(mkfifo((dir.path() / "fifo.bin").c_str(), 0644), 0);
    const std::vector<std::string> before = listing(dir);
    const std::pair<std::string, std::string> originals[] = {
        {"fifo.bin", "cannot open the original fifo.bin: it is a FIFO, not a plain file"},
        {".", "cannot open the original .: it is a folder"},
        {"/dev/zero", "cannot open the original /dev/zero: it is a device, not a plain file"},
    };
    for (const auto& [like, says] : originals) {
        SCOPED_TRACE(like);
        const run_result refused = dir.run_pack({"intro.bin", "", "--like", like, "-o", "new.bin"});
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.errors, "torv-pack: " + says + "\n");
        scene.expect_untouched(before);
    }
    const run_result converted = dir.run({"fifo.dat", ""});
    EXPECT_EQ(converted.status, 1);
    EXPECT_EQ(converted.output, "file open error.[fifo.bin]\n");
}

// Packing where no original is found, by mistake as a rule: said even with
// -q, with where it looked and what to do.
TEST(PackOutput, NoOriginalFoundIsSaidEvenQuietly) {
    packing_scene scene;
    fs::rename(scene.dir.path() / "intro.bin", scene.dir.path() / "kept.bin");
    const run_result packed = scene.dir.run_pack({"intro.dat", "", "-q", "-o", "new.bin"});
    EXPECT_EQ(packed.status, 0) << packed.errors;
    EXPECT_NE(packed.errors.find("torv-pack: note: no original: intro.bin is not there"), std::string::npos)
        << packed.errors;
    EXPECT_NE(packed.errors.find("--like FILE names the original"), std::string::npos) << packed.errors;
    EXPECT_EQ(scene.dir.run_pack({"intro.dat", "", "-q", "--no-like", "-o", "other.bin"}).errors, "");
}

// The original cut short while a run is under way: the run packs what it
// held when read, or refuses; never a mixture.
TEST(PackOutput, AnOriginalChangingDuringTheRunIsReadAsItWasOrRefused) {
    packing_scene scene;
    const run_result before = scene.dir.run_pack({"intro.bin", "", "-o", "whole.bin", "-j", "1"});
    ASSERT_EQ(before.status, 0) << before.errors;
    const bytes whole = scene.dir.read("whole.bin");
    for (const int delay_ms : {0, 1, 5, 30}) {
        SCOPED_TRACE(delay_ms);
        scene.dir.write("like.bin", scene.original);
        run_options options;
        options.while_running = [&](int) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
            fs::resize_file(scene.dir.path() / "like.bin", scene.original.size() / 2);
        };
        const run_result packed =
            scene.dir.run_pack({"intro.bin", "", "--like", "like.bin", "-j", "1", "-o", "new.bin"}, options);
        if (packed.status == 0) {
            EXPECT_TRUE(scene.dir.read("new.bin") == whole);
        } else {
            EXPECT_EQ(packed.status, 1);
            EXPECT_FALSE(scene.dir.exists("new.bin"));
        }
        fs::remove(scene.dir.path() / "new.bin");
    }
}

// Signals while the temporary file is there: it goes, and the run ends as
// the signal ends it. Under Wine, SIGINT arrives as the console's Ctrl+C.
TEST(PackOutput, AnInterruptedRunLeavesNothingBehind) {
    packing_scene scene;
    const scratch_dir& dir = scene.dir;
    const std::vector<std::string> before = listing(dir);
    const std::vector<int> signals =
        under_wine() ? std::vector<int>{SIGINT} : std::vector<int>{SIGTERM, SIGINT, SIGHUP};
    for (const int signal_number : signals) {
        SCOPED_TRACE(signal_number);
        run_options options;
        options.while_running = [&](int pid) {
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (listing(dir).size() == before.size() && !writes_unnamed_file(pid) &&
                   std::chrono::steady_clock::now() < give_up) {
            }
            kill(pid, signal_number);
        };
        const run_result stopped = dir.run_pack({"intro.bin", "", "--no-like", "-j", "1", "-o", "new.bin"}, options);
        if (!under_wine()) {
            EXPECT_EQ(stopped.status, 128 + signal_number) << stopped.errors;
        }
        EXPECT_NE(stopped.status, 0);
        scene.expect_untouched(before);
    }
}

// Under any memory limit both programs finish, or say they ran out of
// memory and leave nothing half done: never an abort.
TEST(PackOutput, RunningOutOfMemoryIsReportedAndCleanedUp) {
#ifdef TORV_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit here";
#endif
    if (under_wine()) {
        GTEST_SKIP() << "limits are POSIX's";
    }
    packing_scene scene;
    const std::vector<std::string> before = listing(scene.dir);
    constexpr int loader_failed = 127;  // too little even to start
    bool torv_said_so = false;
    bool pack_said_so = false;
    auto limited_to = [](std::uint64_t kib) {
        run_options limited;
        limited.memory_limit = kib * 1024;
        return limited;
    };
    scratch_dir out;
    out.write("picture.bin", samples::make_single_picture_block());
    for (std::uint64_t kib = 4000; kib <= 9000; kib += 250) {
        SCOPED_TRACE(kib);
        const run_result converted = out.run({"picture.bin", ""}, limited_to(kib));
        EXPECT_TRUE(converted.status == 0 || converted.status == loader_failed ||
                    (converted.status == 1 && converted.output == "insufficient memory!\n"))
            << converted.status << " " << converted.output;
        torv_said_so |= converted.status == 1;
        EXPECT_EQ(out.files().size(), converted.status == 0 ? 2u : 1u);  // the BMP whole, or none
        fs::remove(out.path() / "picture.bmp");
    }
    for (std::uint64_t kib = 8000; kib <= 24000; kib += 1000) {
        SCOPED_TRACE(kib);
        const run_result packed = scene.dir.run_pack({"intro.bin", "", "-j", "2", "-o", "new.bin"}, limited_to(kib));
        if (packed.status == 0) {
            EXPECT_TRUE(scene.dir.read("new.bin") == scene.original);
            fs::remove(scene.dir.path() / "new.bin");
        } else if (packed.status != loader_failed) {
            EXPECT_EQ(packed.status, 1);
            EXPECT_EQ(packed.errors, "torv-pack: out of memory\n");
            pack_said_so = true;
        }
        scene.expect_untouched(before);
    }
    EXPECT_TRUE(torv_said_so);
    EXPECT_TRUE(pack_said_so);
}

}  // namespace
}  // namespace torv::test
