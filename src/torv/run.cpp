#include "torv/run.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "format/layouts.h"
#include "format/names.h"
#include "format/unpack.h"
#include "image/bmp_write.h"
#include "io/input.h"
#include "io/interrupt.h"
#include "torv/fail.h"

namespace torv {

namespace {

// A file that could not be written, in the words users' scripts match on.
[[noreturn]] void fail_file(const file_failure& failure) {
    if (failure.step == file_step::write) {
        fail_write(failure.name);
    }
    fail_create(failure.name);
}

int convert_file(int argc, const char* const* argv) {
    if (argc < 3) {
        fail(usage_message);
    }
    const std::size_t canvas_size = largest_image_bytes();
    const std::unique_ptr<std::uint8_t[]> canvas(new std::uint8_t[canvas_size]);

    const std::string input_name = derive_input_name(argv[1]);
    input_stream in;
    if (!open_input(in, input_name)) {
        fail_open(input_name);
    }
    const std::string prefix = name_prefix(argv[1], argv[2]);

    // A file of any other size is left alone.
    if (const layout* format = find_layout(input_size(in))) {
        auto write_file = [](const unpacked_image& image) {
            return write_bmp(std::string(image.name), image.image, image.palette);
        };
        if (const file_result failed = unpack_images(*format, in, prefix, {canvas.get(), canvas_size}, write_file)) {
            fail_file(*failed);
        }
    }

    close_input(in);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int run(int argc, const char* const* argv) {
    install_interrupt_cleanup();
    try {
        return convert_file(argc, argv);
    } catch (const std::bad_alloc&) {
        fail(no_memory_message);
    }
}

}  // namespace torv
