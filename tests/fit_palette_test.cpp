// Palette fitting: what an edited image keeps of the original's palette and
// indices, and what images sharing a palette make of it without one.
#include "pack/fit_palette.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "image/oklab.h"

namespace torv {
namespace {

using bytes = std::vector<std::uint8_t>;

rgb8 colour(int k) {  // distinct colours whose channels the format shows exactly
    return {static_cast<std::uint8_t>((k * 8) & 0xF8), static_cast<std::uint8_t>((k * 24) & 0xF8),
            static_cast<std::uint8_t>(((k / 32) * 8) & 0xF8)};
}

rgb15_palette original_palette() {
    rgb15_palette palette{};
    for (std::size_t k = 0; k < palette_entries; ++k) palette[k] = rgb15_of(colour(static_cast<int>(k)));
    palette[9] = palette[4];  // one colour at two indices
    return palette;
}

picture indexed(bytes indices, std::vector<rgb8> table) {
    picture p;
    p.width = static_cast<std::int32_t>(indices.size());
    p.height = 1;
    p.indexed = true;
    p.indices = std::move(indices);
    p.table = std::move(table);
    return p;
}

picture true_colour(std::vector<rgb8> colours) {
    picture p;
    p.width = static_cast<std::int32_t>(colours.size());
    p.height = 1;
    p.colours = std::move(colours);
    return p;
}

result<fitted_palette> fit_one(const picture& image, const rgb15_palette* original, const bytes& before = {},
                               bool nearest = false) {
    const palette_user user{"img.bmp", &image, before};
    return fit_palette({&user, 1}, original, nearest);
}

TEST(FitPalette, WithAnOriginalItsIndicesStayWhereverTheColoursAllow) {
    const rgb15_palette original = original_palette();
    std::vector<rgb8> table(256);
    for (int k = 0; k < 256; ++k) table[static_cast<std::size_t>(k)] = rgb8_of(original[static_cast<std::size_t>(k)]);
    const bytes before = {1, 4, 9, 200, 9};

    // (a) the same colours at the same indices: indices as they stand.
    EXPECT_EQ(fit_one(indexed(before, table), &original, before)->indices[0], before);
    // A table trimmed to the indices used still agrees.
    EXPECT_EQ(fit_one(indexed({0, 1}, {table[0], table[1]}), &original)->indices[0], (bytes{0, 1}));

    // (b) the table reordered (reversed): mapped back by colour; the colour
    // at indices 4 and 9 keeps each pixel's own.
    std::vector<rgb8> reversed(table.rbegin(), table.rend());
    bytes reordered;
    for (const std::uint8_t k : before) reordered.push_back(static_cast<std::uint8_t>(255 - k));
    const result<fitted_palette> remapped = fit_one(indexed(reordered, reversed), &original, before);
    EXPECT_EQ(remapped->indices[0], before);
    EXPECT_EQ(remapped->palette[4], original[4]);

    // (c) true colour, by exact colour.
    std::vector<rgb8> colours;
    for (const std::uint8_t k : before) colours.push_back(table[k]);
    const result<fitted_palette> by_colour = fit_one(true_colour(colours), &original, before);
    EXPECT_EQ(by_colour->indices[0], before);
    EXPECT_TRUE(by_colour.ok());

    // (d) an indexed image with a colour the original lacks: its table is
    // the palette, indices as they stand, and a note says so.
    std::vector<rgb8> edited = table;
    edited[3] = {8, 8, 248};
    const result<fitted_palette> edit = fit_one(indexed({3, 1}, edited), &original, bytes{2, 1});
    EXPECT_EQ(edit->indices[0], (bytes{3, 1}));
    EXPECT_EQ(edit->palette[3], rgb15_of({8, 8, 248}));
    EXPECT_EQ(edit->notes.size(), 1u);

    // (e) a true-colour pixel of a colour the palette lacks: an error naming
    // the file, the pixel and the colour; with `nearest`, the colour that looks
    // nearest (OKLab), which need not be the nearest in RGB.
    const picture odd = true_colour({table[1], {8, 8, 248}});
    const result<fitted_palette> refused = fit_one(odd, &original);
    EXPECT_NE(refused.error().words.find("img.bmp: pixel (1, 0) has colour #0808f8"), std::string::npos)
        << refused.error().words;
    const result<fitted_palette> near = fit_one(odd, &original, {}, true);
    ASSERT_TRUE(near.ok());
    const colour_point wanted = point_of(rgb8{8, 8, 248});
    float closest = 1e9f;
    for (const std::uint16_t entry : original)
        closest = std::min(closest, distance_squared(point_of_rgb15(entry), wanted));
    EXPECT_EQ(distance_squared(point_of_rgb15(near->palette[near->indices[0][1]]), wanted), closest);
    EXPECT_EQ(near->palette, original);
}

// An editor that trims the colour table to the colours used (as ImageMagick
// does) and adds a colour to one image of two sharing a palette: the other
// keeps every colour and index, the new colour takes an entry neither shows.
// More new colours than free entries: an error with both counts.
TEST(FitPalette, ANewColourInOneImageLeavesTheOtherSharingThePaletteAlone) {
    const rgb15_palette original = original_palette();
    const bytes before_a = {10, 11, 12, 13};
    const bytes before_b = {1, 2, 3, 23, 24, 25};  // entries only B shows, where A's trimmed table lies too
    const rgb8 added = {8, 248, 248};
    const picture a =
        indexed({0, 1, 2, 3}, {rgb8_of(original[10]), rgb8_of(original[11]), added, rgb8_of(original[13])});
    std::vector<rgb8> table_b;
    for (const std::uint8_t k : before_b) table_b.push_back(rgb8_of(original[k]));
    const picture b = indexed({0, 1, 2, 3, 4, 5}, table_b);
    const palette_user users[] = {{"a.bmp", &a, before_a}, {"b.bmp", &b, before_b}};
    const result<fitted_palette> fit = fit_palette(users, &original, false);
    ASSERT_TRUE(fit.ok()) << fit.error().words;
    EXPECT_EQ(fit->indices[1], before_b);
    const std::uint8_t placed = fit->indices[0][2];
    EXPECT_EQ(fit->palette[placed], rgb15_of(added));
    EXPECT_EQ(std::count(before_b.begin(), before_b.end(), placed), 0);
    for (std::size_t k = 0; k < palette_entries; ++k) {
        if (k != placed) {
            EXPECT_EQ(fit->palette[k], original[k]) << "entry " << k;
        }
    }
    EXPECT_EQ(fit->notes.size(), 1u);

    // A shows 250 colours the original lacks, B shows 6 entries: 256 entries
    // would be needed.
    std::vector<rgb8> crowded_table;
    bytes crowded_indices;
    for (int k = 0; k < 250; ++k) {
        crowded_table.push_back(  // blue beyond any of the original's
            {static_cast<std::uint8_t>(8 * (k % 32)), 0, static_cast<std::uint8_t>(128 + 8 * (k / 32))});
        crowded_indices.push_back(static_cast<std::uint8_t>(k));
    }
    crowded_table.push_back(rgb8_of(original[0]));
    crowded_indices.push_back(250);
    const picture crowded = indexed(crowded_indices, crowded_table);
    const palette_user full[] = {{"a.bmp", &crowded, {}}, {"b.bmp", &b, before_b}};
    const result<fitted_palette> over = fit_palette(full, &original, false);
    EXPECT_NE(over.error().words.find("250 colours"), std::string::npos) << over.error().words;
    EXPECT_NE(over.error().words.find("249 are free"), std::string::npos) << over.error().words;
}

TEST(FitPalette, WithoutAnOriginalImagesSharingAPaletteAreMerged) {
    // The first indexed image's table is the palette; a second with other
    // colours takes indices left free; a true-colour one likewise.
    const picture first = indexed({0, 1, 0}, {colour(1), colour(2)});
    const picture second = indexed({0, 1}, {colour(2), colour(3)});
    const picture third = true_colour({colour(3), colour(4)});
    const palette_user users[] = {{"a", &first, {}}, {"b", &second, {}}, {"c", &third, {}}};
    const result<fitted_palette> merged = fit_palette(users, nullptr, false);
    ASSERT_TRUE(merged.ok()) << merged.error().words;
    EXPECT_EQ(merged->indices[0], (bytes{0, 1, 0}));
    for (std::size_t u = 0; u < 3; ++u) {
        const picture& image = *users[u].image;
        for (std::size_t at = 0; at < merged->indices[u].size(); ++at) {
            EXPECT_EQ(rgb8_of(merged->palette[merged->indices[u][at]]), image.colour_at(at));
        }
    }

    // More than 256 colours together: an error naming the others.
    std::vector<rgb8> many;
    for (int k = 0; k < 200; ++k)
        many.push_back({static_cast<std::uint8_t>(8 * (k % 32)), static_cast<std::uint8_t>(8 * (k / 32)), 0});
    std::vector<rgb8> more;
    for (int k = 0; k < 200; ++k)
        more.push_back({0, static_cast<std::uint8_t>(8 * (k % 32)), static_cast<std::uint8_t>(8 * (1 + k / 32))});
    const picture x = true_colour(many), y = true_colour(more);
    const palette_user crowded[] = {{"x", &x, {}}, {"y", &y, {}}};
    const result<fitted_palette> over = fit_palette(crowded, nullptr, false);
    EXPECT_NE(over.error().words.find("y: "), std::string::npos) << over.error().words;
    EXPECT_NE(over.error().words.find("shares with x"), std::string::npos) << over.error().words;
}

// Four entries side by side in the game's levels: (30, 30, 0), (31, 31, 0),
// then greys of levels 15 and 16; the rest black.
rgb15_palette neighbours() {
    rgb15_palette palette{};
    palette[10] = rgb15_of({240, 240, 0});
    palette[11] = rgb15_of({248, 248, 0});
    palette[12] = rgb15_of({120, 120, 120});
    palette[13] = rgb15_of({128, 128, 128});
    return palette;
}

picture sixteen_bit(std::vector<rgb8> colours) {
    picture p = true_colour(std::move(colours));
    const channel_form five{5, false};
    p.bits = {five, five, five};
    return p;
}

result<fitted_palette> fit_with(const picture& image, const rgb15_palette& palette, const bytes& before,
                                bool nearest = false) {
    const palette_user user{"img.bmp", &image, before};
    return fit_palette({&user, 1}, &palette, nearest);
}

TEST(FitPalette, ColoursAreMatchedAtTheGamesPrecision) {
    const rgb15_palette palette = neighbours();
    // 8 bits: the nearest level. Exact colours as ever, rounded ones counted.
    const result<fitted_palette> rounded =
        fit_with(true_colour({{255, 255, 0}, {252, 252, 3}, {248, 248, 0}, {125, 125, 124}}), palette, {});
    ASSERT_TRUE(rounded) << rounded.error().words;
    EXPECT_EQ(rounded->indices[0], (bytes{11, 11, 11, 13}));
    ASSERT_EQ(rounded->notes.size(), 1u);
    EXPECT_EQ(rounded->notes[0],
              "img.bmp: 3 pixels matched the palette at the game's precision (their colours were "
              "rounded)");

    // 30 of 31 in five bits is 240 (torv's way) or 248 (GIMP's): two entries
    // alike. The original's index decides; without it, refused, naming both;
    // with `nearest`, the nearer.
    const picture gimp = sixteen_bit({{240, 240, 0}});
    EXPECT_EQ(fit_with(gimp, palette, {11})->indices[0], (bytes{11}));
    EXPECT_EQ(fit_with(gimp, palette, {10})->indices[0], (bytes{10}));
    const result<fitted_palette> refused = fit_with(gimp, palette, {});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, code::ambiguous_colour);
    EXPECT_EQ(refused.error().words.substr(0, 126),
              "img.bmp: pixel (0, 0) has colour #f0f000, which stands for entry 10 #f0f000 (30, 30, 0) and entry 11 "
              "#f8f800 (31, 31, 0) alike");
    EXPECT_NE(refused.error().words.find("a 16-bit save"), std::string::npos);
    EXPECT_NE(refused.error().words.find("keep the original beside the images"), std::string::npos);
    EXPECT_EQ(fit_with(gimp, palette, {}, true)->indices[0], (bytes{10}));

