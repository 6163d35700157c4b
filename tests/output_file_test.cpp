// Files read and written whole: a temporary file never follows or reuses an
// entry that is there; its name is never longer than a long final name;
// bytes already in place are left alone, but links are replaced; only plain
// files are read, never waited for, and a file that changes while read is
// refused. Files put in place together are all placed or all taken back,
// never through a link, and stale temporaries of gone processes are removed.
#include "io/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>

#include "io/file_set.h"
#include "io/interrupt.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "io/input.h"

namespace torv {
namespace {

namespace fs = std::filesystem;

struct scratch {
    fs::path dir = fs::temp_directory_path() / ("torv-out-" + std::to_string(std::random_device{}()));
    scratch() { fs::create_directories(dir); }
    ~scratch() { fs::remove_all(dir); }
};

TEST(OutputFile, ALinkPlantedAtATemporaryNameIsNeverFollowed) {
    scratch at;
    const fs::path& dir = at.dir;
    std::ofstream(dir / "victim.bin") << "precious";
    std::error_code can_link;
    fs::create_symlink(dir / "victim.bin", dir / "planted.tmp", can_link);
    if (can_link) {
        GTEST_SKIP() << "no symbolic links here";
    }
    fs::create_symlink(dir / "nowhere.bin", dir / "dangling.tmp");

    for (const char* name : {"planted.tmp", "dangling.tmp"}) {
        errno = 0;
        EXPECT_EQ(create_new_file((dir / name).string()), -1) << name;
        EXPECT_EQ(errno, EEXIST) << name;
    }
    EXPECT_EQ(fs::file_size(dir / "victim.bin"), 8u);
    EXPECT_FALSE(fs::exists(dir / "nowhere.bin"));
}

#ifndef _WIN32
// POSIX's: inodes, links, FIFOs, devices and /proc.

std::string contents_of(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

result<> write_text(const fs::path& file, const std::string& text) {
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    const std::span<const std::uint8_t> parts[] = {bytes.first(2), bytes.subspan(2)};
    return write_whole_file(file.string(), parts, existing_entry::replace);
}

// The same bytes again: the file stays (its inode too). Other bytes, a link
// or a second hard link at the name: replaced, the link's target untouched.
TEST(OutputFile, BytesAlreadyThereStayAndEverythingElseIsReplaced) {
    scratch at;
    const fs::path file = at.dir / "a.bmp";
    ASSERT_TRUE(write_text(file, "image one"));
    const auto inode = [](const fs::path& path) {
        struct stat status {};
        return lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
    };
    const auto first = inode(file);
    ASSERT_TRUE(write_text(file, "image one"));
    EXPECT_EQ(inode(file), first);
    ASSERT_TRUE(write_text(file, "image two"));
    EXPECT_NE(inode(file), first);
    EXPECT_EQ(contents_of(file), "image two");

    std::ofstream(at.dir / "target.bmp") << "image two";
    fs::remove(file);
    fs::create_symlink(at.dir / "target.bmp", file);
    ASSERT_TRUE(write_text(file, "image two"));
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(file)));
    fs::remove(file);
    fs::create_hard_link(at.dir / "target.bmp", file);
    ASSERT_TRUE(write_text(file, "image two"));
    EXPECT_NE(inode(file), inode(at.dir / "target.bmp"));
    std::ofstream(at.dir / "target.bmp", std::ios::app) << " changed";
    EXPECT_EQ(contents_of(file), "image two");
}

// A short file name in a folder whose name is a little below the longest
// the system takes: its temporary must be no longer than it.
TEST(OutputFile, ALongNameGetsATemporaryNoLonger) {
    scratch at;
    constexpr std::size_t folder_length = 4085;  // and "/x.bin": 4,091 bytes in all
    fs::path deep = at.dir;
    while (deep.string().size() + 101 < folder_length) {
        deep /= std::string(100, 'd');
    }
    deep /= std::string(folder_length - deep.string().size() - 1, 'e');
    fs::create_directories(deep);
    const fs::path file = deep / "x.bin";
    ASSERT_EQ(file.string().size(), 4091u);
    output_file out;
    ASSERT_TRUE(begin_output(out, file.string(), existing_entry::refuse));
    EXPECT_LE(out.temp_name.size(), file.string().size());
    ASSERT_TRUE(finish_output(out));
    EXPECT_TRUE(fs::exists(file));
}

std::vector<std::string> everything_below(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        found.push_back(entry.path().lexically_relative(dir).generic_string());
    std::sort(found.begin(), found.end());
    return found;
}

result<> stage_text(file_set& set, const fs::path& folder, const std::string& relative, const std::string& text) {
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    const std::span<const std::uint8_t> parts[] = {bytes};
    return stage_file(set, folder.string(), relative, parts);
}

// Files put in place together: when one cannot be (another took its name
// meanwhile), those placed before it are taken back (a new one removed, a
// replaced one given its old contents again) with the folders made for
// them, and no temporary is left.
TEST(FileSet, ASetIsPlacedWholeOrTakenBack) {
    scratch at;
    const fs::path out = at.dir / "out";
    {
        file_set set;
        ASSERT_TRUE(stage_text(set, out, "a/one.bin", "one"));
        ASSERT_TRUE(stage_text(set, out, "a/b/two.bin", "two"));
        ASSERT_TRUE(stage_text(set, out, "three.bin", "three"));
        EXPECT_FALSE(fs::exists(out)) << "nothing made before the set is placed";
        fs::create_directories(out);
        std::ofstream(out / "three.bin") << "a racer's";
        const result<> placed = place_files(set);
        ASSERT_FALSE(placed);
        EXPECT_NE(placed.error().words.find("2 files put in place before it were taken back"), std::string::npos)
            << placed.error().words;
    }
    EXPECT_EQ(everything_below(at.dir), (std::vector<std::string>{"out", "out/three.bin"}));
    EXPECT_EQ(contents_of(out / "three.bin"), "a racer's");

    std::ofstream(out / "one.bin") << "old one";
    {
        file_set set;
        set.existing = existing_entry::replace;
        ASSERT_TRUE(stage_text(set, out, "one.bin", "new one"));
        ASSERT_TRUE(stage_text(set, out, "c/two.bin", "new two"));
        ASSERT_TRUE(stage_text(set, out, "four.bin", "new four"));
        fs::create_directories(out / "four.bin");  // a folder took its name meanwhile
        const result<> placed = place_files(set);
        ASSERT_FALSE(placed);
        EXPECT_NE(placed.error().words.find("(1 replaced file given its old contents again)"), std::string::npos)
            << placed.error().words;
    }
    EXPECT_EQ(contents_of(out / "one.bin"), "old one");
    EXPECT_EQ(everything_below(at.dir),
              (std::vector<std::string>{"out", "out/four.bin", "out/one.bin", "out/three.bin"}));
    {
        file_set set;
        set.existing = existing_entry::replace;
        fs::remove(out / "four.bin");
        ASSERT_TRUE(stage_text(set, out, "one.bin", "new one"));
        ASSERT_TRUE(stage_text(set, out, "c/two.bin", "new two"));
        ASSERT_TRUE(place_files(set));
    }
    EXPECT_EQ(contents_of(out / "one.bin"), "new one");
    EXPECT_EQ(contents_of(out / "c/two.bin"), "new two");
    EXPECT_EQ(everything_below(at.dir),
              (std::vector<std::string>{"out", "out/c", "out/c/two.bin", "out/one.bin", "out/three.bin"}));
}

// No way through a link, and nothing but a folder on the way: refused
// before anything is made.
TEST(FileSet, NoDestinationIsReachedThroughALinkOrAFile) {
    scratch at;
    fs::create_directories(at.dir / "elsewhere/empty");
    fs::create_directories(at.dir / "out");
    fs::create_directory_symlink(at.dir / "elsewhere/empty", at.dir / "out/data");
    std::ofstream(at.dir / "out/file") << "x";
    const std::string out = (at.dir / "out").string();
    const result<> linked = check_destination(out, "data/sub/four.bin", existing_entry::replace);
    ASSERT_FALSE(linked);
    EXPECT_NE(linked.error().words.find("/out/data is a link, and nothing is written through one"), std::string::npos)
        << linked.error().words;
    const result<> filed = check_destination(out, "file/four.bin", existing_entry::replace);
    ASSERT_FALSE(filed);
    EXPECT_NE(filed.error().words.find("/out/file is a file, not a folder"), std::string::npos) << filed.error().words;
    EXPECT_EQ(check_destination(out, "file", existing_entry::refuse).error().code, code::exists);
    EXPECT_TRUE(check_destination(out, "file", existing_entry::replace));
    EXPECT_TRUE(check_destination(out, "new/deeper/four.bin", existing_entry::refuse));
    EXPECT_TRUE(check_destination((at.dir / "not/yet").string(), "four.bin", existing_entry::refuse));
    EXPECT_FALSE(check_destination((at.dir / "out/file/below").string(), "four.bin", existing_entry::refuse));
    EXPECT_TRUE(fs::is_empty(at.dir / "elsewhere/empty"));
}

// A temporary of ours that a process which is gone left behind is removed
// when a run next writes into its folder; one of a process still running,
// and any file not named as ours, stay.
TEST(FileSet, StaleTemporariesOfGoneProcessesAreRemoved) {
    scratch at;
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    const std::string gone = ".tv0123abcd-" + std::to_string(child) + ".tmp";
    const std::string running = ".tv0123abcd-" + std::to_string(getpid()) + ".tmp";
    for (const std::string& name :
         {gone, running, std::string(".tv0123abcd.tmp"), std::string("mine.tmp"), std::string(".tv0123abcX-1.tmp")}) {
        std::ofstream(at.dir / name) << "x";
    }
    unsigned long process = 0;
    EXPECT_TRUE(is_temporary_name(gone, &process));
    EXPECT_EQ(process, static_cast<unsigned long>(child));
    const result<> written = write_text(at.dir / "a.bin", "one");
    ASSERT_TRUE(written) << written.error().words;
    EXPECT_FALSE(fs::exists(at.dir / gone));
    EXPECT_TRUE(fs::exists(at.dir / running));
    EXPECT_EQ(everything_below(at.dir).size(), 5u);
}

// Room on the disk is asked of the system before anything is written:
// more than any disk has is refused, saying both figures.
TEST(FileSet, RoomOnTheDiskIsCheckedWhereTheSystemTells) {
    scratch at;
    EXPECT_TRUE(check_room((at.dir / "not/yet").string(), 1 << 20));
    const result<> refused = check_room((at.dir / "not/yet").string(), std::uint64_t{1} << 62);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, code::cannot_write);
    EXPECT_NE(refused.error().words.find(" are to be written"), std::string::npos) << refused.error().words;
    EXPECT_EQ(refused.error().needed, std::int64_t{1} << 62);
    EXPECT_GT(refused.error().room, 0);
    EXPECT_FALSE(fs::exists(at.dir / "not"));
}

