// The project's manifest: what is written reads back as it was, the same
// project gives the same text, and what is no manifest of ours, or of a
// format this library does not read, is refused with its reason; a source's
// SHA-256 given by the caller is taken, and one that is no SHA-256 refused.
#include <gtest/gtest.h>

#include "libtorv/project.h"
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
    manifest.sources = {source, source};
    manifest.sources[1].path = "pics.bin";
    manifest.sources[1].folder = "pics";
    manifest.sources[1].animation.reset();
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
}

TEST(Manifest, WhatIsNoManifestOfOursIsRefusedWithItsReason) {
    std::string text = manifest_json(sample());
    const auto refused = [](const std::string& wrong) { return read_manifest(wrong).error(); };
    EXPECT_EQ(refused("{").code, code::bad_project);
    EXPECT_EQ(refused("[1, 2]").code, code::bad_project);
    EXPECT_EQ(refused(R"({"project": "other", "format": 1})").code, code::bad_project);

    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string changed = text;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    const failure newer = refused(replaced("\"format\": 1", "\"format\": 2"));
    EXPECT_EQ(newer.code, code::project_version);
    EXPECT_NE(newer.words.find("format 2 (made by torv-project 1.1.0), and this torv-project reads format 1: a newer"),
              std::string::npos)
        << newer.words;
    EXPECT_NE(refused(replaced("\"format\": 1", "\"format\": 0")).words.find("older than this one reads"),
              std::string::npos);
    // Names that would lead out of the project or the game's folder.
    EXPECT_EQ(refused(replaced("\"intro000.png\"", "\"../intro000.png\"")).code, code::bad_project);
    EXPECT_EQ(refused(replaced("\"data/intro.bin\"", "\"/etc/intro.bin\"")).code, code::bad_project);
    EXPECT_EQ(refused(replaced("\"data/intro\"", "\"data/../../x\"")).code, code::bad_project);
    EXPECT_EQ(refused(replaced("\"0102abcd\"", "\"not hex\"")).code, code::bad_project);
    EXPECT_EQ(refused(replaced("\"width\": 320", "\"width\": \"wide\"")).code, code::bad_project);
}

TEST(Manifest, ASourcesDigestGivenIsTakenAndOneThatIsNoDigestRefused) {
    const bytes four = torv::samples::make_four_image_block();
    const auto nowhere = [](const project_file&) -> result<> { return {}; };
    const result<project_source> worked_out = unpack_to_project("four.bin", four, image_format::png, false, 1, nowhere);
    ASSERT_TRUE(worked_out);
    EXPECT_EQ(worked_out->sha256, sha256_of(four));
    const std::string given(64, 'e');
    const result<project_source> taken =
        unpack_to_project("four.bin", four, image_format::png, false, 1, nowhere, given);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->sha256, given);
    EXPECT_EQ(taken->crc32, worked_out->crc32);
    for (const std::string& wrong : {std::string(63, 'e'), std::string(64, 'E'), std::string(64, 'g')}) {
        const result<project_source> refused =
            unpack_to_project("four.bin", four, image_format::png, false, 1, nowhere, wrong);
        ASSERT_FALSE(refused) << wrong;
        EXPECT_EQ(refused.error().code, code::bad_argument);
    }
}

}  // namespace
}  // namespace libtorv
