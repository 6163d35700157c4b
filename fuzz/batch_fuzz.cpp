// A batch of prepared frames of any bytes: read_batch gives a batch or a
// refusal, never reading outside what it was given; a batch it gives, written
// again, is the bytes it was read from.
#include <cstdio>
#include <cstdlib>

#include "pack/prepared_frames.h"

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "batch_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const torv::result<torv::prepared_batch> read = torv::read_batch({data, size});
    if (!read)
        return 0;
    const std::vector<std::uint8_t> again = torv::batch_bytes(*read);
    const torv::result<torv::prepared_batch> reread = torv::read_batch(again);
    if (!reread || torv::batch_bytes(*reread) != again)
        finding("a batch written again does not read back the same");
    return 0;
}