// A signal that comes while a set of files is put in place waits until the
// whole set is: never part of it, whenever it comes.
TEST(FileSet, ASignalWhilePlacingWaitsForTheWholeSet) {
    constexpr int files = 300;
    scratch at;
    const fs::path out = at.dir / "out";
    const pid_t child = fork();
    if (child == 0) {
        install_interrupt_cleanup();
        file_set set;
        for (int k = 0; k < files; ++k) {
            std::string name = "f";  // built in steps: g++ 12 sees a false overlap in "f" + ...
            name += std::to_string(k);
            name += ".bin";
            if (!stage_text(set, out, name, name))
                _exit(3);
        }
        _exit(place_files(set) ? 0 : 4);
    }
    // The signal goes as soon as the first file is in place.
    std::error_code failed;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (fs::exists(out / "f0.bin", failed)) {
            kill(child, SIGTERM);
            waitpid(child, &status, 0);
            break;
        }
    }
    EXPECT_TRUE(WIFSIGNALED(status) ? WTERMSIG(status) == SIGTERM : WEXITSTATUS(status) == 0) << status;
    std::size_t placed = 0;
    for (const auto& entry : fs::directory_iterator(out, failed)) placed += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(placed, static_cast<std::size_t>(files)) << "the whole set, or it would have been none";
    for (const auto& entry : fs::directory_iterator(at.dir)) {
        EXPECT_FALSE(entry.path().filename().string().ends_with(".tmp")) << entry.path();
    }
}

