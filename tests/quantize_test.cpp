// Colours chosen for pictures, and pixels mapped onto them: OKLab as its
// author's tables give it; a picture of few colours kept exactly; colours
// chosen beside those a palette keeps, never twice; two clusters, a colour
// each; the same pictures, the same palette. The quality figures: identical
// pictures exact, a known difference its known PSNR.
#include "image/quantize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "image/oklab.h"
#include "image/quality.h"

namespace torv {
namespace {

TEST(Oklab, ColoursAreWhereItsAuthorPutsThem) {
    const oklab white = oklab_of({255, 255, 255});
    EXPECT_NEAR(white.l, 1.0, 1e-4);
    EXPECT_NEAR(white.a, 0.0, 1e-4);
    EXPECT_NEAR(white.b, 0.0, 1e-4);
    const oklab red = oklab_of({255, 0, 0});
    EXPECT_NEAR(red.l, 0.62796, 1e-4);
    EXPECT_NEAR(red.a, 0.22486, 1e-4);
    EXPECT_NEAR(red.b, 0.12585, 1e-4);
    const oklab blue = oklab_of({0, 0, 255});
    EXPECT_NEAR(blue.l, 0.45201, 1e-4);
    EXPECT_NEAR(blue.b, -0.31153, 1e-4);
    for (const rgb8 colour : {rgb8{0, 0, 0}, rgb8{12, 200, 99}, rgb8{255, 128, 1}, rgb8{248, 248, 248}}) {
        EXPECT_EQ(rgb8_of(oklab_of(colour)), colour) << "there and back";
    }
    EXPECT_EQ(at_game_level(255), 248);
    EXPECT_EQ(at_game_level(244), 240) << "halfway: the lower, as torv stores a new colour";
    EXPECT_EQ(at_game_level(245), 248);
}

TEST(Quality, IdenticalPicturesAreExactAndAKnownDifferenceHasItsKnownPsnr) {
    std::vector<rgb8> picture, shifted;
    for (int k = 0; k < 40 * 30; ++k) {
        const auto v = static_cast<std::uint8_t>(16 + (k * 7) % 200);
        picture.push_back({v, static_cast<std::uint8_t>(v / 2), 30});
        shifted.push_back({static_cast<std::uint8_t>(v + 8), static_cast<std::uint8_t>(v / 2 + 8), 38});
    }
    const picture_quality same = quality_of(picture, picture, 40, 30);
    EXPECT_TRUE(std::isinf(same.psnr));
    EXPECT_DOUBLE_EQ(same.ssim, 1.0);
    EXPECT_DOUBLE_EQ(same.oklab_mean, 0.0);
    const picture_quality off = quality_of(picture, shifted, 40, 30);
    EXPECT_NEAR(off.psnr, 10 * std::log10(255.0 * 255.0 / 64.0), 1e-9);  // every channel 8 off
    EXPECT_LT(off.ssim, 1.0);
    EXPECT_GT(off.oklab_mean, 0.0);
}

std::vector<rgb8> clusters(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<rgb8> pixels;
    for (std::size_t k = 0; k < count; ++k) {
        const bool first = k % 3 != 0;
        const auto jitter = [&] { return static_cast<int>(random() % 17) - 8; };
        pixels.push_back(first
                             ? rgb8{static_cast<std::uint8_t>(200 + jitter()), static_cast<std::uint8_t>(40 + jitter()),
                                    static_cast<std::uint8_t>(40 + jitter())}
                             : rgb8{static_cast<std::uint8_t>(30 + jitter()), static_cast<std::uint8_t>(60 + jitter()),
                                    static_cast<std::uint8_t>(210 + jitter())});
    }
    return pixels;
}

TEST(Quantize, TwoClustersGetAColourEachAndTheSamePicturesTheSamePalette) {
    const std::vector<rgb8> pixels = clusters(5000, 1);
    std::vector<double> bins;
    add_to_histogram(pixels, bins);
    const std::vector<std::uint16_t> chosen = choose_colours(colours_of(bins), {}, 2);
    ASSERT_EQ(chosen.size(), 2u);
    const rgb8 a = rgb8_of(chosen[0]), b = rgb8_of(chosen[1]);
    const rgb8 reddish = a.red > b.red ? a : b, bluish = a.red > b.red ? b : a;
    EXPECT_NEAR(reddish.red, 200, 12);
    EXPECT_NEAR(reddish.blue, 40, 12);
    EXPECT_NEAR(bluish.blue, 210, 12);
    EXPECT_NEAR(bluish.red, 30, 12);
    EXPECT_EQ(choose_colours(colours_of(bins), {}, 2), chosen);
    EXPECT_EQ(choose_colours(colours_of(bins), {}, 64), choose_colours(colours_of(bins), {}, 64));
}

// Few colours: each kept, and every pixel shows its own.
TEST(Quantize, APictureOfFewColoursIsKeptExactly) {
    std::vector<rgb8> pixels;
    for (int k = 0; k < 4000; ++k) {
        const int c = k % 40;
        pixels.push_back({static_cast<std::uint8_t>(c * 6), static_cast<std::uint8_t>(255 - c * 5),
                          static_cast<std::uint8_t>((c * 37) % 256)});
    }
    std::vector<double> bins;
    add_to_histogram(pixels, bins);
    const std::vector<std::uint16_t> chosen = choose_colours(colours_of(bins), {}, 256);
    EXPECT_EQ(chosen.size(), 40u);
    rgb15_palette palette{};
    usable_entries usable{};
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        palette[k] = chosen[k];
        usable[k] = true;
    }
    const std::vector<std::uint8_t> indices = map_to_palette(pixels, 100, 40, palette, usable, false);
    EXPECT_TRUE(std::isinf(psnr_of(at_game_levels(pixels), shown_colours(indices, palette))));
}

// With colours a palette keeps, the new ones are never the same, and pixels
// of a kept colour take its entry; an entry no pixel may take is taken by
// none.
TEST(Quantize, ColoursAreChosenBesideTheKeptOnes) {
    const std::vector<rgb8> pixels = clusters(3000, 2);
    std::vector<double> bins;
    add_to_histogram(pixels, bins);
    const std::uint16_t kept = rgb15_of(at_game_levels(pixels[1]));  // a bluish pixel's own colour
    const std::vector<std::uint16_t> chosen = choose_colours(colours_of(bins), {{kept}}, 8);
    EXPECT_EQ(std::count(chosen.begin(), chosen.end(), kept), 0);
    rgb15_palette palette{};
    usable_entries usable{};
    palette[0] = kept;
    usable[0] = true;
    palette[1] = 0x7FFF;  // white, not to be taken
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        palette[k + 2] = chosen[k];
        usable[k + 2] = true;
    }
    for (const bool dither : {false, true}) {
        const std::vector<std::uint8_t> indices = map_to_palette(pixels, 100, 30, palette, usable, dither);
        EXPECT_EQ(std::count(indices.begin(), indices.end(), 1), 0);
        if (!dither) {
            EXPECT_EQ(indices[1], 0) << "a pixel of the kept colour takes its entry";
        }
    }
}

}  // namespace
}  // namespace torv
