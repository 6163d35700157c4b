// torv-pack end to end: what it packs, torv converts back to the same images;
// with the original, what is unchanged keeps the original's bytes; and every
// refusal leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <stdexcept>

#include "byte_utils.h"
#include "codec/lzss_encode.h"
#include "format/layouts.h"
#include "harness.h"
#include "png_file.h"
#include "samples.h"

namespace torv::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t unit = 2048;
constexpr std::size_t frame_bytes = 320 * 224;

// Converts `source` (a .bin file in `dir`) with torv; the BMP files it wrote,
// by name.
std::map<std::string, bytes> unpack(const scratch_dir& dir, const std::string& source) {
    const auto before = dir.files();
    const run_result result = dir.run({source, ""});
    if (result.status != 0) {
        // Nothing to go on with: the test fails here rather than later on missing images.
        throw std::runtime_error("torv " + source + " ended with status " + std::to_string(result.status) + ": " +
                                 result.output + result.errors);
    }
    std::map<std::string, bytes> written;
    for (const std::string& name : dir.files()) {
        if (name.ends_with(".bmp") && std::find(before.begin(), before.end(), name) == before.end()) {
            written[name] = dir.read(name);
        }
    }
    return written;
}

// Converts `packed` with torv in a folder of its own, as `stem`.bin.
std::map<std::string, bytes> unpack_bytes(const bytes& packed, const std::string& stem) {
    scratch_dir dir;
    dir.write(stem + ".bin", packed);
    return unpack(dir, stem + ".bin");
}

// A frame of tiles and a palette.
bytes noise(std::size_t size, unsigned seed, unsigned levels = 256) {
    std::mt19937 random(seed);
    bytes out(size);
    for (auto& b : out) b = static_cast<std::uint8_t>(random() % levels);
    return out;
}

// A frame sequence with what real files hold: a normal record, a block
// shorter than a frame with junk after it, a compressed black frame with an
// all-zero palette, a last record stretched to three units before the end,
// and three zero records.
bytes odd_frame_file() {
    const bytes picture = samples::make_picture(320, 224, 1, 3);
    bytes file = samples::make_frame_record(samples::make_palette(1, 2), samples::to_tiles(picture));
    bytes short_record = concat(samples::make_palette(2), lzss_encode(noise(5000, 1, 7)));
    const std::size_t junk_at = short_record.size();
    short_record.resize((short_record.size() + unit - 1) / unit * unit);
    for (std::size_t k = junk_at; k < short_record.size(); ++k) short_record[k] = 0xA5;
    file = concat(file, short_record);
    file = concat(file, samples::make_frame_record(bytes(512, 0), bytes(frame_bytes, 0)));
    const std::size_t units_left = samples::frame_sequence_size / unit - file.size() / unit - 3;
    file =
        concat(file, samples::make_frame_record(samples::make_palette(3, 9),
                                                samples::to_tiles(samples::make_picture(320, 224, 2, 5)), units_left));
    return samples::pad_to(std::move(file), samples::frame_sequence_size);
}

// A frame, then a black frame that is a record of its own (an all-zero
// palette and a compressed block of zeros), then zero padding: the black
// frame must stay a record, not become padding.
bytes black_last_frame_file() {
    bytes file = samples::make_frame_record(samples::make_palette(2, 1),
                                            samples::to_tiles(samples::make_picture(320, 224, 1, 4)));
    file = concat(file, samples::make_frame_record(bytes(512, 0), bytes(frame_bytes, 0)));
    return samples::pad_to(std::move(file), samples::frame_sequence_size);
}

struct sample_file {
    std::string stem;
    bytes contents;
};

std::vector<sample_file> originals() {
    bytes short_four = concat(samples::make_palette(3), lzss_encode(noise(9000, 4, 5)));
    return {
        {"triple", samples::make_raw_triple()},
        {"panels", samples::make_three_panel_block()},
        {"picture", samples::make_single_picture_block()},
        {"four", samples::make_four_image_block()},
        {"short", samples::pad_to(short_four, samples::size_of(four_image_block_layout))},
        {"intro", samples::make_frame_sequence(12)},
        {"odd", odd_frame_file()},
        {"black", black_last_frame_file()},
    };
}

