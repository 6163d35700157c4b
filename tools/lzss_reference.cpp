#include "lzss_reference.h"

#include <algorithm>

namespace torv::samples {

reference_result reference_decode(std::span<const std::uint8_t> block) {
    reference_result result;
    std::size_t& pos = result.consumed;
    auto next = [&]() -> int { return pos < block.size() ? block[pos++] : -1; };

    std::uint64_t declared = 0;
    for (int k = 0; k < 4; ++k) {
        const int b = next();
        if (b < 0) {
            return result;
        }
        declared |= static_cast<std::uint64_t>(b) << (8 * k);
    }
    std::vector<std::uint8_t> ring(4096, 0);
    unsigned r = 4078;
    unsigned flags = 0;
    std::vector<std::uint8_t>& out = result.data;
    while (out.size() < declared) {
        if ((flags & 0xFF00) == 0) {
            const int f = next();
            if (f < 0) {
                break;
            }
            flags = static_cast<unsigned>(f) | 0xFF00;
        }
        if ((flags & 1) != 0) {
            const int c = next();
            if (c < 0) {
                break;
            }
            ring[r] = static_cast<std::uint8_t>(c);
            out.push_back(static_cast<std::uint8_t>(c));
            r = (r + 1) % 4096;
        } else {
            const int a = next();
            const int b = a < 0 ? -1 : next();
            if (b < 0) {
                break;
            }
            auto p = static_cast<unsigned>(a + 256 * (b >> 4));
            for (int k = 0; k < (b & 15) + 3; ++k) {
                ring[r] = ring[p];
                out.push_back(ring[p]);
                r = (r + 1) % 4096;
                p = (p + 1) % 4096;
            }
        }
        flags >>= 1;
    }
    out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), declared)));
    return result;
}

}  // namespace torv::samples
