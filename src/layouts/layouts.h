// One converter per source layout. The driver calls the one whose file size
// matches, with the input at offset 0; each writes one BMP per image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/context.h"

namespace torv {

void convert_raw_triple(conversion_context& ctx);

// Sets the image size for the next write.
inline void set_image_size(conversion_context& ctx, std::int32_t width, std::int32_t height) {
    ctx.cur_width = width;
    ctx.cur_height = height;
}

// Reads the next width x height bytes of the input into the canvas; whatever
// the input no longer holds becomes 0.
void read_canvas(conversion_context& ctx);

}  // namespace torv
