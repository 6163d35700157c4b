// A run of 320x224 frames, each a record of a palette and one block that
// starts on a 2048-byte boundary, each frame stored as 16x8-pixel tiles.
#include <cstring>

#include "bmp/bmp_writer.h"
#include "decode/lzss.h"
#include "driver/input.h"
#include "layouts/layouts.h"

namespace torv {

namespace {

constexpr std::int32_t frame_width = 320;
constexpr std::int32_t frame_height = 224;
constexpr std::size_t tile_width = 16;
constexpr std::size_t tile_height = 8;
constexpr std::size_t tiles_across = frame_width / tile_width;  // 20
constexpr std::size_t tile_rows = frame_height / tile_height;   // 28
constexpr std::size_t frame_bytes = std::size_t{frame_width} * frame_height;

// Walks the tiles in the order they are stored: raster order, each tile's 8
// rows top row first, 16 bytes a row. `tiles` holds a whole frame.
void place_tiles(std::uint8_t* canvas, const std::uint8_t* tiles) {
    for (std::size_t tile_row = 0; tile_row < tile_rows; ++tile_row) {
        for (std::size_t tile = 0; tile < tiles_across; ++tile) {
            std::uint8_t* corner = canvas + tile_row * tile_height * frame_width + tile * tile_width;
            for (std::size_t y = 0; y < tile_height; ++y) {
                std::memcpy(corner + y * frame_width, tiles, tile_width);
                tiles += tile_width;
            }
        }
    }
}

// Pixels the block does not cover are 0: a short block is first copied over
// a frame of zeros.
void reassemble_tiles(conversion_context& ctx) {
    if (ctx.block_size >= frame_bytes) {
        place_tiles(ctx.canvas.get(), ctx.block_data);
        return;
    }
    static std::uint8_t padded[frame_bytes];
    std::memcpy(padded, ctx.block_data, ctx.block_size);
    std::memset(padded + ctx.block_size, 0, frame_bytes - ctx.block_size);
    place_tiles(ctx.canvas.get(), padded);
}

}  // namespace

void convert_frame_sequence(conversion_context& ctx) {
    set_image_size(ctx, frame_width, frame_height);
    std::int64_t record = 0;
    for (std::int32_t frame = 0;; ++frame) {
        // Running out of records is the normal end: the next palette read
        // comes up short.
        seek_input(ctx.in_file, record);
        if (read_span(ctx.in_file, {ctx.header_area, palette_bytes}) < palette_bytes) {
            return;
        }
        record = decode_block(ctx, frame_bytes);
        reassemble_tiles(ctx);
        // Frames beyond 999 keep counting in decimal rather than taking the
        // one-character suffixes of the other layouts.
        write_bmp_file(ctx, frame_bmp_name(ctx.name_prefix, frame));
        release_block(ctx);
    }
}

}  // namespace torv
