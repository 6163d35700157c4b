#include "torv/run.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "format/layouts.h"
#include "format/names.h"
#include "io/fail.h"
#include "io/input.h"
#include "torv/convert.h"

namespace torv {

int run(int argc, const char* const* argv) {
    if (argc < 3) {
        fail(usage_message);
    }
    const std::unique_ptr<std::uint8_t[]> canvas(new (std::nothrow) std::uint8_t[canvas_size]);
    if (!canvas) {
        fail(no_memory_message);
    }

    const std::string input_name = derive_input_name(argv[1]);
    input_stream in;
    if (!open_input(in, input_name)) {
        fail_open(input_name);
    }
    const std::string prefix = name_prefix(argv[1], argv[2]);

    // A file of any other size is left alone.
    if (const layout* format = find_layout(in.size)) {
        convert(*format, in, prefix, {canvas.get(), canvas_size});
    }

    close_input(in);
    std::fflush(stdout);
    return 0;
}

}  // namespace torv
