// Zips from the tools people use: Info-ZIP (zip64 forced), 7-Zip, bsdtar,
// Python (names with backslashes, and 100,001 files, which needs zip64), all
// read alike; what no reader here takes (Deflate64, bzip2, a password) is
// refused naming the file, the way and what to do. An archive this library
// writes of 70,000 files, handed out piece by piece, reads back whole.
#include "libtorv/zip.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace libtorv {
namespace {

using bytes = std::vector<std::uint8_t>;

bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bytes fixture(const std::string& name) {
    return read_file(std::string(TORV_TEST_DATA) + "/zips/" + name);
}

constexpr std::uint64_t most = 1 << 20;

// The two files every fixture holds, as the tools were given them.
void expect_the_two_files(const std::string& zip_name, bool both = true) {
    SCOPED_TRACE(zip_name);
    const result<std::vector<zip_entry>> read = read_zip(fixture(zip_name), most);
    ASSERT_TRUE(read.ok()) << read.error().words;
    std::map<std::string, bytes> files;
    for (const zip_entry& entry : *read) files[entry.name] = entry.contents;
    ASSERT_EQ(files.size(), both ? 2U : 1U);
    const bytes& words = files["data/words.txt"];
    ASSERT_EQ(words.size(), 40U * 53U);
    EXPECT_EQ(std::string(words.begin(), words.begin() + 53), "plain text, stored or deflated as each tool likes it\n");
    if (both) {
        EXPECT_EQ(files["data/noise.bin"].size(), 3000U);
    }
}

TEST(Zip, ArchivesOfOtherToolsReadAlike) {
    expect_the_two_files("infozip-zip64.zip");  // zip -fz: zip64 fields though nothing needs them
    expect_the_two_files("7zip.zip");
    expect_the_two_files("bsdtar.zip");            // sizes after the data
    expect_the_two_files("python-backslash.zip");  // data\words.txt read as data/words.txt
}

TEST(Zip, WaysNotReadAreNamedWithWhatToDo) {
    const struct {
        const char* zip;
        const char* words;
    } cases[] = {
        {"7zip-deflate64.zip",
         "data/words.txt is packed with Deflate64, which torv does not read: zip it again with Deflate"},
        {"7zip-bzip2.zip", "data/words.txt is packed with bzip2, which torv does not read"},
        {"infozip-encrypted.zip", "data/words.txt is encrypted: zip it again without a password"},
    };
    for (const auto& each : cases) {
        const result<std::vector<zip_item>> listed = list_zip(fixture(each.zip), most);
        ASSERT_FALSE(listed.ok()) << each.zip;
        EXPECT_EQ(listed.error().code, code::unsupported_image) << each.zip;
        EXPECT_EQ(listed.error().words.rfind(each.words, 0), 0U) << listed.error().words;
    }
}

#ifdef TORV_MANY_FILES_ZIP
// More than 65,535 files: the end record says 0xFFFF and the zip64 record
// the truth.
TEST(Zip, AHundredThousandFilesFromPython) {
    const bytes archive = read_file(TORV_MANY_FILES_ZIP);
    const result<std::vector<zip_item>> listed = list_zip(archive, most);
    ASSERT_TRUE(listed.ok()) << listed.error().words;
    ASSERT_EQ(listed->size(), 100001U);
    EXPECT_EQ(listed->back().name, "many/100000.txt");
    const result<bytes> last = unzip_item(archive, listed->back());
    ASSERT_TRUE(last.ok());
    EXPECT_EQ(std::string(last->begin(), last->end()), "file 100000\n");
}
#endif

TEST(Zip, SeventyThousandFilesWrittenInPiecesReadBack) {
    zip_archive zip;
    bytes archive;
    constexpr int files = 70000;
    for (int k = 0; k < files; ++k) {
        const std::string text = "file " + std::to_string(k);
        ASSERT_TRUE(
            add_to_zip(zip, "f/" + std::to_string(k), {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()})
                .ok());
        if (k % 10000 == 0) {
            const bytes piece = take_zip_bytes(zip);
            archive.insert(archive.end(), piece.begin(), piece.end());
        }
    }
    const bytes rest = finish_zip(zip);
    archive.insert(archive.end(), rest.begin(), rest.end());
    const result<std::vector<zip_entry>> read = read_zip(archive, most);
    ASSERT_TRUE(read.ok()) << read.error().words;
    ASSERT_EQ(read->size(), static_cast<std::size_t>(files));
    for (const int k : {0, 9999, 10000, 65534, 65535, files - 1}) {
        const zip_entry& entry = (*read)[static_cast<std::size_t>(k)];
        EXPECT_EQ(entry.name, "f/" + std::to_string(k));
        EXPECT_EQ(std::string(entry.contents.begin(), entry.contents.end()), "file " + std::to_string(k));
    }
}

// A zip64 end record that points outside the archive, or whose entry says
// its sizes are in a zip64 field that is not there, is damaged.
TEST(Zip, Zip64FieldsThatLieAreRefused) {
    bytes archive = fixture("infozip-zip64.zip");
    bytes pointing_out = archive;
    // The locator's offset of the zip64 record: 20 bytes before the 22-byte end.
    const std::size_t locator = pointing_out.size() - 22 - 20;
    ASSERT_EQ(pointing_out[locator], 0x50);
    ASSERT_EQ(pointing_out[locator + 2], 0x06);
    pointing_out[locator + 15] = 0x7F;
    const result<std::vector<zip_item>> far = list_zip(pointing_out, most);
    ASSERT_FALSE(far.ok());
    EXPECT_EQ(far.error().words, "the zip archive is damaged: its zip64 end record is missing");
}

}  // namespace
}  // namespace libtorv