TEST(Pack, TorvsOwnOutputWithItsOriginalGivesTheOriginalBack) {
    for (const sample_file& sample : originals()) {
        SCOPED_TRACE(sample.stem);
        scratch_dir dir;
        dir.write(sample.stem + ".bin", sample.contents);
        unpack(dir, sample.stem + ".bin");
        const run_result packed = dir.run_pack({sample.stem + ".bin", "", "-o", "new.bin"});
        ASSERT_EQ(packed.status, 0) << packed.errors;
        EXPECT_TRUE(dir.read("new.bin") == sample.contents);
        EXPECT_NE(packed.output.find("kept as in the original"), std::string::npos) << packed.output;
    }
}

TEST(Pack, WithoutAnOriginalTorvGivesBackTheSameImages) {
    for (const sample_file& sample : originals()) {
        SCOPED_TRACE(sample.stem);
        scratch_dir dir;
        dir.write(sample.stem + ".bin", sample.contents);
        const auto images = unpack(dir, sample.stem + ".bin");
        const run_result packed = dir.run_pack({sample.stem + ".bin", "", "--no-like", "-o", "new.bin"});
        ASSERT_EQ(packed.status, 0) << packed.errors;
        const bytes file = dir.read("new.bin");
        ASSERT_EQ(file.size(), sample.contents.size());
        EXPECT_TRUE(unpack_bytes(file, sample.stem) == images);
        // A reader that trusts the declared length still finds every pixel.
        const layout* format = find_layout(static_cast<std::int64_t>(file.size()));
        if (format->block_offset && format->record_alignment == 0) {
            EXPECT_GE(le32(file, *format->block_offset), block_extent(*format));
        }
        if (sample.stem == "odd") {
            // The three black frames at the end are zero padding again.
            EXPECT_TRUE(std::all_of(file.end() - 3 * unit, file.end(), [](std::uint8_t b) { return b == 0; }));
        }
    }
}

// Frame `k` of a converted sequence with `pixels` changed by `edit`.
bytes edited_frame(const bytes& bmp, const std::function<void(std::uint8_t*)>& edit) {
    bytes changed = bmp;
    edit(changed.data() + 1078);  // rows bottom-up, 320 bytes each
    return changed;
}

TEST(Pack, AnEditedFrameStaysInItsSpanOrMovesTheRecordsAfterIt) {
    const bytes original = odd_frame_file();
    scratch_dir dir;
    dir.write("odd.bin", original);
    auto images = unpack(dir, "odd.bin");

    // A small edit of frame 3 (the stretched record): in place, and every
    // byte before it as it was.
    images["odd003.bmp"] = edited_frame(images["odd003.bmp"], [](std::uint8_t* rows) { rows[5000] ^= 1; });
    dir.write("odd003.bmp", images["odd003.bmp"]);
    run_result packed = dir.run_pack({"odd.bin", "", "-o", "a.bin"});
    ASSERT_EQ(packed.status, 0) << packed.errors;
    const bytes in_place = dir.read("a.bin");
    EXPECT_TRUE(unpack_bytes(in_place, "odd") == images);
    const std::size_t record3 = 5 * unit + unit + 5 * unit;  // after records 0-2
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + record3, in_place.begin()));
    EXPECT_TRUE(std::equal(original.end() - 3 * unit, original.end(), in_place.end() - 3 * unit));

    // Frame 0 as noise grows past its five units: the records after it move,
    // and torv still finds every frame.
    images["odd000.bmp"] = edited_frame(images["odd000.bmp"], [](std::uint8_t* rows) {
        const bytes random = noise(frame_bytes, 9, 64);
        std::copy(random.begin(), random.end(), rows);
    });
    dir.write("odd000.bmp", images["odd000.bmp"]);
    packed = dir.run_pack({"odd.bin", "", "-o", "b.bin", "-j", "1"});
    ASSERT_EQ(packed.status, 0) << packed.errors;
    const bytes moved = dir.read("b.bin");
    EXPECT_TRUE(unpack_bytes(moved, "odd") == images);
    packed = dir.run_pack({"odd.bin", "", "-o", "c.bin", "-j", "3"});
    EXPECT_TRUE(dir.read("c.bin") == moved) << "the same file for every number of threads";
}

