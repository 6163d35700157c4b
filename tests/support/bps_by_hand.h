// BPS patches written by hand, as the format's public description says, so
// that the tests do not take our encoder's word for what a patch is.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
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
inline bytes patch_of(const bytes& source, std::uint64_t target_size, const bytes& actions, std::uint32_t target_crc,
                      const std::string& metadata = {}) {
    bytes patch = {'B', 'P', 'S', '1'};
    put_number(patch, source.size());
    put_number(patch, target_size);
    put_number(patch, metadata.size());
    patch.insert(patch.end(), metadata.begin(), metadata.end());
    patch.insert(patch.end(), actions.begin(), actions.end());
    put_crc(patch, crc_of(source));
    put_crc(patch, target_crc);
    put_crc(patch, crc_of(patch));
    return patch;
}

// What a patch makes, read as the format's description says, apart from
// our decoder: the target and the metadata, or nothing if anything is amiss.
struct applied {
    bytes target;
    std::string metadata;
};

inline std::optional<applied> apply(const bytes& patch, const bytes& source) {
    if (patch.size() < 16 || patch[0] != 'B' || patch[1] != 'P' || patch[2] != 'S' || patch[3] != '1')
        return std::nullopt;
    const auto crc_at = [&](std::size_t at) {
        return std::uint32_t{patch[at]} | std::uint32_t{patch[at + 1]} << 8 | std::uint32_t{patch[at + 2]} << 16 |
               std::uint32_t{patch[at + 3]} << 24;
    };
    const std::size_t end = patch.size() - 12;
    if (crc_at(end + 8) != crc_of(bytes(patch.begin(), patch.end() - 4)) || crc_at(end) != crc_of(source))
        return std::nullopt;
    std::size_t at = 4;
    bool short_read = false;
    const auto number = [&] {
        std::uint64_t value = 0, shift = 1;
        for (;;) {
            if (at >= end || shift > (std::uint64_t{1} << 56)) {
                short_read = true;
                return std::uint64_t{0};
            }
            const std::uint8_t x = patch[at++];
            value += (x & 0x7F) * shift;
            if (x & 0x80)
                return value;
            shift <<= 7;
            value += shift;
        }
    };
    if (number() != source.size() || short_read)
        return std::nullopt;
    const std::uint64_t target_size = number();
    const std::uint64_t metadata_size = number();
    if (short_read || target_size > (1u << 28) || metadata_size > end - at)
        return std::nullopt;
    applied out;
    out.metadata.assign(patch.begin() + static_cast<std::ptrdiff_t>(at),
                        patch.begin() + static_cast<std::ptrdiff_t>(at + metadata_size));
    at += metadata_size;
    std::int64_t source_at = 0, target_at = 0;
    while (at < end && !short_read) {
        const std::uint64_t action = number();
        const std::uint64_t length = (action >> 2) + 1;
        if (out.target.size() + length > target_size)
            return std::nullopt;
        const std::uint64_t kind = action & 3;
        if (kind == 0) {
            for (std::uint64_t k = 0; k < length; ++k) {
                if (out.target.size() >= source.size())
                    return std::nullopt;
                out.target.push_back(source[out.target.size()]);
            }
        } else if (kind == 1) {
            if (end - at < length)
                return std::nullopt;
            out.target.insert(out.target.end(), patch.begin() + static_cast<std::ptrdiff_t>(at),
                              patch.begin() + static_cast<std::ptrdiff_t>(at + length));
            at += length;
        } else {
            const std::uint64_t move = number();
            const auto offset = static_cast<std::int64_t>(move >> 1) * ((move & 1) ? -1 : 1);
            std::int64_t& cursor = kind == 2 ? source_at : target_at;
            cursor += offset;
            for (std::uint64_t k = 0; k < length; ++k, ++cursor) {
                const bytes& from = kind == 2 ? source : out.target;
                if (cursor < 0 || static_cast<std::uint64_t>(cursor) >= from.size())
                    return std::nullopt;
                out.target.push_back(from[static_cast<std::size_t>(cursor)]);
            }
        }
    }
    if (short_read || out.target.size() != target_size || crc_at(end + 4) != crc_of(out.target))
        return std::nullopt;
    return out;
}

}  // namespace torv::test::bps_by_hand
