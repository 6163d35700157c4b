// The run as a whole: command line, names, dispatch by file size.
#pragma once

#include <cstdint>

#include "driver/context.h"

namespace torv {

using converter = void (*)(conversion_context&);

struct layout_row {
    std::int64_t size;
    const char* name;
    converter convert;
};

// The converter for a file of `size` bytes, or nullptr if no layout has that
// size.
converter find_converter(std::int64_t size);

// Runs the whole conversion for the given argument vector and returns the
// exit status of a completed run (0). Detected failures end the process from
// wherever they are met, with status 1.
int run(conversion_context& ctx, int argc, const char* const* argv);

}  // namespace torv
