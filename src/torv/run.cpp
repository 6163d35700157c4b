#include "torv/run.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <optional>
#include <string>

#include "cli/console.h"
#include "format/names.h"
#include "image/bmp_write.h"
#include "io/interrupt.h"
#include "libtorv/unpack.h"
#include "torv/fail.h"

namespace torv {

namespace {

// A file that could not be written, in the words users' scripts match on.
[[noreturn]] void fail_file(const libtorv::failure& failure) {
    if (failure.code == libtorv::code::cannot_write) {
        fail_write(failure.file);
    }
    fail_create(failure.file);
}

int convert_file(int argc, const char* const* argv) {
    if (argc < 3) {
        fail(usage_message);
    }
    const std::string input_name = derive_input_name(argv[1]);
    const std::string prefix = name_prefix(argv[1], argv[2]);
    std::optional<libtorv::failure> failed;
    auto write_file = [&](const libtorv::image_view& image) {
        rgb15_palette palette;
        std::copy(image.palette.begin(), image.palette.end(), palette.begin());
        result<> written = write_bmp(std::string(image.name), {image.indices, image.width, image.height}, palette);
        if (!written) {
            failed = std::move(written).error();
        }
        return !failed;
    };
    // A file of a size no layout has is left alone; a file that is not
    // there, or not a plain file, cannot be opened.
    if (!libtorv::unpack_file(input_name, prefix, write_file)) {
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
    // A canvas, an input buffer and a BMP's header at the least.
    constexpr std::size_t least_memory = 1 << 20;
    if (!cli::memory_to_start(least_memory)) {
        fail(no_memory_message);
    }
    install_interrupt_cleanup();
    try {
        return convert_file(argc, argv);
    } catch (const std::bad_alloc&) {
        fail(no_memory_message);
    }
}

}  // namespace torv
