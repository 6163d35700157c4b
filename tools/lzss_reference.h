// The block format read the plain way: one byte and one item at a time, the
// dictionary as a 4096-byte ring. Slow and obvious, for checking the real
// decoder against (in tests and fuzzing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace torv::samples {

struct reference_result {
    std::vector<std::uint8_t> data;  // the first min(N, produced) bytes
    std::size_t consumed = 0;        // block bytes read, the length field included
};

reference_result reference_decode(std::span<const std::uint8_t> block);

}  // namespace torv::samples
