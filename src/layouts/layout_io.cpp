#include <algorithm>
#include <cstring>

#include "driver/input.h"
#include "layouts/layouts.h"

namespace torv {

void read_plain(conversion_context& ctx, std::uint8_t* dest, std::size_t size) {
    const std::size_t got = read_span(ctx.in_file, {dest, size});
    std::memset(dest + got, 0, size - got);
}

void read_canvas(conversion_context& ctx) {
    read_plain(ctx, ctx.canvas.get(), image_bytes(ctx));
}

void copy_from_block(const conversion_context& ctx, std::size_t offset, std::uint8_t* dest, std::size_t size) {
    const std::size_t available = offset < ctx.block_size ? ctx.block_size - offset : 0;
    const std::size_t covered = std::min(size, available);
    if (covered > 0) {
        std::memcpy(dest, ctx.block_data + offset, covered);
    }
    std::memset(dest + covered, 0, size - covered);
}

void block_image_to_canvas(conversion_context& ctx, std::size_t offset) {
    copy_from_block(ctx, offset, ctx.canvas.get(), image_bytes(ctx));
}

}  // namespace torv
