// A patch of any bytes, applied to a small source: a file of the size the
// patch names, or a refusal; never a read or write outside the files (the
// sanitizers watch), never an overflow. Patches whose source CRC32 and own
// CRC32 are put right after the fuzzing reach the actions. Targets past a
// megabyte are left out: the fuzzer's memory is small.
//
// Input: one byte that says whether to put the CRC32s right; the rest is the
// patch.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "libtorv/checksums.h"
#include "libtorv/patch.h"

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "bps_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    static const std::vector<std::uint8_t> source = {'s', 'o', 'u', 'r', 'c', 'e', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const bool crcs_right = data[0] & 1;
    std::vector<std::uint8_t> patch(data + 1, data + size);
    auto put_crc = [&](std::size_t at, std::uint32_t crc) {
        for (std::size_t k = 0; k < 4; ++k) patch[at + k] = static_cast<std::uint8_t>(crc >> (8 * k));
    };
    if (crcs_right && patch.size() >= 16) {
        put_crc(patch.size() - 12, libtorv::crc32_of(source));
        put_crc(patch.size() - 4, libtorv::crc32_of({patch.data(), patch.size() - 4}));
    }
    const libtorv::result<libtorv::patch_facts> facts = libtorv::facts_of_patch(patch);
    // A patch may make a file of hundreds of megabytes from a few bytes (a
    // copy that repeats): within the fuzzer's memory, the small ones.
    constexpr std::uint64_t most_target_bytes = 1 << 20;
    if (facts && facts->target_size > most_target_bytes)
        return 0;
    const libtorv::result<libtorv::bytes> made = libtorv::apply_patch(patch, source);
    if (made && (!facts || made->size() != facts->target_size))
        finding("a file of another size than the patch names");
    return 0;
}
