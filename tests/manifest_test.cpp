// The project's manifest: what is written reads back as it was, names of any
// bytes a game folder can hold included; the same project gives the same
// text; every field is checked for its type and range, and what is no
// manifest of ours, or of a format this library does not read, is refused
// naming the field; a source's SHA-256 given by the caller is taken, and one
// that is no SHA-256 refused.
#include <gtest/gtest.h>

#include "libtorv/project.h"
#include "libtorv/unpack.h"
#include "samples.h"

namespace libtorv {
namespace {

project_manifest sample() {
    project_manifest manifest;
    manifest.tool = "1.1.0";
    project_source source;
    source.path = "data/intro.bin";
    source.size = 9486336;
    source.layout = "frame_sequence";
    source.crc32 = 0x0102abcd;
    source.sha256 = std::string(64, 'a');
    source.folder = "data/intro";
    source.images = {{"intro000.png", 320, 224, std::string(64, 'b')},
                     {"intro001.png", 320, 224, std::string(64, 'c')}};
    source.animation = project_image{"intro.gif", 0, 0, std::string(64, 'd')};
    project_source four;
    four.path = "four.bin";
    four.size = 57652;
    four.layout = "four_image_block";
    four.sha256 = std::string(64, 'e');
    four.folder = "four";
    four.images = {{"four0.png", 112, 144, std::string(64, '0')},
                   {"four1.png", 112, 144, std::string(64, '1')},
                   {"four2.png", 320, 224, std::string(64, '2')},
                   {"four3.png", 320, 224, std::string(64, '3')}};
    manifest.sources = {source, four};
    return manifest;
}

bool same(const project_source& a, const project_source& b) {
    auto image_same = [](const project_image& x, const project_image& y) {
        return x.file == y.file && x.width == y.width && x.height == y.height && x.sha256 == y.sha256;
    };
    return a.path == b.path && a.size == b.size && a.layout == b.layout && a.crc32 == b.crc32 && a.sha256 == b.sha256 &&
           a.folder == b.folder && a.images.size() == b.images.size() &&
           std::equal(a.images.begin(), a.images.end(), b.images.begin(), image_same) &&
           a.animation.has_value() == b.animation.has_value() &&
           (!a.animation || image_same(*a.animation, *b.animation));
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

TEST(Manifest, WhatIsWrittenReadsBackAsItWas) {
    const project_manifest manifest = sample();
    const std::string text = manifest_json(manifest);
    EXPECT_EQ(text, manifest_json(manifest));
    EXPECT_NE(text.find("\"crc32\": \"0102abcd\""), std::string::npos) << text;
    const result<project_manifest> read = read_manifest(text);
    ASSERT_TRUE(read) << read.error().words;
    EXPECT_EQ(read->tool, "1.1.0");
    ASSERT_EQ(read->sources.size(), 2u);
    EXPECT_TRUE(same(read->sources[0], manifest.sources[0]));
    EXPECT_TRUE(same(read->sources[1], manifest.sources[1]));
    EXPECT_EQ(project_folder_of("data/INTRO.Bin"), "data/INTRO");
    EXPECT_EQ(project_folder_of("data/.bin"), "data/.bin.images") << "never a folder with an empty name";
}

// Whatever a game folder's system takes as a name: bytes that are not UTF-8
// (kept byte for byte beside a readable form), backslashes and colons (a
// file's name on Linux), control characters.
TEST(Manifest, NamesOfAnyBytesAFolderCanHoldReadBack) {
    for (const std::string& name :
         {std::string("caf\xe9.bin"), std::string("e:panels.bin"), std::string("a\\b.bin"),
          std::string("line\nbreak.bin"), std::string("\xff\xfe.bin"), std::string("d\xc3\xa9j\xc3\xa0/vu.bin")}) {
        SCOPED_TRACE(name);
        project_manifest manifest = sample();
        project_source& source = manifest.sources[1];
        source.path = "old/" + name;
        source.folder = project_folder_of(source.path);
        const std::string stem = image_prefix(name.substr(name.rfind('/') + 1), "");
        for (std::size_t k = 0; k < 4; ++k) source.images[k].file = stem + std::to_string(k) + ".png";
        const std::string text = manifest_json(manifest);
        const result<project_manifest> read = read_manifest(text);
        ASSERT_TRUE(read) << read.error().words;
        EXPECT_TRUE(same(read->sources[1], source));
    }
    const std::string text = [] {
        project_manifest manifest = sample();
        manifest.sources[1].path = "caf\xe9.bin";
        return manifest_json(manifest);
    }();
    EXPECT_NE(text.find("\"path\": \"caf\xef\xbf\xbd.bin\""), std::string::npos) << "readable, as UTF-8";
    EXPECT_NE(text.find("\"path_bytes\": \"636166e92e62696e\""), std::string::npos) << "and byte for byte";
    const failure odd = read_manifest(replaced(text, "636166e92e62696e", "636166e92e62696")).error();
    EXPECT_NE(odd.words.find("source 2's \"path_bytes\" must be hex digits, two a byte"), std::string::npos)
        << odd.words;
}

TEST(Manifest, EveryFieldOfTheWrongTypeOrRangeIsRefusedByName) {
    const std::string text = manifest_json(sample());
    // (what is changed, into what, the words that name it)
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"\"tool\": \"1.1.0\"", "\"tool\": 5", "the manifest's \"tool\" must be text, not 5"},
        {"\"tool\": \"1.1.0\"", "\"tool\": []", "the manifest's \"tool\" must be text, not []"},
        {"\"images\": \"png\"", "\"images\": 5", "the manifest's \"images\" must be text, not 5"},
        {"\"images\": \"png\"", "\"images\": \"jpg\"", "the manifest's \"images\" must be \"png\" or \"bmp\""},
        {"\"sources\": [", "\"sources\": 7, \"x\": [", "the manifest's \"sources\" must be a list, not 7"},
        {"\"size\": 57652", "\"size\": \"57652\"", "source 2's \"size\" must be 57652"},
        {"\"size\": 57652", "\"size\": 57653",
         "source 2's \"size\" must be 57652 (a four_image_block's size), not 57653"},
        {"\"size\": 57652", "\"size\": 57652.0", "source 2's \"size\" must be 57652"},
        {"\"layout\": \"four_image_block\"", "\"layout\": \"four\"", "source 2's \"layout\" must be a layout's name"},
        {"\"layout\": \"four_image_block\"", "\"layout\": null", "source 2's \"layout\" must be text, not null"},
        {"\"crc32\": \"00000000\"", "\"crc32\": \"0x1\"", "source 2's \"crc32\" must be 8 hex digits"},
        {"\"crc32\": \"00000000\"", "\"crc32\": \"-1\"", "source 2's \"crc32\" must be 8 hex digits"},
        {"\"crc32\": \"00000000\"", "\"crc32\": \" 1\"", "source 2's \"crc32\" must be 8 hex digits"},
        {"\"crc32\": \"00000000\"", "\"crc32\": \"1ffffffff\"", "source 2's \"crc32\" must be 8 hex digits"},
        {"\"crc32\": \"00000000\"", "\"crc32\": \"0000000g\"", "source 2's \"crc32\" must be 8 hex digits"},
        {"\"crc32\": \"00000000\"", "\"crc32\": 0", "source 2's \"crc32\" must be 8 hex digits, not 0"},
        {std::string(64, 'e'), std::string(63, 'e'), "source 2's \"sha256\" must be 64 hex digits"},
        {std::string(64, '3'), std::string(63, '3') + "x", "source 2's image 4's \"sha256\" must be 64 hex digits"},
        {"\"width\": 320", "\"width\": \"wide\"", "source 1's image 1's \"width\" must be 320 (320x224)"},
        {"\"width\": 112", "\"width\": 113", "source 2's image 1's \"width\" must be 112 (112x144), not 113"},
        {"\"height\": 144", "\"height\": -144", "source 2's image 1's \"height\" must be 144"},
        {"{\n          \"file\": \"four3.png\"", "5, {\n          \"file\": \"four3.png\"",
         "source 2's \"images\" must be a list of 4 images"},
        {"\"file\": \"four0.png\"", "\"file\": 7", "source 2's image 1's \"file\" must be text, not 7"},
        {"\"path\": \"four.bin\"", "\"path\": [\"four.bin\"]", "source 2's \"path\" must be text"},
        {"\"format\": 1", "\"format\": \"1\"", "the manifest's \"format\" must be a whole number, not \"1\""},
        {"\"format\": 1", "\"format\": 1.5", "the manifest's \"format\" must be a whole number, not 1.5"},
    };
    for (const auto& [from, to, words] : cases) {
        SCOPED_TRACE(to);
        const result<project_manifest> read = read_manifest(replaced(text, from, to));
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().code, code::bad_project);
        EXPECT_NE(read.error().words.find(words), std::string::npos) << read.error().words;
    }
    const result<project_manifest> upper = read_manifest(replaced(text, "0102abcd", "0102ABCD"));
    ASSERT_TRUE(upper) << "hex digits in either case";
    EXPECT_EQ(upper->sources[0].crc32, 0x0102abcdu);
}

