// The command line, the names and the exit statuses, seen from outside.
#include <gtest/gtest.h>

#include "harness.h"
#include "samples.h"

namespace torv::test {
namespace {

constexpr std::size_t raw_triple_size = 923'136;

bytes raw_triple() {
    return samples::make_raw_triple();
}

TEST(Driver, TooFewArgumentsPrintUsage) {
    scratch_dir dir;
    dir.write("pic.bin", raw_triple());
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"pic.dat"}}) {
        const run_result result = dir.run(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output, "torv filename outdrive\n");
    }
    EXPECT_EQ(dir.files(), std::vector<std::string>{"pic.bin"});
}

TEST(Driver, MissingInputNamesTheDerivedFile) {
    scratch_dir dir;
    const run_result result = dir.run({"nothere.old.dat", drive_letter()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "file open error.[nothere.bin]\n");
    EXPECT_TRUE(dir.files().empty());
}

TEST(Driver, AFolderIsNoInputFile) {
    scratch_dir dir;
    std::filesystem::create_directory(dir.path() / "pic.bin");
    const run_result result = dir.run({"pic", drive_letter()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "file open error.[pic.bin]\n");
}

TEST(Driver, UnknownSizesAreLeftAloneQuietly) {
    for (const std::size_t size :
         {std::size_t{0}, raw_triple_size - 1, raw_triple_size + 1, std::size_t{9'486'335}, std::size_t{9'486'337}}) {
        SCOPED_TRACE(size);
        scratch_dir dir;
        dir.write("pic.bin", bytes(size, 0x11));
        const run_result result = dir.run({"pic", drive_letter()});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(dir.files(), std::vector<std::string>{"pic.bin"});
    }
}

TEST(Driver, ReadsTheBinFileWhateverTheExtensionAndIgnoresExtraArguments) {
    scratch_dir dir;
    dir.write("pics.bin", raw_triple());
    dir.write("pics.old.dat", bytes(10, 0));  // never read
    const run_result result = dir.run({"pics.old.dat", drive_letter(), "extra", "more"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");
    for (const char* name : {"pics0.bmp", "pics1.bmp", "pics2.bmp"}) {
        EXPECT_TRUE(dir.exists(out_name(name))) << name;
    }
}

TEST(Driver, BaseNameIsTakenAfterTheLastBackslash) {
    scratch_dir dir;
    dir.write("a\\b\\c.bin", raw_triple());
    ASSERT_EQ(dir.run({"a\\b\\c.dat", drive_letter()}).status, 0);
    EXPECT_TRUE(dir.exists(out_name("c0.bmp")));
    EXPECT_TRUE(dir.exists(out_name("c2.bmp")));
}

TEST(Driver, FirstDotInAFolderNameCutsThePath) {
    scratch_dir dir;
    dir.write("dir.bin", raw_triple());
    ASSERT_EQ(dir.run({"dir.old\\pic.dat", drive_letter()}).status, 0);
    EXPECT_TRUE(dir.exists(out_name("dir1.bmp")));
}

TEST(Driver, OnlyTheFirstByteOfTheDriveCounts) {
    scratch_dir dir;
    dir.write("pic.bin", raw_triple());
    ASSERT_EQ(dir.run({"pic", drive_letter() + ":\\out\\"}).status, 0);
    EXPECT_TRUE(dir.exists(out_name("pic0.bmp")));
    EXPECT_FALSE(dir.exists(out_name("\\out\\pic0.bmp")));
}

TEST(Driver, EmptyDriveLeavesTheBaseNameAlone) {
    scratch_dir dir;
    dir.write("pic.bin", raw_triple());
    ASSERT_EQ(dir.run({"pic", ""}).status, 0);
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"pic.bin", "pic0.bmp", "pic1.bmp", "pic2.bmp"}));
}

TEST(Driver, LeadingDotGivesAnEmptyBaseName) {
    scratch_dir dir;
    dir.write(".bin", raw_triple());
    ASSERT_EQ(dir.run({".\\pics\\a.dat", drive_letter()}).status, 0);
    EXPECT_TRUE(dir.exists(out_name("0.bmp")));
    EXPECT_TRUE(dir.exists(out_name("2.bmp")));
}

TEST(Driver, SlashIsPartOfTheBaseName) {
    // The prefix is e:sub/pic: on Linux the folder "e:sub", under Wine the
    // folder sub of the drive's current folder.
    scratch_dir dir;
    dir.write("sub/pic.bin", raw_triple());
    std::filesystem::create_directories(dir.host_path(out_name("sub")));
    ASSERT_EQ(dir.run({"sub/pic.dat", drive_letter()}).status, 0);
    EXPECT_TRUE(dir.exists(out_name("sub/pic0.bmp")));
}

TEST(Driver, LongNamesWork) {
    scratch_dir dir;
    // A path of well over 1,184 characters and a base name of 150. On Linux
    // the backslash is part of a file name, so the folders are joined with
    // '/' and only the last one with a backslash.
    std::string folder;
    for (int k = 0; k < 30; ++k) {
        folder += std::string(48, static_cast<char>('a' + k % 26)) + (k < 29 ? "/" : "\\");
    }
    const std::string base(150, 'p');
    if (under_wine()) {
        folder = "deep\\";  // Windows paths stop at 260 characters
    }
    dir.write(folder + base + ".bin", raw_triple());
    const run_result result = dir.run({folder + base, drive_letter()});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_TRUE(dir.exists(out_name(base + "1.bmp")));
}

TEST(Driver, ExistingOutputsAreReplaced) {
    scratch_dir dir;
    dir.write("pic.bin", raw_triple());
    dir.write(out_name("pic0.bmp"), bytes(400'000, 0xEE));
    ASSERT_EQ(dir.run({"pic", drive_letter()}).status, 0);
    EXPECT_EQ(dir.read(out_name("pic0.bmp")).size(), 308'278u);
}

TEST(Driver, OutputThatCannotBeCreatedStopsTheRun) {
    scratch_dir dir;
    // On Linux the prefix q:sub/ names a folder that does not exist; under
    // Wine there is no drive Q: at all.
    const std::string input = under_wine() ? "pic" : "sub/pic";
    dir.write(input + ".bin", raw_triple());
    const run_result result = dir.run({input, "q"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "file create errror.[q:" + input + "0.bmp]\n");
}

TEST(Driver, FailedWriteIsReportedAndTheFileRemoved) {
    if (under_wine()) {
        GTEST_SKIP() << "file size limits are a POSIX facility";
    }
    scratch_dir dir;
    dir.write("pic.bin", raw_triple());
    run_options limited;
    limited.file_size_limit = 200'000;  // less than one 640x480 BMP, more than the input reads need
    const run_result result = dir.run({"pic", "e"}, limited);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "file write error.[e:pic0.bmp]\n");
    EXPECT_FALSE(dir.exists("e:pic0.bmp"));
    EXPECT_FALSE(dir.exists("e:pic1.bmp"));

    // A BMP of that name from before stays as it was, and a link at an
    // output's name is replaced, never written through; no temporary stays.
    dir.write("e:pic0.bmp", {1, 2, 3});
    dir.write("keep.txt", {4, 5, 6});
    std::filesystem::create_symlink("keep.txt", dir.path() / "e:pic1.bmp");
    EXPECT_EQ(dir.run({"pic", "e"}, limited).status, 1);
    EXPECT_TRUE(dir.read("e:pic0.bmp") == (bytes{1, 2, 3}));
    EXPECT_EQ(dir.run({"pic", "e"}).status, 0);
    EXPECT_TRUE(dir.read("keep.txt") == (bytes{4, 5, 6}));
    EXPECT_FALSE(std::filesystem::is_symlink(std::filesystem::symlink_status(dir.path() / "e:pic1.bmp")));
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"e:pic0.bmp", "e:pic1.bmp", "e:pic2.bmp", "keep.txt", "pic.bin"}));
}

}  // namespace
}  // namespace torv::test
