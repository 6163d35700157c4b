// torv-pack --fit: a picture of any colours goes in. The room is never
// exceeded, images not edited keep their bytes, an image that fits as given
// is left exactly as it is, the file is the same for every -j, and the
// figures the report gives are the ones the decoded images show.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "harness.h"
#include "project_scene.h"
#include "samples.h"

namespace torv::test {
namespace {

// A 24-bit BMP of a smooth, noisy picture: thousands of colours, which no
// palette holds and no block of the layout's room takes losslessly.
bytes photo_like(std::int32_t width, std::int32_t height, unsigned seed) {
    std::mt19937 random(seed);
    bytes bmp = {'B', 'M'};
    const auto row = static_cast<std::uint32_t>(width * 3 + 3) / 4 * 4;
    const std::uint32_t size = 54 + row * static_cast<std::uint32_t>(height);
    for (const std::uint32_t v :
         {size, 0u, 54u, 40u, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)}) {
        for (int shift = 0; shift < 32; shift += 8) bmp.push_back(static_cast<std::uint8_t>(v >> shift));
    }
    for (const std::uint16_t v : {std::uint16_t{1}, std::uint16_t{24}}) {
        bmp.push_back(static_cast<std::uint8_t>(v));
        bmp.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    bmp.resize(54, 0);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const double fx = x / static_cast<double>(width), fy = y / static_cast<double>(height);
            const int noise = static_cast<int>(random() % 24);
            auto channel = [&](double v) {
                return static_cast<std::uint8_t>(std::clamp(static_cast<int>(v * 230) + noise, 0, 255));
            };
            bmp.push_back(channel(0.5 + 0.5 * std::sin(7 * fx + 3 * fy)));  // blue
            bmp.push_back(channel(fy));                                     // green
            bmp.push_back(channel(fx * fx));                                // red
        }
        bmp.resize(54 + static_cast<std::size_t>(y + 1) * row, 0);
    }
    return bmp;
}

// A channel at the game's level nearest it (the lower, halfway), as the
// game shows it.
int at_level(int value) {
    return std::min(31, (value + 3) / 8) * 8;
}

// The colours of a BMP's pixels, 8-bit or 24-bit, bottom-up rows as stored:
// red, green, blue.
std::vector<std::array<int, 3>> colours_of_bmp(const bytes& bmp) {
    const std::uint32_t width = le32(bmp, 18), height = le32(bmp, 22), bits = le16(bmp, 28);
    const std::uint32_t row = (width * bits / 8 + 3) / 4 * 4;
    const std::uint32_t data = le32(bmp, 10);
    std::vector<std::array<int, 3>> colours;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* p =
                bits == 24 ? &bmp[data + y * row + 3 * x] : &bmp[54 + 4 * std::size_t{bmp[data + y * row + x]}];
            colours.push_back({p[2], p[1], p[0]});
        }
    }
    return colours;
}

// The PSNR of a BMP as torv writes it against the BMP given, at the game's
// levels: worked out here, apart from the program.
double psnr_of_bmps(const bytes& given, const bytes& shown) {
    const std::vector<std::array<int, 3>> a = colours_of_bmp(given), b = colours_of_bmp(shown);
    double squared = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        for (std::size_t c = 0; c < 3; ++c) {
            const double d = at_level(a[k][c]) - b[k][c];
            squared += d * d;
        }
    }
    return 10 * std::log10(255.0 * 255.0 / (squared / (3.0 * static_cast<double>(a.size()))));
}

// An 8-bit BMP of noise: random indices into a random palette, which no
// compressor can make smaller.
bytes noise_bmp(std::int32_t width, std::int32_t height, unsigned seed) {
    std::mt19937 random(seed);
    bytes palette(512);
    for (auto& b : palette) b = static_cast<std::uint8_t>(random());
    bytes pixels(static_cast<std::size_t>(width * height));
    for (auto& b : pixels) b = static_cast<std::uint8_t>(random());
    return expected_bmp(width, height, palette, pixels);
}

// The PSNR a report line gives for an image ("four2.bmp: fitted: 31.2 dB").
double reported_psnr(const std::string& report, const std::string& image) {
    const std::size_t at = report.find(image + ": fitted: ");
    if (at == std::string::npos)
        return -1;
    return std::stod(report.substr(at + image.size() + 10));
}