// An interruption while interrupts are held waits: the run goes on until
// they are released, then ends as the signal says.
TEST(Interrupt, ASignalWhileHeldWaitsForTheRelease) {
    scratch at;
    const fs::path went_on = at.dir / "went-on";
    const pid_t child = fork();
    if (child == 0) {
        install_interrupt_cleanup();
        hold_interrupts();
        raise(SIGTERM);
        std::ofstream(went_on) << "held";
        release_interrupts();
        _exit(0);  // never reached: the release ends the run
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(fs::exists(went_on)) << "the signal waited for the release";
}

TEST(Input, OnlyPlainFilesAreReadAndNeverWaitedFor) {
    scratch at;
    const result<input_stream> folder = open_input(at.dir.string());
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().code, code::not_a_file);
    EXPECT_EQ(folder.error().reason, "it is a folder");
    const result<input_stream> device = open_input("/dev/zero");
    ASSERT_FALSE(device);
    EXPECT_EQ(device.error().code, code::not_a_file);
    ASSERT_EQ(mkfifo((at.dir / "fifo.bin").c_str(), 0600), 0);
    const result<whole_file> fifo = read_whole_file((at.dir / "fifo.bin").string(), 1 << 20);  // no writer: no wait
    ASSERT_FALSE(fifo);
    EXPECT_EQ(fifo.error().code, code::not_a_file);
    const result<input_stream> missing = open_input((at.dir / "gone.bin").string());
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, code::cannot_open);
    EXPECT_EQ(missing.error().reason, "No such file or directory");
}

// A file the system calls plain and empty that gives bytes when read (as
// /proc's do): it grew while it was read.
TEST(Input, AFileThatGrowsWhileReadIsRefused) {
    if (!fs::exists("/proc/self/status")) {
        GTEST_SKIP() << "no /proc here";
    }
    const result<whole_file> grown = read_whole_file("/proc/self/status", 1 << 20);
    ASSERT_FALSE(grown);
    EXPECT_EQ(grown.error().code, code::changed_while_read);
    EXPECT_EQ(grown.error().reason, "it grew while it was read (it had 0 bytes when opened)");
}

#endif

}  // namespace
}  // namespace torv
