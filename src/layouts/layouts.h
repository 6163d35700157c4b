// One converter per source layout. The driver calls the one whose file size
// matches, with the input at offset 0; each writes one BMP per image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/context.h"

namespace torv {

void convert_frame_sequence(conversion_context& ctx);
void convert_raw_triple(conversion_context& ctx);
void convert_three_panel_block(conversion_context& ctx);
void convert_single_picture_block(conversion_context& ctx);
void convert_four_image_block(conversion_context& ctx);

// Helpers shared by the converters. None of them reads past the end of the
// input or of the decoded block: what is not there becomes 0.

// Sets the image size for the next write.
inline void set_image_size(conversion_context& ctx, std::int32_t width, std::int32_t height) {
    ctx.cur_width = width;
    ctx.cur_height = height;
}

inline std::size_t image_bytes(const conversion_context& ctx) {
    return static_cast<std::size_t>(ctx.cur_width) * static_cast<std::size_t>(ctx.cur_height);
}

// Reads the next `size` bytes of the input into `dest`.
void read_plain(conversion_context& ctx, std::uint8_t* dest, std::size_t size);

// Reads the next cur_width x cur_height bytes of the input into the canvas.
void read_canvas(conversion_context& ctx);

// Copies `size` bytes of the decoded block, from `offset` on, into `dest`.
void copy_from_block(const conversion_context& ctx, std::size_t offset, std::uint8_t* dest, std::size_t size);

// Copies a cur_width x cur_height image from block `offset` into the canvas.
void block_image_to_canvas(conversion_context& ctx, std::size_t offset);

}  // namespace torv
