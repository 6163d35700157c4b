// The tiled frame sequence: tile placement, the record walk on 2048-byte
// boundaries, each frame's palette, and the numbering of many frames.
#include <gtest/gtest.h>

#include <random>

#include "byte_utils.h"
#include "codec/lzss_encode.h"
#include "harness.h"
#include "samples.h"

namespace torv::test {
namespace {

constexpr std::size_t file_size = 9'486'336;
constexpr std::size_t frame_size = 320 * 224;

// The frame a decoded block shows: pixel (x, y) is block byte
// ((y / 8) * 20 + x / 16) * 128 + (y % 8) * 16 + x % 16, or 0 past its end.
bytes frame_of(const bytes& block) {
    bytes frame(frame_size);
    for (std::size_t y = 0; y < 224; ++y) {
        for (std::size_t x = 0; x < 320; ++x) {
            const std::size_t at = ((y / 8) * 20 + x / 16) * 128 + (y % 8) * 16 + x % 16;
            frame[y * 320 + x] = at < block.size() ? block[at] : 0;
        }
    }
    return frame;
}

// A last record whose block declares more than the file holds and whose
// literals run to the end of the file: the walk stops there.
bytes finish_file(bytes file) {
    file = concat(file, random_palette(999));
    file = concat(file, length_field(0xFFFFFFFFu));
    for (std::size_t k = 0; file.size() < file_size; ++k) {
        file.push_back(k % 9 == 0 ? 0xFF : 0x33);
    }
    return file;
}

bytes pad_to_unit(bytes record) {
    record.resize((record.size() + 2047) / 2048 * 2048, 0);
    return record;
}

void expect_frame(const scratch_dir& dir, const std::string& name, const bytes& colours, const bytes& pixels) {
    SCOPED_TRACE(name);
    const bytes written = dir.read(out_name(name));
    ASSERT_EQ(written.size(), 72'758u);
    EXPECT_TRUE(written == expected_bmp(320, 224, colours, pixels));
}

TEST(FrameSequence, TilesLandWhereTheirIndexSays) {
    bytes block(frame_size);
    for (std::size_t k = 0; k < block.size(); ++k) {
        block[k] = static_cast<std::uint8_t>(k * 7 + k / 251);
    }
    const bytes colours = random_palette(1);
    scratch_dir dir;
    dir.write("intro.bin", finish_file(pad_to_unit(concat(colours, lzss_encode(block)))));
    const run_result result = dir.run({"intro.dat", drive_letter()});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");

    const bytes frame = frame_of(block);
    EXPECT_EQ(frame[0], block[0]);
    EXPECT_EQ(frame[1 * 320 + 0], block[16]);
    EXPECT_EQ(frame[0 * 320 + 16], block[128]);
    EXPECT_EQ(frame[8 * 320 + 0], block[2560]);
    expect_frame(dir, "intro000.bmp", colours, frame);
    EXPECT_EQ(dir.files().size(), 3u);  // the source, frame 0 and the closing record's frame
}

TEST(FrameSequence, RecordsStartAtTheNextBoundaryWithTheirOwnPalettes) {
    // Record 0: a block of literals that ends at 2049, so record 1 starts at
    // 4096. Record 1 (at 4096) ends at 8192 exactly, so record 2 starts there.
    bytes first(1362);   // 4 + 1362 + 171 flag bytes = 1537 block bytes: 512 + 1537 = 2049
    bytes second(3182);  // 512 + 4 + 3182 + 398 = 4096
    for (std::size_t k = 0; k < first.size(); ++k) first[k] = static_cast<std::uint8_t>(k);
    for (std::size_t k = 0; k < second.size(); ++k) second[k] = static_cast<std::uint8_t>(255 - k % 256);
    const bytes record0 = concat(random_palette(2), lzss_encode_literals(first));
    const bytes record1 = concat(random_palette(3), lzss_encode_literals(second));
    ASSERT_EQ(record0.size(), 2049u);
    ASSERT_EQ(record1.size(), 4096u);

    bytes file = pad_to_unit(record0);
    file.resize(4096, 0xEE);  // between the block's end and the boundary: never read
    file = concat(file, record1);
    scratch_dir dir;
    dir.write("seq.bin", finish_file(file));
    ASSERT_EQ(dir.run({"seq", drive_letter()}).status, 0);

    expect_frame(dir, "seq000.bmp", random_palette(2), frame_of(first));
    expect_frame(dir, "seq001.bmp", random_palette(3), frame_of(second));
    // The closing record starts at 8192, right after record 1.
    EXPECT_EQ(dir.read(out_name("seq002.bmp"))[54], expected_bmp(1, 1, random_palette(999), {0})[54]);
    EXPECT_EQ(dir.files().size(), 4u);
}

TEST(FrameSequence, ShortBlockLeavesTheRestOfTheFrameZero) {
    bytes block(100, 0x42);
    scratch_dir dir;
    dir.write("s.bin", finish_file(pad_to_unit(concat(random_palette(4), lzss_encode(block)))));
    ASSERT_EQ(dir.run({"s", drive_letter()}).status, 0);
    expect_frame(dir, "s000.bmp", random_palette(4), frame_of(block));
}

TEST(FrameSequence, LastBlockEndingAtTheEndOfTheFileEndsTheWalk) {
    // A first record of m literals, then one literal block that fills the rest
    // of the file exactly. A literal block of n bytes takes n + ceil(n / 8)
    // stream bytes, which misses some sizes: m is chosen so that it fits.
    auto literal_stream = [](std::size_t n) { return n + (n + 7) / 8; };
    bytes file;
    std::size_t n = 0;
    std::size_t m = 1000;
    for (;; ++m) {
        file = pad_to_unit(concat(random_palette(5), lzss_encode_literals(bytes(m, 9))));
        const std::size_t stream = file_size - file.size() - 512 - 4;
        n = stream * 8 / 9;
        while (literal_stream(n) < stream) ++n;
        if (literal_stream(n) == stream)
            break;
    }
    bytes data(n);
    for (std::size_t k = 0; k < n; ++k) data[k] = static_cast<std::uint8_t>(k % 253);
    file = concat(file, random_palette(6));
    file = concat(file, lzss_encode_literals(data));
    ASSERT_EQ(file.size(), file_size);

    scratch_dir dir;
    dir.write("end.bin", file);
    ASSERT_EQ(dir.run({"end", drive_letter()}).status, 0);
    expect_frame(dir, "end000.bmp", random_palette(5), frame_of(bytes(m, 9)));
    expect_frame(dir, "end001.bmp", random_palette(6), frame_of(data));
    EXPECT_EQ(dir.files().size(), 3u);
}

TEST(FrameSequence, ZeroRecordsAreFramesAndNumbersGoOnPast999) {
    // 1001 records of zeros (2048 bytes each: a zero palette and an empty
    // block), then the closing record.
    bytes file(1001 * 2048, 0);
    scratch_dir dir;
    dir.write("z.bin", finish_file(file));
    const run_result result = dir.run({"z", drive_letter()});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");

    expect_frame(dir, "z000.bmp", bytes(512, 0), bytes(frame_size, 0));
    expect_frame(dir, "z999.bmp", bytes(512, 0), bytes(frame_size, 0));
    expect_frame(dir, "z1000.bmp", bytes(512, 0), bytes(frame_size, 0));
    EXPECT_TRUE(dir.exists(out_name("z1001.bmp")));  // the closing record
    EXPECT_FALSE(dir.exists(out_name("z0.bmp")));
    EXPECT_EQ(dir.files().size(), 1u + 1002u);
}

TEST(FrameSequence, SampleAnimationFramesByteForByte) {
    scratch_dir dir;
    dir.write("anim.bin", samples::make_frame_sequence(12));
    ASSERT_EQ(dir.run({"anim", drive_letter()}).status, 0);
    EXPECT_EQ(dir.files().size(), 13u);
    for (int k = 0; k < 12; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "anim%03d.bmp", k);
        expect_frame(dir, name, samples::make_palette(k / 20, k * 4), samples::make_picture(320, 224, k / 20, k));
    }
}

TEST(FrameSequence, HugeDeclaredBlockNeedsNoHugeMemory) {
    // The first block declares 4 GiB - 1 and its longest matches run through
    // the whole file.
    bytes file = concat(random_palette(7), length_field(0xFFFFFFFFu));
    while (file.size() < file_size) {
        file.push_back((file.size() - 516) % 17 == 0 ? 0x00 : ((file.size() - 516) % 17) % 2 == 1 ? 0x00 : 0x0F);
    }
    scratch_dir dir;
    dir.write("big.bin", file);
    const run_result result = dir.run({"big", drive_letter()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(dir.files().size(), 2u);
    if (memory_is_measurable()) {
        EXPECT_LT(result.peak_rss_kib, 16 * 1024);
    }
}

}  // namespace
}  // namespace torv::test
