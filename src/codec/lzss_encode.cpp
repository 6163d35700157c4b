#include "codec/lzss_encode.h"

#include <algorithm>
#include <cstddef>

namespace torv {

namespace {

constexpr std::size_t window = 4096;
constexpr std::size_t min_match = 3;
constexpr std::size_t max_match = 18;
constexpr std::size_t hash_bits = 15;
constexpr std::ptrdiff_t no_position = -1;

// Collects items into groups of eight behind a flag byte (bit set: literal).
class item_writer {
public:
    explicit item_writer(std::vector<std::uint8_t>& out) : out_(out) {}

    void literal(std::uint8_t byte) {
        begin_item(true);
        out_.push_back(byte);
    }

    void match(std::size_t ring_position, std::size_t length) {
        begin_item(false);
        out_.push_back(static_cast<std::uint8_t>(ring_position & 0xFF));
        out_.push_back(static_cast<std::uint8_t>((ring_position >> 8) << 4 | (length - min_match)));
    }

private:
    void begin_item(bool is_literal) {
        if (items_ == 8) {
            items_ = 0;
        }
        if (items_ == 0) {
            flag_at_ = out_.size();
            out_.push_back(0);
        }
        if (is_literal) {
            out_[flag_at_] = static_cast<std::uint8_t>(out_[flag_at_] | 1u << items_);
        }
        ++items_;
    }

    std::vector<std::uint8_t>& out_;
    std::size_t flag_at_ = 0;
    unsigned items_ = 0;
};

std::vector<std::uint8_t> length_header(std::size_t size) {
    const auto n = static_cast<std::uint32_t>(size);
    return {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 24)};
}

}  // namespace

std::vector<std::uint8_t> lzss_encode(std::span<const std::uint8_t> data, const encode_options& options) {
    // The decoder's dictionary at any moment is the last 4096 bytes of a
    // virtual stream: 4096 zeros followed by the data. Position v of that
    // stream sits at ring position (v - 18) mod 4096. Plain LZ77 over it, with
    // distances 1 to 4096, is therefore exactly what the decoder replays.
    std::vector<std::uint8_t> stream(window, 0);
    stream.insert(stream.end(), data.begin(), data.end());

    std::vector<std::ptrdiff_t> head(std::size_t{1} << hash_bits, no_position);
    std::vector<std::ptrdiff_t> previous(stream.size(), no_position);
    auto hash_at = [&](std::size_t v) {
        const std::uint32_t key =
            std::uint32_t{stream[v]} | std::uint32_t{stream[v + 1]} << 8 | std::uint32_t{stream[v + 2]} << 16;
        return (key * 2654435761u) >> (32 - hash_bits);
    };
    auto insert = [&](std::size_t v) {
        if (v + min_match <= stream.size()) {
            const auto h = hash_at(v);
            previous[v] = head[h];
            head[h] = static_cast<std::ptrdiff_t>(v);
        }
    };
    for (std::size_t v = 0; v < window; ++v) {
        insert(v);
    }

    std::vector<std::uint8_t> out = length_header(data.size());
    item_writer items(out);
    std::size_t v = window;
    while (v < stream.size()) {
        const std::size_t limit = std::min(max_match, stream.size() - v);
        std::size_t best_length = 0;
        std::size_t best_source = 0;
        if (limit >= min_match) {
            int tries = options.max_candidates;
            for (std::ptrdiff_t candidate = head[hash_at(v)]; candidate != no_position && tries-- > 0;
                 candidate = previous[static_cast<std::size_t>(candidate)]) {
                const auto source = static_cast<std::size_t>(candidate);
                if (v - source > window) {
                    break;  // the chain only gets older
                }
                std::size_t length = 0;
                while (length < limit && stream[source + length] == stream[v + length]) {
                    ++length;
                }
                if (length > best_length) {
                    best_length = length;
                    best_source = source;
                    if (length == limit) {
                        break;
                    }
                }
            }
        }
        const std::size_t step = best_length >= min_match ? best_length : 1;
        if (step == 1) {
            items.literal(stream[v]);
        } else {
            // The decoder's cursor starts at ring position 4078 = 4096 - 18.
            items.match((best_source + window - max_match) % window, best_length);
        }
        for (std::size_t k = 0; k < step; ++k) {
            insert(v + k);
        }
        v += step;
    }
    return out;
}

std::vector<std::uint8_t> lzss_encode_literals(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out = length_header(data.size());
    item_writer items(out);
    for (const std::uint8_t byte : data) {
        items.literal(byte);
    }
    return out;
}

}  // namespace torv
