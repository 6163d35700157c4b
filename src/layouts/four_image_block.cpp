// A plain palette for all four images, then one block holding two 112x144
// and two 320x224 images.
#include "bmp/bmp_writer.h"
#include "decode/lzss.h"
#include "layouts/layouts.h"

namespace torv {

namespace {

constexpr std::size_t small_size = 112 * 144;
constexpr std::size_t large_size = 320 * 224;
constexpr std::size_t block_extent = 2 * small_size + 2 * large_size;  // 175,616

}  // namespace

void convert_four_image_block(conversion_context& ctx) {
    read_plain(ctx, ctx.header_area, palette_bytes);
    decode_block(ctx, block_extent);

    set_image_size(ctx, 112, 144);
    block_image_to_canvas(ctx, 0);
    write_bmp(ctx, 1000);
    block_image_to_canvas(ctx, small_size);
    write_bmp(ctx, 1001);

    set_image_size(ctx, 320, 224);
    block_image_to_canvas(ctx, 2 * small_size);
    write_bmp(ctx, 1002);
    block_image_to_canvas(ctx, 2 * small_size + large_size);
    write_bmp(ctx, 1003);
}

}  // namespace torv