TEST(Fit, APictureOfAnyColoursFitsARoomItDidNotAndTheReportSaysWhatItCost) {
    scratch_dir dir;
    dir.write("pic.bin", samples::make_single_picture_block());
    const bytes photo = photo_like(640, 480, 1);
    dir.write("pic.bmp", photo);
    run_result result = dir.run_pack({"pic.bin", "", "-o", "plain.bin"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("--fit chooses colours for the picture"), std::string::npos) << result.errors;

    result = dir.run_pack({"pic.bin", "", "-o", "fitted.bin", "--fit", "-j", "1"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(dir.read("fitted.bin").size(), 134'573u);
    const std::size_t block = result.output.find("\nblock: ");
    ASSERT_NE(block, std::string::npos) << result.output;
    const long used = std::stol(result.output.substr(block + 8));
    EXPECT_LE(used, 134'573) << "the room is never exceeded";
    EXPECT_GT(used, 134'573 - 20'000) << "the room is used: the picture was changed no more than it had to";

    // The figures as the decoded image shows them.
    const std::map<std::string, bytes> decoded = torv_images(dir.read("fitted.bin"));
    ASSERT_EQ(decoded.size(), 1u);
    const double psnr = psnr_of_bmps(photo, decoded.begin()->second);
    EXPECT_NEAR(reported_psnr(result.output, "pic.bmp"), psnr, 0.051) << result.output;
    EXPECT_NE(result.output.find("OKLab difference 0.0"), std::string::npos);

    // The same file for every number of threads.
    ASSERT_EQ(dir.run_pack({"pic.bin", "", "-o", "fitted3.bin", "--fit", "-j", "3", "-q"}).status, 0);
    EXPECT_TRUE(dir.read("fitted3.bin") == dir.read("fitted.bin"));
}

// With an original, the images not edited keep their bytes and what they
// show; the edited one takes the entries they leave free.
TEST(Fit, ImagesNotEditedKeepTheirBytes) {
    scratch_dir dir;
    const bytes original = samples::make_four_image_block();
    dir.write("four.bin", original);
    ASSERT_EQ(dir.run({"four.bin", ""}).status, 0);
    const std::map<std::string, bytes> before = torv_images(original);
    dir.write("four2.bmp", photo_like(320, 224, 2));
    const run_result result = dir.run_pack({"four.bin", "", "-o", "new.bin", "--fit"});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.output.find("four2.bmp: fitted: "), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("four0.bmp: fitted"), std::string::npos) << result.output;
    const std::map<std::string, bytes> after = torv_images(dir.read("new.bin"));
    for (const std::string name : {"s0.bmp", "s1.bmp", "s3.bmp"}) {
        // The same indices, each showing the same colour.
        const bytes& a = before.at(name);
        const bytes& b = after.at(name);
        ASSERT_EQ(a.size(), b.size());
        EXPECT_TRUE(std::equal(a.begin() + 1078, a.end(), b.begin() + 1078)) << name << ": its indices";
        for (std::size_t at = 1078; at < a.size(); ++at) {
            const std::ptrdiff_t entry = a[at];
            ASSERT_TRUE(std::equal(a.begin() + 54 + 4 * entry, a.begin() + 57 + 4 * entry, b.begin() + 54 + 4 * entry))
                << name << ": entry " << entry;
        }
    }
}

// torv-project build --fit: the build line carries the same figures, the
// ones the built file shows.
TEST(Fit, AProjectBuildSaysWhatFitDid) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack("proj", {"--bmp"}));
    const bytes photo = photo_like(320, 224, 3);
    dir.write("proj/data/four/four2.bmp", photo);
    run_result result = scene.project({"build", "proj", "game", "plain"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("--fit"), std::string::npos) << result.errors;

    result = scene.project({"build", "proj", "game", "out", "--fit"});
    ASSERT_EQ(result.status, 0) << result.errors;
    const std::size_t at = result.output.find("; four2.bmp fitted: ");
    ASSERT_NE(at, std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("four0.bmp fitted"), std::string::npos) << result.output;
    const double reported = std::stod(result.output.substr(at + 20));
    const double psnr = psnr_of_bmps(photo, torv_images(dir.read("out/data/four.bin")).at("s2.bmp"));
    EXPECT_NEAR(reported, psnr, 0.051) << result.output;
    EXPECT_NE(result.output.find("colours", at), std::string::npos) << result.output;
}

// An image that fits as given, in the palette's own colours, is not touched
// by --fit: the file is what packing without it makes.
TEST(Fit, WhatFitsAsGivenIsLeftExactlyAsItIs) {
    for (const std::string& sample : {std::string("four"), std::string("intro")}) {
        SCOPED_TRACE(sample);
        scratch_dir dir;
        dir.write(sample + ".bin",
                  sample == "four" ? samples::make_four_image_block() : samples::make_frame_sequence(12));
        ASSERT_EQ(dir.run({sample + ".bin", ""}).status, 0);
        const std::string edited = sample == "four" ? "four2.bmp" : "intro004.bmp";
        dir.write(edited, scribbled(dir.read(edited)));
        const run_result plain = dir.run_pack({sample + ".bin", "", "-o", "plain.bin", "-q"});
        ASSERT_EQ(plain.status, 0) << plain.errors;
        const run_result fitted = dir.run_pack({sample + ".bin", "", "-o", "fitted.bin", "--fit"});
        ASSERT_EQ(fitted.status, 0) << fitted.errors;
        EXPECT_TRUE(dir.read("plain.bin") == dir.read("fitted.bin"));
        EXPECT_EQ(fitted.output.find("fitted:"), std::string::npos) << fitted.output;
    }
}

// An animation of more frames than the file takes as they are (noise, which
// no compressor makes smaller) is made to fit, at as even a quality as can
// be, every frame's figures as the decoded frames show them; without --fit
// it is refused.
TEST(Fit, AnAnimationThatDoesNotFitIsMadeToFit) {
    if (under_wine())
        GTEST_SKIP() << "the same code as on Linux, and slow under Wine";
    scratch_dir dir;
    constexpr int frames = 120;  // at 80 kB a frame: more than 9.4 MB
    auto name_of = [](const char* stem, int k) {
        char name[16];
        std::snprintf(name, sizeof name, "%s%03d.bmp", stem, k);
        return std::string(name);
    };
    for (int k = 0; k < frames; ++k) dir.write(name_of("a", k), noise_bmp(320, 224, 100 + static_cast<unsigned>(k)));
    run_result result = dir.run_pack({"a.bin", "", "--no-like", "--layout", "frame_sequence", "-o", "plain.bin"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("frames do not fit"), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("(--fit changes the edited frames as little as makes them fit)"), std::string::npos)
        << result.errors;
    result = dir.run_pack({"a.bin", "", "--no-like", "--layout", "frame_sequence", "-o", "fitted.bin", "--fit"});
    ASSERT_EQ(result.status, 0) << result.errors;
    const std::size_t records = result.output.find("\nrecords: ");
    ASSERT_NE(records, std::string::npos) << result.output;
    const long used = std::stol(result.output.substr(records + 10));
    const long room = std::stol(result.output.substr(result.output.find(" of ", records) + 4));
    EXPECT_LE(used, room) << "the room is never exceeded";
    EXPECT_GT(used, room - room / 10) << "the room is used: the frames were changed no more than they had to be";
    const std::map<std::string, bytes> decoded = torv_images(dir.read("fitted.bin"));
    ASSERT_EQ(decoded.size(), static_cast<std::size_t>(frames));
    double least = 1e9, most = 0;
    for (int k = 0; k < frames; ++k) {
        const double psnr = psnr_of_bmps(dir.read(name_of("a", k)), decoded.at(name_of("s", k)));
        EXPECT_NEAR(reported_psnr(result.output, name_of("a", k)), psnr, 0.051) << k;
        least = std::min(least, psnr);
        most = std::max(most, psnr);
    }
    std::printf("%d frames of noise fitted at %.1f to %.1f dB PSNR\n", frames, least, most);
}

}  // namespace
}  // namespace torv::test