// Frames added after an edited last frame, a frame missing, and more frames
// than the file can hold, by number or by size.
TEST(Pack, FramesAddedFitWhenTheyFitAndGapsOrTooManyAreNamed) {
    scratch_dir dir;
    dir.write("intro.bin", samples::make_frame_sequence(12));
    auto images = unpack(dir, "intro.bin");
    // The last record ran to the end of the file: edited, it gives that room
    // up to a frame added after it.
    images["intro011.bmp"] = edited_frame(images["intro011.bmp"], [](std::uint8_t* rows) {
        for (std::size_t k = 0; k < 16; ++k) rows[5000 + k] ^= 1;
    });
    images["intro012.bmp"] = images["intro003.bmp"];
    for (const char* name : {"intro011.bmp", "intro012.bmp"}) dir.write(name, images[name]);
    run_result packed = dir.run_pack({"intro.bin", "", "-o", "new.bin"});
    ASSERT_EQ(packed.status, 0) << packed.errors;
    EXPECT_TRUE(unpack_bytes(dir.read("new.bin"), "intro") == images);
    // Unedited, the last record still gives up that room.
    images["intro011.bmp"] = unpack_bytes(samples::make_frame_sequence(12), "intro").at("intro011.bmp");
    dir.write("intro011.bmp", images["intro011.bmp"]);
    packed = dir.run_pack({"intro.bin", "", "-o", "unedited.bin"});
    ASSERT_EQ(packed.status, 0) << packed.errors;
    EXPECT_TRUE(unpack_bytes(dir.read("unedited.bin"), "intro") == images);

    auto expect_refused = [&](const std::string& output, const std::vector<std::string>& options,
                              const std::string& says) {
        std::vector<std::string> args = {"intro.bin", "", "-o", output};
        args.insert(args.end(), options.begin(), options.end());
        const run_result refused = dir.run_pack(args);
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.errors.find(says), std::string::npos) << refused.errors;
        EXPECT_FALSE(dir.exists(output));
    };
    const fs::path at = dir.path();
    fs::remove(at / "intro005.bmp");
    expect_refused("gap.bin", {},
                   "missing frame intro005.bmp (or its .png), though later frames are there, up to intro012.bmp");
    dir.write("intro005.bmp", images["intro005.bmp"]);

    // Frames from `first` on removed, then `first` to `last` made links to
    // frame 000.
    auto link_frames = [&](int first, int last) {
        for (int k = first; k <= 4632; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "intro%03d.bmp", k);
            fs::remove(at / name);
            if (k <= last) {
                fs::create_symlink("intro000.bmp", at / name);
            }
        }
    };

    // One frame more than the file has records for.
    link_frames(13, 4632);
    expect_refused("many.bin", {},
                   "the 4633 frames intro000.bmp to intro4632.bmp do not fit: a frame_sequence file holds at most "
                   "4632 frames");

    // Frames of noise: the run stops at the first that cannot fit.
    dir.write("intro000.bmp", edited_frame(images["intro000.bmp"], [](std::uint8_t* rows) {
                  const bytes random = noise(frame_bytes, 5);
                  std::copy(random.begin(), random.end(), rows);
              }));
    link_frames(1, 199);
    expect_refused("noise.bin", {"--no-like"},
                   "the 200 frames do not fit: the first 116 need at least 9502720 bytes, the file has 9486336, so "
                   "at most 115 of them fit (--fit changes the edited frames as little as makes them fit)");
    for (const std::string& name : dir.files()) EXPECT_TRUE(name.ends_with(".bmp") || name.ends_with(".bin")) << name;
}

// Frames added to a file whose records fill it: they fit once the
// original's unchanged records are compressed again, and they are packed so;
// when they cannot fit even then, the message says what they need.
TEST(Pack, AddedFramesFitWhenOnlyTheOriginalsBytesStandInTheWay) {
    scratch_dir dir;
    dir.write("intro.bin", samples::make_frame_sequence(60));
    auto images = unpack(dir, "intro.bin");
    for (int k = 60; k <= 88; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "intro%03d.bmp", k);
        images[name] = images.at("intro0" + std::to_string(10 + k % 40) + ".bmp");
        dir.write(name, images[name]);
    }
    const run_result packed = dir.run_pack({"intro.bin", "", "-o", "new.bin"});
    ASSERT_EQ(packed.status, 0) << packed.errors;
    EXPECT_TRUE(unpack_bytes(dir.read("new.bin"), "intro") == images);
    EXPECT_NE(packed.output.find("layout frame_sequence: 89 frames"), std::string::npos) << packed.output;
}

