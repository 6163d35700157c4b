#include "driver/driver.h"

#include <array>
#include <cstdio>
#include <new>
#include <string>

#include "decode/lzss.h"
#include "driver/fail.h"
#include "driver/input.h"
#include "driver/names.h"
#include "layouts/layouts.h"

namespace torv {

namespace {

// Layouts are told apart by exact file size alone, tested in this order.
constexpr std::array layout_table{
    layout_row{9'486'336, "frame_sequence", convert_frame_sequence},
    layout_row{923'136, "raw_triple", convert_raw_triple},
    layout_row{87'796, "three_panel_block", convert_three_panel_block},
    layout_row{134'573, "single_picture_block", convert_single_picture_block},
    layout_row{57'652, "four_image_block", convert_four_image_block},
};

}  // namespace

converter find_converter(std::int64_t size) {
    for (const layout_row& row : layout_table) {
        if (row.size == size) {
            return row.convert;
        }
    }
    return nullptr;
}

int run(conversion_context& ctx, int argc, const char* const* argv) {
    if (argc < 3) {
        fail(usage_message);
    }
    ctx.canvas.reset(new (std::nothrow) std::uint8_t[canvas_size]);
    if (!ctx.canvas) {
        fail(no_memory_message);
    }

    const std::string input_name = derive_input_name(argv[1]);
    if (!open_input(ctx.in_file, input_name)) {
        fail_open(input_name);
    }
    ctx.name_prefix = build_name_prefix(argv[1], argv[2]);

    if (const converter convert = find_converter(ctx.in_file.size)) {
        convert(ctx);
    }

    close_input(ctx.in_file);
    ctx.canvas.reset();
    release_block(ctx);
    std::fflush(stdout);
    return 0;
}

}  // namespace torv