    // Halfway in 8 bits: both levels; with `nearest`, the one that looks
    // nearer: 248, as the eye's lightness is not linear in the levels.
    const picture halfway = true_colour({{244, 244, 0}});
    const result<fitted_palette> either = fit_with(halfway, palette, {});
    ASSERT_FALSE(either);
    EXPECT_NE(either.error().words.find("it lies halfway between their levels"), std::string::npos);
    EXPECT_EQ(fit_with(halfway, palette, {}, true)->indices[0], (bytes{11}));
}

// When a colour still has no place, the message says what the editor likely
// did: a colour conversion (every pixel a level or two off), or a few new
// colours painted in; with the pixel, its levels and the nearest entries.
TEST(FitPalette, AColourWithNoPlaceSaysWhatTheEditorLikelyDid) {
    const rgb15_palette original = original_palette();
    std::vector<rgb8> moved, painted;
    bytes before;
    for (int k = 20; k < 120; ++k) {
        const rgb8 was = rgb8_of(original[static_cast<std::size_t>(k)]);
        moved.push_back({static_cast<std::uint8_t>(std::min(255, was.red + 13)), was.green, was.blue});
        painted.push_back(was);
        before.push_back(static_cast<std::uint8_t>(k));
    }
    const result<fitted_palette> converted = fit_with(true_colour(moved), original, before);
    ASSERT_FALSE(converted);
    EXPECT_EQ(converted.error().code, code::colour_lacking);
    EXPECT_NE(converted.error().words.find("(levels "), std::string::npos) << converted.error().words;
    EXPECT_NE(converted.error().words.find("nearest: entry "), std::string::npos);
    EXPECT_NE(converted.error().words.find("a colour conversion or a colour profile"), std::string::npos)
        << converted.error().words;

    painted[5] = painted[6] = {8, 248, 8};
    const result<fitted_palette> new_colour = fit_with(true_colour(painted), original, before);
    ASSERT_FALSE(new_colour);
    EXPECT_NE(new_colour.error().words.find("only 1 colour is new: the image was painted with colours the palette "
                                            "lacks"),
              std::string::npos)
        << new_colour.error().words;
}

// An indexed image that puts a new colour on an entry another image sharing
// the palette shows, when no entry is left: named as such.
TEST(FitPalette, TwoUsedColoursOnOneEntryAreNamed) {
    const rgb15_palette original = original_palette();
    std::vector<rgb8> table_b;
    bytes shows_b, before_b;
    for (int k = 0; k < 256; ++k) {
        if (k == 7)
            continue;  // the one entry left free
        table_b.push_back(rgb8_of(original[static_cast<std::size_t>(k)]));
        shows_b.push_back(static_cast<std::uint8_t>(table_b.size() - 1));
        before_b.push_back(static_cast<std::uint8_t>(k));
    }
    std::vector<rgb8> table_a(256, rgb8_of(original[0]));
    table_a[5] = {8, 248, 248};  // new, on entry 5, which b.bmp shows
    table_a[6] = {248, 8, 248};  // new
    const picture a = indexed({5, 6, 0}, table_a);
    const picture b = indexed(shows_b, table_b);
    const bytes before_a{5, 6, 0};
    const palette_user users[] = {{"a.bmp", &a, before_a}, {"b.bmp", &b, before_b}};
    const result<fitted_palette> full = fit_palette(users, &original, false);
    ASSERT_FALSE(full);
    EXPECT_EQ(full.error().code, code::palette_full);
    EXPECT_NE(full.error().words.find("a.bmp puts #08f8f8 on entry 5, where b.bmp shows"), std::string::npos)
        << full.error().words;
    EXPECT_NE(full.error().words.find("puts two used colours on one entry"), std::string::npos);
}

// The words fit what is there: with the original's pixel given, it is not
// asked for; an indexed image is not told to be exported as one; entries of
// one colour are named once; a picture of new colours is not said to be a
// palette rewritten.
TEST(FitPalette, MessagesOfferOnlyWhatWouldHelp) {
    const rgb15_palette palette = neighbours();
    const picture gimp = sixteen_bit({{240, 240, 0}});
    const result<fitted_palette> moved = fit_with(gimp, palette, {12});  // the original's pixel was grey
    ASSERT_FALSE(moved);
    EXPECT_NE(moved.error().words.find("the original's pixel there is neither, so nothing decides (export as indexed "
                                       "PNG; --nearest takes the nearer)"),
              std::string::npos)
        << moved.error().words;
    option_words project_words;
    project_words.keep_original.clear();
    const picture halfway = indexed({0}, {{244, 244, 0}});
    const palette_user user{"img.png", &halfway, {}};
    const result<fitted_palette> either = fit_palette({&user, 1}, &palette, false, project_words);
    ASSERT_FALSE(either);
    EXPECT_NE(either.error().words.find("no original decides between them (--nearest takes the nearer)"),
              std::string::npos)
        << either.error().words;

    rgb15_palette twins = neighbours();
    twins[20] = twins[21] = twins[22] = rgb15_of({200, 0, 0});
    const result<fitted_palette> lacking = fit_with(true_colour({{208, 0, 0}}), twins, {20});
    ASSERT_FALSE(lacking);
    EXPECT_NE(lacking.error().words.find("nearest: entry 20 #c80000 (25, 0, 0), entry 12"), std::string::npos)
        << lacking.error().words;

    // Every entry but one shown by b.bmp, and a.bmp a picture of colours of
    // its own: no palette was rewritten.
    const rgb15_palette original = original_palette();
    std::vector<rgb8> table_b;
    bytes shows_b, before_b;
    for (int k = 0; k < 256; ++k) {
        if (k == 7)
            continue;
        table_b.push_back(rgb8_of(original[static_cast<std::size_t>(k)]));
        shows_b.push_back(static_cast<std::uint8_t>(table_b.size() - 1));
        before_b.push_back(static_cast<std::uint8_t>(k));
    }
    std::vector<rgb8> table_a;
    // Blue above any the original holds: every colour new.
    for (int k = 0; k < 256; ++k)
        table_a.push_back({static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(255 - k), 200});
    const picture a = indexed({5, 6, 0}, table_a);
    const picture b = indexed(shows_b, table_b);
    const bytes before_a{5, 6, 0};
    const palette_user users[] = {{"a.bmp", &a, before_a}, {"b.bmp", &b, before_b}};
    const result<fitted_palette> full = fit_palette(users, &original, false);
    ASSERT_FALSE(full);
    EXPECT_EQ(full.error().code, code::palette_full);
    EXPECT_EQ(full.error().words.find("rewritten"), std::string::npos) << full.error().words;
}

TEST(FitPalette, ChannelsTheFormatCannotShowAreNotedOncePerImage) {
    const picture image = true_colour({{255, 255, 255}, {255, 255, 255}, {7, 0, 0}});
    const result<fitted_palette> fit = fit_one(image, nullptr);
    EXPECT_EQ(fit->notes.size(), 1u);
    EXPECT_EQ(fit->palette[fit->indices[0][0]], rgb15_of({248, 248, 248}));
}

}  // namespace
}  // namespace torv
