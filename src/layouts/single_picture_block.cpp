// One block from offset 0 holding the palette and one 640x480 image; the
// output name has no suffix.
#include "bmp/bmp_writer.h"
#include "decode/lzss.h"
#include "layouts/layouts.h"

namespace torv {

namespace {

constexpr std::size_t image_offset = palette_bytes;  // in the block
constexpr std::size_t block_extent = palette_bytes + 640 * 480;
constexpr std::int32_t no_suffix = -1;

}  // namespace

void convert_single_picture_block(conversion_context& ctx) {
    decode_block(ctx, block_extent);

    set_image_size(ctx, 640, 480);
    copy_from_block(ctx, 0, ctx.header_area, palette_bytes);
    block_image_to_canvas(ctx, image_offset);
    write_bmp(ctx, no_suffix);
}

}  // namespace torv