// A PNG in a BMP's place packs as the BMP does: the original back, byte for
// byte, for an image and for frames.
TEST(Pack, APngInPlaceOfTheBmpPacksTheSame) {
    for (const sample_file& sample : originals()) {
        if (sample.stem != "four" && sample.stem != "intro") {
            continue;
        }
        SCOPED_TRACE(sample.stem);
        scratch_dir dir;
        dir.write(sample.stem + ".bin", sample.contents);
        const auto images = unpack(dir, sample.stem + ".bin");
        const std::string name = sample.stem == "four" ? "four2.bmp" : "intro003.bmp";
        const std::optional<bytes> png = png_of_bmp(images.at(name));
        if (!png) {
            GTEST_SKIP() << "no PNG writer in this build";
        }
        fs::remove(dir.host_path(name));
        dir.write(name.substr(0, name.size() - 4) + ".png", *png);
        const run_result packed = dir.run_pack({sample.stem + ".bin", "", "-o", "new.bin"});
        ASSERT_EQ(packed.status, 0) << packed.errors;
        EXPECT_TRUE(dir.read("new.bin") == sample.contents);
    }
}

// Names of any script, in folders and files, for both programs: what torv
// writes, what torv-pack finds, writes and takes as the original. (On
// Windows the programs see UTF-8 by their manifest.)
TEST(Pack, NamesOfEveryScriptWork) {
    scratch_dir dir;
    const bytes original = samples::make_four_image_block();
    dir.write("Фото\\четыре.bin", original);
    dir.write("写真\\x.bin", {1});
    const run_result converted = dir.run({"Фото\\четыре.dat", drive_letter()});
    ASSERT_EQ(converted.status, 0) << converted.output;
    EXPECT_TRUE(dir.exists(out_name("четыре0.bmp")) && dir.exists(out_name("четыре3.bmp")));
    run_result packed = dir.run_pack({"Фото\\четыре.dat", drive_letter(), "-o", "写真\\新しい.bin", "-q"});
    ASSERT_EQ(packed.status, 0) << packed.errors;
    EXPECT_TRUE(dir.read("写真\\新しい.bin") == original);
    packed = dir.run_pack({"четыре", drive_letter(), "--like", "写真\\新しい.bin", "-o", "ещё.bin", "-q"});
    ASSERT_EQ(packed.status, 0) << packed.errors;
    EXPECT_TRUE(dir.read("ещё.bin") == original);
}

// An 8-bit BMP as an editor that reorders colour tables writes it: the
// table reversed and every index turned round with it.
bytes reversed_table(const bytes& bmp) {
    bytes out = bmp;
    for (std::size_t k = 0; k < 256; ++k) {
        std::copy_n(bmp.begin() + static_cast<std::ptrdiff_t>(54 + 4 * (255 - k)), 4,
                    out.begin() + static_cast<std::ptrdiff_t>(54 + 4 * k));
    }
    for (std::size_t at = 1078; at < out.size(); ++at) out[at] = static_cast<std::uint8_t>(255 - out[at]);
    return out;
}

// The same picture as a 24-bit BMP.
bytes true_colour(const bytes& bmp) {
    const auto width = le32(bmp, 18), height = le32(bmp, 22);
    bytes out(54 + 3 * width * height, 0);
    std::copy_n(bmp.begin(), 54, out.begin());
    out[10] = 54;
    out[11] = 0;
    out[28] = 24;
    out[46] = out[47] = 0;
    for (std::size_t at = 0; at < width * height; ++at) {
        std::copy_n(bmp.begin() + static_cast<std::ptrdiff_t>(54 + 4 * bmp[1078 + at]), 3,
                    out.begin() + static_cast<std::ptrdiff_t>(54 + 3 * at));
    }
    return out;
}

