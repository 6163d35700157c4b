// Writes an indexed image with a palette of rgb15 entries as an uncompressed
// 8-bit BMP with a 256-entry colour table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image.h"
#include "image/palette.h"
#include "io/little_endian.h"
#include "io/result.h"

namespace torv {

inline constexpr std::size_t bmp_file_header_size = 14;
inline constexpr std::size_t bmp_info_header_size = 40;
inline constexpr std::size_t bmp_colour_count = 256;
inline constexpr std::size_t bmp_colour_table_size = bmp_colour_count * 4;
inline constexpr std::size_t bmp_pixel_offset =
    bmp_file_header_size + bmp_info_header_size + bmp_colour_table_size;  // 1078

// One rgb15 palette entry as a BMP colour-table entry: blue, green, red, 0.
// Each 5-bit component is shifted left by 3, so full intensity is 0xF8.
void put_rgbquad(std::uint8_t* out, std::uint16_t rgb15);

// Bytes of one stored pixel row: rows are filled to a multiple of 4.
std::size_t bmp_row_stride(std::int32_t width);

// The size of the whole file for an image of `width` x `height`.
std::size_t bmp_file_size(std::int32_t width, std::int32_t height);

// The whole BMP file laid out in `out`, which holds bmp_file_size() bytes.
void lay_out_bmp(const indexed_image& image, const rgb15_palette& palette, std::uint8_t* out);

// Writes the BMP as the file `name`, replacing one of that name: the file is
// complete or, on a failure, left as it was.
result<> write_bmp(const std::string& name, const indexed_image& image, const rgb15_palette& palette);

}  // namespace torv
