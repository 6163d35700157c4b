// BPS patches written by hand, as the format's public description says, so
// that the tests do not take our encoder's word for what a patch is.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

namespace torv::test::bps_by_hand {

using bytes = std::vector<std::uint8_t>;

inline std::uint32_t crc_of(const bytes& data) {
    return static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

inline void put_crc(bytes& out, std::uint32_t crc) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(crc >> shift));
}

// A number: 7 bits a byte, the last with its top bit set, each byte but the
// last adding one more to what follows.
inline void put_number(bytes& out, std::uint64_t value) {
    for (;;) {
        const auto low = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
        if (value == 0) {
            out.push_back(low | 0x80);
            return;
        }
        out.push_back(low);
        --value;
    }
}

// A patch of `actions` from `source`, said to make a file of `target_size`
// bytes and CRC32 `target_crc`, its own CRC32 right whatever it holds.
inline bytes patch_of(const bytes& source, std::uint64_t target_size, const bytes& actions, std::uint32_t target_crc) {
    bytes patch = {'B', 'P', 'S', '1'};
    put_number(patch, source.size());
    put_number(patch, target_size);
    put_number(patch, 0);
    patch.insert(patch.end(), actions.begin(), actions.end());
    put_crc(patch, crc_of(source));
    put_crc(patch, target_crc);
    put_crc(patch, crc_of(patch));
    return patch;
}

}  // namespace torv::test::bps_by_hand