TEST(Manifest, FormatsAreWholeNumbersComparedWhole) {
    const std::string text = manifest_json(sample());
    const auto version_of = [&](const std::string& format) {
        return read_manifest(replaced(text, "\"format\": 1", "\"format\": " + format));
    };
    for (const auto& [format, newer] : std::vector<std::pair<std::string, bool>>{{"2", true},
                                                                                 {"4294967297", true},
                                                                                 {"2147483648", true},
                                                                                 {"18446744073709551615", true},
                                                                                 {"0", false},
                                                                                 {"-2147483648", false},
                                                                                 {"-9223372036854775808", false}}) {
        SCOPED_TRACE(format);
        const result<project_manifest> read = version_of(format);
        ASSERT_FALSE(read) << "never read as another format";
        EXPECT_EQ(read.error().code, code::project_version);
        EXPECT_NE(read.error().words.find("the project is of format " + format + " (made by torv-project 1.1.0)"),
                  std::string::npos)
            << read.error().words;
        EXPECT_NE(read.error().words.find(newer ? "a newer torv-project made it" : "older than this one reads"),
                  std::string::npos)
            << read.error().words;
    }
    EXPECT_TRUE(version_of("1"));
}

TEST(Manifest, WhatIsNoManifestOfOursIsRefusedWithItsReason) {
    const std::string text = manifest_json(sample());
    const auto refused = [](const std::string& wrong) { return read_manifest(wrong).error(); };
    EXPECT_NE(refused("{").words.find("it is not JSON"), std::string::npos);
    EXPECT_NE(refused("[]").words.find("it is not a JSON object"), std::string::npos);
    EXPECT_NE(refused("[1, 2]").words.find("it is not a JSON object"), std::string::npos);
    EXPECT_EQ(refused(R"({"project": "other", "format": 1})").code, code::bad_project);
    // Names that would lead out of the project or the game's folder.
    EXPECT_NE(
        refused(replaced(text, "\"intro000.png\"", "\"../intro000.png\"")).words.find("not a name within its folder"),
        std::string::npos);
    EXPECT_NE(refused(replaced(text, "\"data/intro.bin\"", "\"/etc/intro.bin\"")).words.find("not a path within"),
              std::string::npos);
    EXPECT_NE(refused(replaced(text, "\"data/intro\"", "\"data/../../x\"")).words.find("not a path within"),
              std::string::npos);
    // What a manifest may not say twice: a source, a folder, an image.
    EXPECT_NE(refused(replaced(text, "\"path\": \"four.bin\"", "\"path\": \"data/intro.bin\""))
                  .words.find("sources 1 and 2 are one game file"),
              std::string::npos);
    EXPECT_NE(refused(replaced(text, "\"path\": \"four.bin\"", "\"path\": \"DATA/Intro.bin\""))
                  .words.find("sources 1 and 2 are one game file"),
              std::string::npos)
        << "names that differ only in case are one file on Windows";
    EXPECT_NE(refused(replaced(text, "\"folder\": \"four\"", "\"folder\": \"data/intro\""))
                  .words.find("sources 1 and 2 share the folder \"data/intro\""),
              std::string::npos);
    EXPECT_NE(refused(replaced(text, "\"four1.png\"", "\"four0.png\""))
                  .words.find("source 2 names the image file \"four0.png\" twice"),
              std::string::npos);
    EXPECT_NE(
        refused(replaced(text, "\"intro.gif\"", "\"intro001.png\"")).words.find("animation has the name of an image"),
        std::string::npos);
}

