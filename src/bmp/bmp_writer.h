// Writes the canvas, with the current palette, as an uncompressed 8-bit BMP.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/context.h"

namespace torv {

inline constexpr std::size_t bmp_file_header_size = 14;
inline constexpr std::size_t bmp_info_header_size = 40;
inline constexpr std::size_t bmp_colour_count = 256;
inline constexpr std::size_t bmp_colour_table_size = bmp_colour_count * 4;
inline constexpr std::size_t bmp_pixel_offset =
    bmp_file_header_size + bmp_info_header_size + bmp_colour_table_size;  // 1078

// Little-endian stores into a byte buffer; each returns the position after
// what it wrote.
std::uint8_t* put_u16le(std::uint8_t* out, std::uint32_t value);
std::uint8_t* put_u32le(std::uint8_t* out, std::uint32_t value);

// One rgb15 palette entry (red in bits 0-4, green 5-9, blue 10-14, bit 15
// ignored) as a BMP colour-table entry: blue, green, red, 0. Each 5-bit
// component is shifted left by 3, so full intensity is 0xF8.
void put_rgbquad(std::uint8_t* out, std::uint16_t rgb15);

// The output name for a suffix code: below 0 no suffix; 0-999 three
// zero-padded digits; 1000 and up a single character, '0' + (code - 1000).
std::string bmp_name(const std::string& prefix, std::int32_t suffix_code);

// The output name of frame `number` of a sequence: at least three digits,
// zero-padded, so that 999 is followed by 1000.
std::string frame_bmp_name(const std::string& prefix, std::int32_t number);

// The whole BMP file for the canvas of `ctx` (cur_width x cur_height) and the
// palette in header_area bytes 0-511, laid out in `out`, which must hold
// bmp_file_size(ctx) bytes.
std::size_t bmp_file_size(const conversion_context& ctx);
void lay_out_bmp(const conversion_context& ctx, std::uint8_t* out);

// Creates (or replaces) the file `name` and writes the BMP to it. A file that
// cannot be created, or a write that fails, ends the run; a failed file is
// removed first.
void write_bmp_file(conversion_context& ctx, const std::string& name);

// write_bmp_file under the name bmp_name(name_prefix, suffix_code).
void write_bmp(conversion_context& ctx, std::int32_t suffix_code);

}  // namespace torv
