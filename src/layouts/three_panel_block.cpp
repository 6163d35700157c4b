// A 1184-byte plain header with two palettes, then one block holding three
// images: 224x96 with palette A, then 384x256 and 320x256 with palette B.
#include <cstring>

#include "bmp/bmp_writer.h"
#include "decode/lzss.h"
#include "layouts/layouts.h"

namespace torv {

namespace {

constexpr std::size_t palette_b_offset = 512;  // in the header
constexpr std::size_t first_offset = 0;        // in the block
constexpr std::size_t second_offset = 21'504;
constexpr std::size_t third_offset = 119'808;
constexpr std::size_t block_extent = 201'728;

}  // namespace

void convert_three_panel_block(conversion_context& ctx) {
    // Palette A lands in bytes 0-511, palette B in 512-1023; the rest of the
    // header is not used.
    read_plain(ctx, ctx.header_area, header_size);
    decode_block(ctx, block_extent);

    set_image_size(ctx, 224, 96);
    block_image_to_canvas(ctx, first_offset);
    write_bmp(ctx, 1000);

    std::memcpy(ctx.header_area, ctx.header_area + palette_b_offset, palette_bytes);

    set_image_size(ctx, 384, 256);
    block_image_to_canvas(ctx, second_offset);
    write_bmp(ctx, 1001);

    set_image_size(ctx, 320, 256);
    block_image_to_canvas(ctx, third_offset);
    write_bmp(ctx, 1002);
}

}  // namespace torv
