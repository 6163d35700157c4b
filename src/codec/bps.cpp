#include "codec/bps.h"

#include <algorithm>
#include <array>
#include <optional>

#include "io/digest.h"
#include "io/little_endian.h"
#include "io/words.h"

namespace torv {

namespace {

constexpr std::array<std::uint8_t, 4> magic = {'B', 'P', 'S', '1'};
constexpr std::size_t crc_bytes = 12;  // source, target, patch

enum action : std::uint64_t { source_read = 0, target_read = 1, source_copy = 2, target_copy = 3 };

// ---------------------------------------------------------------------------
// Writing.

void put_number(std::vector<std::uint8_t>& out, std::uint64_t value) {
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

void put_signed(std::vector<std::uint8_t>& out, std::int64_t value) {
    const auto magnitude = static_cast<std::uint64_t>(value < 0 ? -value : value);
    put_number(out, magnitude << 1 | (value < 0 ? 1 : 0));
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t bytes[4];
    put_u32le(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

// Where strings of `key_bytes` bytes start in a file, by a hash of them: the
// newest first, every `stride`-th position (a match that starts between two
// is found from the next one).
class position_index {
public:
    static constexpr std::size_t key_bytes = 8;

    position_index(std::span<const std::uint8_t> data, std::size_t stride)
        : data_(data), stride_(stride), next_(data.size() / stride + 1, none) {}

    void add(std::size_t at) {
        if (at % stride_ != 0 || at + key_bytes > data_.size())
            return;
        const std::size_t bucket = hash(data_.data() + at);
        next_[at / stride_] = heads_[bucket];
        heads_[bucket] = static_cast<std::uint32_t>(at);
    }
    void add_all() {
        for (std::size_t at = 0; at + key_bytes <= data_.size(); at += stride_) add(at);
    }

    // Calls look(position) for the positions whose string hashes as the one at
    // `key`, newest first, at most `most` of them.
    template <class Look>
    void each_candidate(const std::uint8_t* key, std::size_t most, Look&& look) const {
        for (std::uint32_t at = heads_[hash(key)]; at != none && most-- > 0; at = next_[at / stride_]) {
            look(static_cast<std::size_t>(at));
        }
    }

private:
    static constexpr unsigned hash_bits = 20;
    static constexpr std::uint32_t none = 0xFFFFFFFF;

    static std::size_t hash(const std::uint8_t* p) {
        std::uint64_t key = 0;
        for (std::size_t k = 0; k < key_bytes; ++k) key = key << 8 | p[k];
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> (64 - hash_bits));
    }

    std::span<const std::uint8_t> data_;
    std::size_t stride_;
    std::vector<std::uint32_t> heads_ = std::vector<std::uint32_t>(std::size_t{1} << hash_bits, none);
    std::vector<std::uint32_t> next_;
};

std::size_t common_length(std::span<const std::uint8_t> a, std::size_t from_a, std::span<const std::uint8_t> b,
                          std::size_t from_b, std::size_t limit) {
    std::size_t length = 0;
    while (length < limit && from_a + length < a.size() && from_b + length < b.size() &&
           a[from_a + length] == b[from_b + length]) {
        ++length;
    }
    return length;
}

struct encoder {
    std::span<const std::uint8_t> source;
    std::span<const std::uint8_t> target;
    std::string_view metadata;  // as given: BPS leaves its form to the tools
    std::vector<std::uint8_t> out{};
    std::size_t literal_from = 0;  // the first target byte not yet in an action
    std::int64_t source_cursor = 0;
    std::int64_t target_cursor = 0;

    // Reading the source where the target stands costs the least: worth it
    // from a few bytes; a copy, with its offset, from a few more.
    static constexpr std::size_t least_read = 4;
    static constexpr std::size_t least_copy = 12;
    static constexpr std::size_t candidates = 16;
    static constexpr std::size_t stride = 4;

    void put_action(action kind, std::size_t length) {
        put_number(out, static_cast<std::uint64_t>(length - 1) << 2 | kind);
    }

    void flush_literals(std::size_t up_to) {
        if (up_to > literal_from) {
            put_action(target_read, up_to - literal_from);
            out.insert(out.end(), target.begin() + static_cast<std::ptrdiff_t>(literal_from),
                       target.begin() + static_cast<std::ptrdiff_t>(up_to));
        }
        literal_from = up_to;
    }

    struct copy {
        action kind = source_copy;
        std::size_t from = 0;
        std::size_t length = 0;
    };

    std::vector<std::uint8_t> run() {
        out.insert(out.end(), magic.begin(), magic.end());
        put_number(out, source.size());
        put_number(out, target.size());
        put_number(out, metadata.size());
        out.insert(out.end(), metadata.begin(), metadata.end());
        position_index in_source(source, stride);
        in_source.add_all();
        position_index in_target(target, stride);
        std::size_t at = 0;
        while (at < target.size()) {
            const std::size_t same = at < source.size() ? common_length(source, at, target, at, target.size()) : 0;
            if (same >= least_read) {
                flush_literals(at);
                put_action(source_read, same);
                for (std::size_t k = at; k < at + same; ++k) in_target.add(k);
                at += same;
                literal_from = at;
                continue;
            }
            const copy best = best_copy(at, in_source, in_target);
            if (best.length >= least_copy) {
                flush_literals(at);
                put_action(best.kind, best.length);
                std::int64_t& cursor = best.kind == source_copy ? source_cursor : target_cursor;
                put_signed(out, static_cast<std::int64_t>(best.from) - cursor);
                cursor = static_cast<std::int64_t>(best.from + best.length);
                for (std::size_t k = at; k < at + best.length; ++k) in_target.add(k);
                at += best.length;
                literal_from = at;
                continue;
            }
            in_target.add(at);
            ++at;
        }
        flush_literals(target.size());
        put_u32(out, crc32_of(source));
        put_u32(out, crc32_of(target));
        put_u32(out, crc32_of(out));
        return std::move(out);
    }

    // The longest copy for the target at `at`, from the source or from the
    // target before it.
    copy best_copy(std::size_t at, const position_index& in_source, const position_index& in_target) const {
        copy best;
        if (at + position_index::key_bytes > target.size()) {
            return best;
        }
        const std::uint8_t* key = target.data() + at;
        const std::size_t left = target.size() - at;
        in_source.each_candidate(key, candidates, [&](std::size_t from) {
            const std::size_t length = common_length(source, from, target, at, left);
            if (length > best.length)
                best = {source_copy, from, length};
        });
        in_target.each_candidate(key, candidates, [&](std::size_t from) {
            if (from >= at)
                return;
            const std::size_t length = common_length(target, from, target, at, left);
            if (length > best.length)
                best = {target_copy, from, length};
        });
        return best;
    }
};

// ---------------------------------------------------------------------------
// Reading.

failure bad_patch(const std::string& why) {
    return failure_of(code::bad_patch, "the patch is not a BPS patch that holds together: " + why);
}

struct reader {
    std::span<const std::uint8_t> patch;  // without its three CRC32s
    std::size_t at = 0;

    std::optional<std::uint64_t> number() {
        std::uint64_t value = 0;
        std::uint64_t shift = 1;
        for (int bytes = 0; bytes < 10; ++bytes) {
            if (at >= patch.size())
                return std::nullopt;
            const std::uint8_t x = patch[at++];
            value += (x & 0x7F) * shift;
            if (x & 0x80)
                return value;
            shift <<= 7;
            value += shift;
        }
        return std::nullopt;  // longer than any 64-bit number
    }
};

struct header {
    bps_facts facts;
    std::size_t actions_at = 0;
};

result<header> read_header(std::span<const std::uint8_t> patch) {
    if (patch.size() < magic.size() + crc_bytes || !std::equal(magic.begin(), magic.end(), patch.begin())) {
        return bad_patch("it does not begin with \"BPS1\"");
    }
    const std::span<const std::uint8_t> body = patch.first(patch.size() - crc_bytes);
    const std::uint8_t* crcs = patch.data() + body.size();
    if (crc32_of(patch.first(patch.size() - 4)) != get_u32le(crcs + 8)) {
        return bad_patch("its own CRC32 is not the one it holds (cut short, or changed)");
    }
    reader in{body, magic.size()};
    const std::optional<std::uint64_t> source_size = in.number();
    const std::optional<std::uint64_t> target_size = in.number();
    const std::optional<std::uint64_t> metadata_size = in.number();
    if (!source_size || !target_size || !metadata_size || *metadata_size > body.size() - in.at) {
        return bad_patch("its header is cut short");
    }
    // A patch cannot ask for memory out of all measure.
    if (*target_size > libtorv::largest_patched_file) {
        return bad_patch("it makes a file of " + std::to_string(*target_size) + " bytes");
    }
    header read;
    read.facts = {*source_size, *target_size, get_u32le(crcs), get_u32le(crcs + 4), {}};
    const auto metadata_at = body.begin() + static_cast<std::ptrdiff_t>(in.at);
    read.facts.metadata.assign(metadata_at, metadata_at + static_cast<std::ptrdiff_t>(*metadata_size));
    read.actions_at = in.at + static_cast<std::size_t>(*metadata_size);
    return read;
}

}  // namespace

std::vector<std::uint8_t> bps_encode(std::span<const std::uint8_t> source, std::span<const std::uint8_t> target,
                                     std::string_view metadata) {
    return encoder{source, target, metadata}.run();
}

result<bps_facts> bps_facts_of(std::span<const std::uint8_t> patch) {
    result<header> read = read_header(patch);
    if (!read) {
        return std::move(read).error();
    }
    return read->facts;
}

result<std::vector<std::uint8_t>> bps_apply(std::span<const std::uint8_t> patch, std::span<const std::uint8_t> source) {
    const result<header> read = read_header(patch);
    if (!read) {
        return read.error();
    }
    const bps_facts& facts = read->facts;
    if (facts.source_size != source.size() || facts.source_crc32 != crc32_of(source)) {
        failure why = failure_of(
            code::wrong_source, "the patch is for another file: it wants one of " + std::to_string(facts.source_size) +
                                    " bytes and CRC32 " + crc32_text(facts.source_crc32) + ", not " +
                                    std::to_string(source.size()) + " bytes and CRC32 " + crc32_text(crc32_of(source)));
        why.needed = static_cast<std::int64_t>(facts.source_size);
        return why;
    }
    std::vector<std::uint8_t> target(static_cast<std::size_t>(facts.target_size));
    reader in{patch.first(patch.size() - crc_bytes), read->actions_at};
    std::size_t out = 0;
    std::int64_t source_cursor = 0;
    std::int64_t target_cursor = 0;
    while (out < target.size()) {
        const std::optional<std::uint64_t> data = in.number();
        if (!data) {
            return bad_patch("its actions are cut short");
        }
        const std::uint64_t length = (*data >> 2) + 1;
        if (length > target.size() - out) {
            return bad_patch("an action runs past the target's end");
        }
        const auto count = static_cast<std::size_t>(length);
        switch (*data & 3) {
            case source_read:
                if (out + count > source.size())
                    return bad_patch("a source read runs past the source's end");
                std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(out), count,
                            target.begin() + static_cast<std::ptrdiff_t>(out));
                break;
            case target_read:
                if (count > in.patch.size() - in.at)
                    return bad_patch("its bytes are cut short");
                std::copy_n(in.patch.begin() + static_cast<std::ptrdiff_t>(in.at), count,
                            target.begin() + static_cast<std::ptrdiff_t>(out));
                in.at += count;
                break;
            default: {
                const bool from_source = (*data & 3) == source_copy;
                const std::optional<std::uint64_t> moved = in.number();
                if (!moved)
                    return bad_patch("its actions are cut short");
                // A move that leaves what it copies from fails before any
                // sum could overflow: the cursor stays within the file.
                const std::uint64_t magnitude = *moved >> 1;
                std::int64_t& cursor = from_source ? source_cursor : target_cursor;
                const std::int64_t end =
                    from_source ? static_cast<std::int64_t>(source.size()) : static_cast<std::int64_t>(out);
                const bool backwards = (*moved & 1) != 0;
                if (cursor > end || (backwards ? magnitude > static_cast<std::uint64_t>(cursor)
                                               : magnitude >= static_cast<std::uint64_t>(end - cursor))) {
                    return bad_patch("a copy starts outside what it copies from");
                }
                const std::int64_t moved_to = backwards ? cursor - static_cast<std::int64_t>(magnitude)
                                                        : cursor + static_cast<std::int64_t>(magnitude);
                if (moved_to >= end || (from_source && count > static_cast<std::uint64_t>(end - moved_to))) {
                    return bad_patch("a copy starts outside what it copies from");
                }
                cursor = moved_to;
                // Byte by byte: a target copy may repeat what it has just written.
                for (std::size_t k = 0; k < count; ++k) {
                    target[out + k] = from_source ? source[static_cast<std::size_t>(cursor) + k]
                                                  : target[static_cast<std::size_t>(cursor) + k];
                }
                cursor += static_cast<std::int64_t>(count);
                break;
            }
        }
        out += count;
    }
    if (in.at != in.patch.size()) {
        return bad_patch("it goes on after the target is whole");
    }
    if (crc32_of(target) != facts.target_crc32) {
        return bad_patch("what it makes is not the file it names (its CRC32 differs)");
    }
    return target;
}

}  // namespace torv
