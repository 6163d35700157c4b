// Three 640x480 images stored plainly: three palettes, then three images.
#include <cstring>

#include "bmp/bmp_writer.h"
#include "driver/input.h"
#include "layouts/layouts.h"

namespace torv {

namespace {

constexpr std::int32_t image_count = 3;
constexpr std::int32_t first_suffix = 1000;  // names <prefix>0 .. <prefix>2

}  // namespace

void read_canvas(conversion_context& ctx) {
    const std::size_t size = static_cast<std::size_t>(ctx.cur_width) * static_cast<std::size_t>(ctx.cur_height);
    const std::size_t got = read_span(ctx.in_file, {ctx.canvas.get(), size});
    std::memset(ctx.canvas.get() + got, 0, size - got);
}

void convert_raw_triple(conversion_context& ctx) {
    set_image_size(ctx, 640, 480);

    // The palette header is held in ring_area across the writes: the output
    // names are built elsewhere, so nothing overwrites it.
    constexpr std::size_t header_bytes = palette_bytes * image_count;
    const std::size_t got = read_span(ctx.in_file, {ctx.ring_area, header_bytes});
    std::memset(ctx.ring_area + got, 0, header_bytes - got);

    for (std::int32_t k = 0; k < image_count; ++k) {
        std::memcpy(ctx.header_area, ctx.ring_area + palette_bytes * static_cast<std::size_t>(k), palette_bytes);
        read_canvas(ctx);
        write_bmp(ctx, first_suffix + k);
    }
}

}  // namespace torv