TEST(Pack, PalettesReorderedOrTrueColourKeepTheOriginalsIndices) {
    scratch_dir dir;
    const bytes original = samples::make_four_image_block();
    dir.write("four.bin", original);
    auto images = unpack(dir, "four.bin");
    dir.write("four0.bmp", reversed_table(images["four0.bmp"]));
    dir.write("four2.bmp", true_colour(images["four2.bmp"]));
    run_result packed = dir.run_pack({"four.bin", "", "-o", "new.bin"});
    ASSERT_EQ(packed.status, 0) << packed.errors;
    EXPECT_TRUE(dir.read("new.bin") == original);

    // A colour the palette lacks in a true-colour image: refused, naming the
    // file, the pixel and the colour; mapped with --nearest.
    bytes odd = true_colour(images["four3.bmp"]);
    const std::size_t corner = 54 + 3 * (320 * 223);  // pixel (0, 0): the first of the top row
    odd[corner] = 0x10, odd[corner + 1] = 0x08, odd[corner + 2] = 0xF0;
    dir.write("four3.bmp", odd);
    packed = dir.run_pack({"four.bin", "", "-o", "x.bin"});
    EXPECT_EQ(packed.status, 1);
    EXPECT_EQ(packed.errors.substr(0, 54), "torv-pack: four3.bmp: pixel (0, 0) has colour #f00810,");
    EXPECT_FALSE(dir.exists("x.bin"));
    packed = dir.run_pack({"four.bin", "", "-o", "x.bin", "--nearest"});
    EXPECT_EQ(packed.status, 0) << packed.errors;
}

// torv's own image exported unedited by real editors (their files made by
// tools/make_editor_images.sh): GIMP's 16-bit BMPs, which scale each channel
// (248 is 30 of 31), ImageMagick's five-bit saves, which cut it, and a
// full-colour save with every channel moved by up to 3. With the original,
// each packs back into the original byte for byte.
TEST(Pack, UneditedExportsPackBackByteForByte) {
    scratch_dir dir;
    const bytes original = samples::make_four_image_block();
    dir.write("four.bin", original);
    auto images = unpack(dir, "four.bin");
    bytes shifted = true_colour(images.at("four2.bmp"));
    std::mt19937 random(11);
    for (std::size_t at = 54; at < shifted.size(); ++at) {
        const int moved = shifted[at] + static_cast<int>(random() % 7) - 3;
        shifted[at] = static_cast<std::uint8_t>(std::clamp(moved, 0, 255));
    }
    std::vector<std::pair<std::string, bytes>> exports = {{"four2.bmp", shifted}};
    for (const char* name :
         {"gimp-four2-r5g6b5.bmp", "gimp-four2-x1r5g5b5.bmp", "im-four2-depth5.bmp", "im-four2-depth5.png"}) {
        std::ifstream in(std::string(TORV_TEST_DATA) + "/editors/" + name, std::ios::binary);
        exports.emplace_back(std::string(name).ends_with(".png") ? "four2.png" : "four2.bmp",
                             bytes(std::istreambuf_iterator<char>(in), {}));
    }
    for (const auto& [as, contents] : exports) {
        SCOPED_TRACE(as + " " + std::to_string(contents.size()));
        if (as.ends_with(".png") && !png_of_bmp(images.at("four2.bmp"))) {
            continue;  // a build that reads no PNG
        }
        std::filesystem::remove(dir.host_path("four2.bmp"));
        dir.write(as, contents);
        const run_result packed = dir.run_pack({"four.bin", "", "-f", "-o", "new.bin"});
        ASSERT_EQ(packed.status, 0) << packed.errors;
        EXPECT_TRUE(dir.read("new.bin") == original);
        EXPECT_NE(packed.errors.find("pixels matched the palette at the game's precision"), std::string::npos)
            << packed.errors;
        std::filesystem::remove(dir.host_path(as));
    }
}

TEST(Pack, AnEditedImageKeepsWhatNoImageCarries) {
    scratch_dir dir;
    const bytes original = samples::make_three_panel_block();
    dir.write("panels.bin", original);
    auto images = unpack(dir, "panels.bin");
    images["panels2.bmp"] = edited_frame(images["panels2.bmp"], [](std::uint8_t* rows) { rows[100] ^= 3; });
    dir.write("panels2.bmp", images["panels2.bmp"]);
    const run_result packed = dir.run_pack({"panels.bin", "", "-o", "new.bin"});
    ASSERT_EQ(packed.status, 0) << packed.errors;
    const bytes file = dir.read("new.bin");
    // The two palettes (bit 15 of their entries included) and the unused
    // header bytes stay; the block changes.
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 1184, file.begin()));
    EXPECT_FALSE(std::equal(original.begin(), original.end(), file.begin()));
    EXPECT_TRUE(unpack_bytes(file, "panels") == images);
}

