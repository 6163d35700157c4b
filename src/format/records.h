// Reading a source file by its layout's description: the records it holds,
// their palettes and blocks, and the pixels of each image. What the file or a
// block does not hold reads as 0.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "codec/lzss_decode.h"
#include "format/layouts.h"
#include "io/input.h"
#include "libtorv/types.h"

namespace torv {

struct record_data {
    std::int64_t start = 0;
    std::array<rgb15_palette, max_palettes> palettes{};  // entries as stored, bit 15 included
    decoded_block block;                                 // empty for a layout without one
    std::int64_t end = 0;   // after the record's last byte: its block's, or its plain header's
    std::int64_t next = 0;  // where the next record starts, in a walk of records
};

// Reads the record at `start`. Keeps as much of its block as `max_kept` says
// (by default what the images use). Nothing if a walk of records ends there:
// its first palette is cut short.
std::optional<record_data> read_record(const layout& format, input_stream& in, std::int64_t start,
                                       std::size_t max_kept = 0);

// Where a record begins, and its number: a walk can start again there
// without reading the records before it.
using libtorv::record_point;

// Calls visit(record, number) for every record of the file in order from
// `from`: the one record of most layouts, or each record of a walk until it
// ends or visit returns false. `max_kept` as for read_record.
void for_each_record(const layout& format, input_stream& in,
                     const std::function<bool(const record_data&, std::int32_t)>& visit, std::size_t max_kept = 0,
                     record_point from = {});

// The stored bytes of `image` (rows or tiles, as the layout keeps them).
void stored_pixels(const image_place& image, const record_data& record, input_stream& in, std::span<std::uint8_t> dest);

// The pixels of `image` as rows, top row first, into `pixels` (width x
// height bytes).
void image_pixels(const image_place& image, const record_data& record, input_stream& in,
                  std::span<std::uint8_t> pixels);

// ---------------------------------------------------------------------------
// The other way: what a record stores for its palettes (entries as stored)
// and its images (rows, top row first, one per image of the layout).

// An image's rows as the layout stores them: rows, or tiles.
std::vector<std::uint8_t> stored_form(const image_place& image, std::span<const std::uint8_t> rows);

// Writes the palettes and images that lie in the record's plain bytes into
// `plain` (header_extent() bytes); bytes that none of them covers are left
// as they are, so that what an original holds there can stay.
void lay_out_plain(const layout& format, std::span<const rgb15_palette> palettes,
                   std::span<const std::vector<std::uint8_t>> rows, std::span<std::uint8_t> plain);

// The decoded block the palettes and images that lie in it make:
// block_extent() bytes.
std::vector<std::uint8_t> lay_out_block(const layout& format, std::span<const rgb15_palette> palettes,
                                        std::span<const std::vector<std::uint8_t>> rows);

}  // namespace torv
