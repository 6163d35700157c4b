// The five source layouts, each described once, as data: converting reads
// these descriptions and so does packing. A layout is recognised by its exact
// file size alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "image/image.h"
#include "image/palette.h"

namespace torv {

// Where a palette or an image lies: in the plain bytes of the file (at an
// offset from the start of its record), or in the record's decoded block.
enum class source : std::uint8_t { file, block };

// How an image's pixels are stored: row-major, top row first; or as 16x8
// tiles (see format/tiles.h).
enum class pixel_order : std::uint8_t { rows, tiles };

// How an image's output name goes on after the prefix: with nothing
// ("e:pic.bmp"), with one digit of its own ("e:pic0.bmp"), or with the number
// of its record in three digits or more ("e:pic000.bmp", ..., "e:pic1000.bmp").
enum class name_part : std::uint8_t { none, digit, record_number };

struct palette_place {
    source from;
    std::size_t offset;  // 256 rgb15 entries, 512 bytes
};

struct image_place {
    std::int32_t width;
    std::int32_t height;
    source from;
    std::size_t offset;
    std::size_t palette;  // index into the layout's palettes
    pixel_order order;
    name_part naming;
    std::uint8_t digit = 0;  // with name_part::digit
};

struct layout {
    std::string_view name;
    std::int64_t file_size;
    // Where the record's one compressed block starts, if it has one; the
    // bytes before it are the record's plain header.
    std::optional<std::size_t> block_offset;
    std::span<const palette_place> palettes;
    std::span<const image_place> images;
    // 0: the file is one record. Otherwise the file is a walk of records from
    // offset 0, each starting at the first multiple of this after the end of
    // the block before it, until the first palette of a record is cut short.
    std::int64_t record_alignment;
};

// ---------------------------------------------------------------------------
// The descriptions.

inline constexpr std::size_t max_palettes = 3;

// Images: width, height, where they lie, at which offset, which palette, how
// their pixels are stored, and how their names end.

inline constexpr palette_place frame_sequence_palettes[] = {{source::file, 0}};
inline constexpr image_place frame_sequence_images[] = {
    {320, 224, source::block, 0, 0, pixel_order::tiles, name_part::record_number},
};
inline constexpr layout frame_sequence_layout{
    .name = "frame_sequence",
    .file_size = 9'486'336,
    .block_offset = 512,
    .palettes = frame_sequence_palettes,
    .images = frame_sequence_images,
    .record_alignment = 2048,
};

inline constexpr palette_place raw_triple_palettes[] = {{source::file, 0}, {source::file, 512}, {source::file, 1024}};
inline constexpr image_place raw_triple_images[] = {
    {640, 480, source::file, 1'536, 0, pixel_order::rows, name_part::digit, 0},
    {640, 480, source::file, 308'736, 1, pixel_order::rows, name_part::digit, 1},
    {640, 480, source::file, 615'936, 2, pixel_order::rows, name_part::digit, 2},
};
inline constexpr layout raw_triple_layout{
    .name = "raw_triple",
    .file_size = 923'136,
    .block_offset = std::nullopt,
    .palettes = raw_triple_palettes,
    .images = raw_triple_images,
    .record_alignment = 0,
};

// File bytes 1024-1183 belong to no palette and no image.
inline constexpr palette_place three_panel_block_palettes[] = {{source::file, 0}, {source::file, 512}};
inline constexpr image_place three_panel_block_images[] = {
    {224, 96, source::block, 0, 0, pixel_order::rows, name_part::digit, 0},
    {384, 256, source::block, 21'504, 1, pixel_order::rows, name_part::digit, 1},
    {320, 256, source::block, 119'808, 1, pixel_order::rows, name_part::digit, 2},
};
inline constexpr layout three_panel_block_layout{
    .name = "three_panel_block",
    .file_size = 87'796,
    .block_offset = 1'184,
    .palettes = three_panel_block_palettes,
    .images = three_panel_block_images,
    .record_alignment = 0,
};

inline constexpr palette_place single_picture_block_palettes[] = {{source::block, 0}};
inline constexpr image_place single_picture_block_images[] = {
    {640, 480, source::block, 512, 0, pixel_order::rows, name_part::none},
};
inline constexpr layout single_picture_block_layout{
    .name = "single_picture_block",
    .file_size = 134'573,
    .block_offset = 0,
    .palettes = single_picture_block_palettes,
    .images = single_picture_block_images,
    .record_alignment = 0,
};

inline constexpr palette_place four_image_block_palettes[] = {{source::file, 0}};
inline constexpr image_place four_image_block_images[] = {
    {112, 144, source::block, 0, 0, pixel_order::rows, name_part::digit, 0},
    {112, 144, source::block, 16'128, 0, pixel_order::rows, name_part::digit, 1},
    {320, 224, source::block, 32'256, 0, pixel_order::rows, name_part::digit, 2},
    {320, 224, source::block, 103'936, 0, pixel_order::rows, name_part::digit, 3},
};
inline constexpr layout four_image_block_layout{
    .name = "four_image_block",
    .file_size = 57'652,
    .block_offset = 512,
    .palettes = four_image_block_palettes,
    .images = four_image_block_images,
    .record_alignment = 0,
};

// In the order they are tested against a file's size.
inline constexpr const layout* all_layouts[] = {&frame_sequence_layout, &raw_triple_layout, &three_panel_block_layout,
                                                &single_picture_block_layout, &four_image_block_layout};

// ---------------------------------------------------------------------------
// What follows from a description.

// The layout of a file of `size` bytes, or nullptr if none has that size.
const layout* find_layout(std::int64_t size);

// The layout called `name`, or nullptr.
const layout* layout_named(std::string_view name);

// True for a file that is a walk of records (the frame sequence), false for
// a file of one record.
inline bool is_record_walk(const layout& format) {
    return format.record_alignment != 0;
}

inline std::size_t image_bytes(const image_place& image) {
    return pixel_count(image.width, image.height);
}

// The bytes of the decoded block that the layout uses: the end of the last
// palette or image that lies in it.
std::size_t block_extent(const layout& format);

// The bytes of plain data a record starts with: everything before its block,
// or the whole file for a layout without one.
std::size_t header_extent(const layout& format);

// Where the record after one that ends at `end` starts: `end` rounded up to
// the layout's record alignment (or `end` itself for a file of one record).
std::int64_t next_record_start(const layout& format, std::int64_t end);

// The most pixels any image of any layout has: the canvas every image is
// assembled in.
std::size_t largest_image_bytes();

// The name torv writes image `image` of record `record` under.
std::string output_name(std::string_view prefix, const image_place& image, std::int32_t record);

}  // namespace torv