TEST(Manifest, ASourcesDigestGivenIsTakenAndOneThatIsNoDigestRefused) {
    const bytes four = torv::samples::make_four_image_block();
    const auto nowhere = [](const project_file&) -> result<> { return {}; };
    unpack_settings settings;
    const result<project_source> worked_out = unpack_to_project("four.bin", four, settings, nowhere);
    ASSERT_TRUE(worked_out);
    EXPECT_EQ(worked_out->sha256, sha256_of(four));
    settings.file_sha256 = std::string(64, 'e');
    const result<project_source> taken = unpack_to_project("four.bin", four, settings, nowhere);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->sha256, settings.file_sha256);
    EXPECT_EQ(taken->crc32, worked_out->crc32);
    for (const std::string& wrong : {std::string(63, 'e'), std::string(64, 'E'), std::string(64, 'g')}) {
        settings.file_sha256 = wrong;
        const result<project_source> refused = unpack_to_project("four.bin", four, settings, nowhere);
        ASSERT_FALSE(refused) << wrong;
        EXPECT_EQ(refused.error().code, code::bad_argument);
    }
}

// Two sources whose folders would be one, as names that differ in case are
// on Windows and in zips.
TEST(Manifest, SourcesThatWouldShareAFolderAreNamed) {
    EXPECT_TRUE(clashing_sources({"data/four.bin", "data/intro.bin", "four.bin"}).empty());
    const std::vector<std::string> clashes = clashing_sources({"data/four.bin", "data/FOUR.BIN", "data/four"});
    ASSERT_EQ(clashes.size(), 1u);
    EXPECT_NE(clashes[0].find("data/four.bin and data/FOUR.BIN would share the folder data/FOUR"), std::string::npos)
        << clashes[0];
}

}  // namespace
}  // namespace libtorv
