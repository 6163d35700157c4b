#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "block_file.h"
#include "byte_utils.h"
#include "codec/lzss_encode.h"
#include "lzss_reference.h"

namespace torv::test {
namespace {

using bytes = std::vector<std::uint8_t>;

bytes at_offset(std::size_t offset, const bytes& block) {
    return concat(bytes(offset, 0x77), block);
}

TEST(Lzss, LengthIsLittleEndian) {
    // 259 declared; the stream could give 432 zeros.
    bytes block = {0x03, 0x01, 0x00, 0x00};
    for (int group = 0; group < 3; ++group) {
        block = concat(block, {0x00, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F});
    }
    EXPECT_EQ(decode_file(block).data, bytes(259, 0));
}

TEST(Lzss, WorkedExamples) {
    const bytes ababa = {0x05, 0x00, 0x00, 0x00, 0x03, 0x41, 0x42, 0xEE, 0xF0};
    EXPECT_EQ(decode_file(ababa).data, (bytes{'A', 'B', 'A', 'B', 'A'}));
    // It ends 9 bytes after its start: at 2048 exactly, or one past it.
    EXPECT_EQ(decode_file(at_offset(2039, ababa), 2039).next_offset, 2048);
    EXPECT_EQ(decode_file(at_offset(2040, ababa), 2040).next_offset, 4096);

    EXPECT_EQ(decode_file({0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0F}).data, bytes(18, 0));
}

TEST(Lzss, EmptyBlockReadsNoFlagByte) {
    const decoded_block empty = decode_file(at_offset(2044, {0, 0, 0, 0, 0xFF}), 2044);
    EXPECT_TRUE(empty.data.empty());
    EXPECT_EQ(empty.next_offset, 2048);
    EXPECT_EQ(decode_file(at_offset(2045, {0, 0, 0, 0}), 2045).next_offset, 4096);
    EXPECT_EQ(decode_file({0, 0, 0, 0}).next_offset, 2048);
}

TEST(Lzss, StopsMidGroupAsSoonAsEnoughIsOut) {
    // Two of three literals are wanted; the third must stay unread.
    const bytes block = {0x02, 0, 0, 0, 0xFF, 'x', 'y', 'z'};
    EXPECT_EQ(decode_file(at_offset(2041, block), 2041).next_offset, 2048);
    EXPECT_EQ(decode_file(block).data, (bytes{'x', 'y'}));
}

TEST(Lzss, NinthItemTakesBitZeroOfTheNextFlagByte) {
    bytes block = concat(length_field(12), {0xFF, '0', '1', '2', '3', '4', '5', '6', '7'});
    // Second group: bit 0 clear (a match of 3 at 4078: "012"), bit 1 set.
    block = concat(block, {0x02, 0xEE, 0xF0, '!'});
    EXPECT_EQ(decode_file(block).data, (bytes{'0', '1', '2', '3', '4', '5', '6', '7', '0', '1', '2', '!'}));
}

TEST(Lzss, OverlappingMatchRepeatsWhatItJustWrote) {
    // 'X' at 4078, then 18 bytes from 4078 while the cursor is at 4079.
    const bytes block = concat(length_field(19), {0x01, 'X', 0xEE, 0xFF});
    EXPECT_EQ(decode_file(block).data, bytes(19, 'X'));
}

TEST(Lzss, CursorAndMatchesWrapAroundTheDictionary) {
    bytes literals;
    for (int k = 0; k < 22; ++k) {
        literals.push_back(static_cast<std::uint8_t>('a' + k));  // 18 at 4078-4095, then 4 at 0-3
    }
    bytes block = length_field(29);
    block = concat(block, {0xFF});
    block.insert(block.end(), literals.begin(), literals.begin() + 8);
    block = concat(block, {0xFF});
    block.insert(block.end(), literals.begin() + 8, literals.begin() + 16);
    block = concat(block, {0x3F});
    block.insert(block.end(), literals.begin() + 16, literals.end());
    block = concat(block, {0xFD, 0xF4});  // 7 bytes from 4093: across the wrap

    bytes expected = literals;
    expected.insert(expected.end(), literals.begin() + 15, literals.begin() + 22);
    EXPECT_EQ(decode_file(block).data, expected);
}

TEST(Lzss, NeverWrittenPositionsReadAsZero) {
    const bytes block = concat(length_field(6), {0x03, 'p', 'q', 0x00, 0x81});  // 4 bytes from 2048
    EXPECT_EQ(decode_file(block).data, (bytes{'p', 'q', 0, 0, 0, 0}));
}

TEST(Lzss, BlocksInARowDoNotShareTheDictionary) {
    const bytes first = concat(length_field(3), {0x07, 'a', 'b', 'c'});
    const bytes second = concat(length_field(3), {0x00, 0xEE, 0xF0});  // 4078: "abc" if it leaked
    block_reader reader(concat(first, second));
    EXPECT_EQ(reader.next().data, (bytes{'a', 'b', 'c'}));
    EXPECT_EQ(reader.next().data, bytes(3, 0));
}

TEST(Lzss, LastMatchPastTheLengthIsNotPartOfTheBlock) {
    const bytes block = concat(length_field(5), {0x03, 'a', 'b', 0xEE, 0xFF, 0xEE});
    const decoded_block decoded = decode_file(block);
    EXPECT_EQ(decoded.data, (bytes{'a', 'b', 'a', 'b', 'a'}));
}

TEST(Lzss, StreamEndingEarlyEndsTheBlockWhereItEnds) {
    // Four literals, then a match cut after its first byte.
    const bytes block = concat(length_field(100), {0x0F, 'a', 'b', 'c', 'd', 0xEE});
    const decoded_block decoded = decode_file(at_offset(2040, block), 2040);
    EXPECT_EQ(decoded.data, (bytes{'a', 'b', 'c', 'd'}));
    EXPECT_EQ(decoded.next_offset, 4096);  // the end of the file, 2050, rounded up

    // A length field cut short is an empty block.
    EXPECT_TRUE(decode_file({0x05, 0x00}).data.empty());
}

TEST(Lzss, HugeDeclaredLengthKeepsOnlyWhatTheInputYields) {
    // 4 GiB - 1 declared, 200 stream bytes of longest matches.
    bytes block = length_field(0xFFFFFFFFu);
    for (int group = 0; group < 12; ++group) {
        block = concat(block, {0x00, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F});
    }
    const decoded_block decoded = decode_file(block);
    EXPECT_EQ(decoded.data, bytes(12 * 8 * 18, 0));
    EXPECT_EQ(decoded.next_offset, 2048);
}

TEST(Lzss, KeepingLessStillFindsTheEndOfTheBlock) {
    bytes data(70'000);
    std::mt19937 random(7);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(random() % 5);
    }
    const bytes block = lzss_encode(data);
    const decoded_block whole = decode_file(block);
    const decoded_block part = decode_file(block, 0, 1000);
    EXPECT_EQ(whole.data, data);
    EXPECT_EQ(part.data, bytes(data.begin(), data.begin() + 1000));
    EXPECT_EQ(part.next_offset, whole.next_offset);
}

TEST(Lzss, AgreesWithAPlainReadingOnArbitraryStreams) {
    std::mt19937 random(2024);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        const std::size_t stream_size = random() % 3000;
        const std::uint32_t declared =
            round % 3 == 0 ? static_cast<std::uint32_t>(random()) : static_cast<std::uint32_t>(random() % 20'000);
        bytes block = length_field(declared);
        const unsigned literal_bias = random() % 256;  // flag bytes from all-match to all-literal
        for (std::size_t k = 0; k < stream_size; ++k) {
            block.push_back(static_cast<std::uint8_t>(k % 17 == 0 ? random() % 256 & literal_bias : random()));
        }
        const samples::reference_result expected = samples::reference_decode(block);
        const decoded_block decoded = decode_file(block);
        ASSERT_EQ(decoded.data, expected.data);
        ASSERT_EQ(decoded.next_offset, static_cast<std::int64_t>((expected.consumed + 2047) / 2048 * 2048));
    }
}

TEST(LzssEncoder, RoundTripsVariedData) {
    std::mt19937 random(99);
    std::vector<bytes> inputs;
    inputs.push_back({});
    inputs.push_back({42});
    inputs.push_back(bytes(10'000, 0));  // matches straight into the zeroed dictionary
    inputs.push_back(bytes(10'000, 0xAB));
    bytes noise(50'000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    inputs.push_back(noise);
    bytes text;
    const std::string words[] = {"tile ", "frame ", "palette ", "block ", "row "};
    while (text.size() < 60'000) {
        const std::string& w = words[random() % 5];
        text.insert(text.end(), w.begin(), w.end());
    }
    inputs.push_back(text);
    bytes periodic(40'000);
    for (std::size_t k = 0; k < periodic.size(); ++k) periodic[k] = static_cast<std::uint8_t>(k % 4099 % 251);
    inputs.push_back(periodic);

    for (const bytes& input : inputs) {
        SCOPED_TRACE(input.size());
        EXPECT_EQ(decode_file(lzss_encode(input)).data, input);
        EXPECT_EQ(decode_file(lzss_encode_literals(input)).data, input);
    }
}

TEST(LzssEncoder, CompressesRepetitiveData) {
    const bytes zeros(18'000, 0);
    // Every item a longest match: 1000 matches of 2 bytes and 125 flag bytes.
    EXPECT_EQ(lzss_encode(zeros).size(), 4u + 2000u + 125u);
}

}  // namespace
}  // namespace torv::test
