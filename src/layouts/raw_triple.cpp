// Three 640x480 images stored plainly: three palettes, then three images.
#include <cstring>

#include "bmp/bmp_writer.h"
#include "layouts/layouts.h"

namespace torv {

namespace {

constexpr std::int32_t image_count = 3;
constexpr std::int32_t first_suffix = 1000;  // names <prefix>0 .. <prefix>2

}  // namespace

void convert_raw_triple(conversion_context& ctx) {
    set_image_size(ctx, 640, 480);

    // The palette header is held in ring_area across the writes: the output
    // names are built elsewhere, so nothing overwrites it.
    read_plain(ctx, ctx.ring_area, palette_bytes * image_count);

    for (std::int32_t k = 0; k < image_count; ++k) {
        std::memcpy(ctx.header_area, ctx.ring_area + palette_bytes * static_cast<std::size_t>(k), palette_bytes);
        read_canvas(ctx);
        write_bmp(ctx, first_suffix + k);
    }
}

}  // namespace torv