TEST(Pack, ABlockThatDoesNotFitSaysByHowMuch) {
    scratch_dir dir;
    dir.write("pic.bin", samples::make_single_picture_block());
    auto images = unpack(dir, "pic.bin");
    dir.write("pic.bmp", edited_frame(images["pic.bmp"], [](std::uint8_t* rows) {
                  const bytes random = noise(640 * 480, 2);
                  std::copy(random.begin(), random.end(), rows);
              }));
    const run_result packed = dir.run_pack({"pic.bin", "", "-o", "new.bin"});
    EXPECT_EQ(packed.status, 1);
    EXPECT_NE(packed.errors.find("pic.bmp: the compressed block needs"), std::string::npos) << packed.errors;
    EXPECT_NE(packed.errors.find("room for 134573: "), std::string::npos) << packed.errors;
    EXPECT_FALSE(dir.exists("new.bin"));
}

TEST(Pack, BadInputGetsOneLineAndLeavesNothing) {
    scratch_dir dir;
    const bytes original = samples::make_four_image_block();
    dir.write("four.bin", original);
    const auto images = unpack(dir, "four.bin");
    auto expect_refused = [&](const std::vector<std::string>& args, const std::string& says, int status = 1) {
        SCOPED_TRACE(says);
        const run_result result = dir.run_pack(args);
        EXPECT_EQ(result.status, status);
        EXPECT_NE(result.errors.find(says), std::string::npos) << result.errors;
        EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
        EXPECT_TRUE(dir.read("four.bin") == original);
        for (const std::string& name : dir.files()) EXPECT_EQ(name.find("tmp"), std::string::npos) << name;
    };
    // -o naming the original itself, with -f: untouched by any failure.
    const std::vector<std::string> onto_original = {"four.bin", "", "-f", "-o", "four.bin"};

    dir.write("four1.png", images.at("four1.bmp"));
    expect_refused(onto_original, "both four1.bmp and four1.png");
    std::filesystem::remove(dir.host_path("four1.png"));

    std::filesystem::remove(dir.host_path("four2.bmp"));
    expect_refused(onto_original, "missing image four2.bmp");
    dir.write("four2.bmp", images.at("four0.bmp"));
    expect_refused(onto_original, "four2.bmp: the image is 112x144, it must be 320x224");
    bytes broken = images.at("four2.bmp");
    broken.resize(2000);
    dir.write("four2.bmp", broken);
    expect_refused(onto_original, "four2.bmp: BMP pixel data cut short");
    dir.write("four2.bmp", images.at("four2.bmp"));

    dir.write("taken.bin", {1, 2, 3});
    expect_refused({"four.bin", "", "-o", "taken.bin"}, "taken.bin exists");
    expect_refused({"four.bin", "", "--layout", "raw_triple", "-o", "y.bin"},
                   "--layout says raw_triple, but the original four.bin is a four_image_block file");
    expect_refused({"four.bin", "-o", "y.bin"}, "wants two arguments", 2);
    expect_refused({"-dash.dat", "", "-o", "y.bin"},
                   "unknown option -d (a file name that starts with '-' goes after '--')", 2);
    expect_refused({"four.bin", "", "--like", "gone\n.bin", "-o", "y.bin"},
                   "cannot open the original gone\\x0a.bin: ");  // on one line, and why

    // Without an original, what is there but does not count is named.
    const bytes four0 = dir.read("four0.bmp");
    dir.write("four0.bmp", {'B', 'M', 0, 0});
    expect_refused({"four.bin", "", "--no-like", "-o", "y.bin"},
                   "of any layout (torv names them four0.bmp, four.bmp or four000.bmp); four0.bmp: not a BMP file");
    dir.write("four0.bmp", four0);
    dir.write("four0.png", four0);
    expect_refused({"four.bin", "", "--no-like", "-o", "y.bin"},
                   "found no images named four... of any layout (torv names them four0.bmp, four.bmp or "
                   "four000.bmp); both four0.bmp and four0.png are there");
    std::filesystem::remove(dir.host_path("four0.png"));

    // And when all is well, the original is replaced in one piece.
    const run_result result = dir.run_pack(onto_original);
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_TRUE(dir.read("four.bin") == original);
}

}  // namespace
}  // namespace torv::test
