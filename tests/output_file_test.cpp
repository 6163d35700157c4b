// Creating a temporary file never follows or reuses an entry that is there:
// a link planted at its name, pointing at someone's file, fails the creation
// and leaves that file as it was.
#include "io/output_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>

namespace torv {
namespace {

namespace fs = std::filesystem;

TEST(OutputFile, ALinkPlantedAtATemporaryNameIsNeverFollowed) {
    const fs::path dir = fs::temp_directory_path() / ("torv-out-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    std::ofstream(dir / "victim.bin") << "precious";
    std::error_code can_link;
    fs::create_symlink(dir / "victim.bin", dir / "planted.tmp", can_link);
    if (can_link) {
        fs::remove_all(dir);
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
    fs::remove_all(dir);
}

}  // namespace
}  // namespace torv
