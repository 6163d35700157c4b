#include "torv/run.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "format/names.h"
#include "image/bmp_write.h"
#include "io/interrupt.h"
#include "libtorv/unpack.h"
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
    const std::string input_name = derive_input_name(argv[1]);
    const std::string prefix = name_prefix(argv[1], argv[2]);
    file_result failed;
    auto write_file = [&](const image_view& image) {
        rgb15_palette palette;
        std::copy(image.palette.begin(), image.palette.end(), palette.begin());
        failed = write_bmp(std::string(image.name), {image.indices, image.width, image.height}, palette);
        return !failed;
    };
    // A file of a size no layout has is left alone.
    if (!unpack_file(input_name, prefix, write_file)) {
        fail_open(input_name);
    }
    if (failed) {
        fail_file(*failed);
    }
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
