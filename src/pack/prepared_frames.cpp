#include "pack/prepared_frames.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "io/little_endian.h"

namespace torv {

using libtorv::image_size;
using libtorv::pixel_position;

namespace {

constexpr std::array<std::uint8_t, 4> batch_magic = {'t', 'v', 'p', 'f'};
constexpr std::uint8_t batch_version = 1;
constexpr std::uint8_t failed_entry = 3;  // after the three frame kinds
constexpr std::uint8_t last_code = static_cast<std::uint8_t>(code::bad_argument);

struct batch_writer {
    std::vector<std::uint8_t> out;

    void u8(std::uint8_t value) { out.push_back(value); }
    void u32(std::size_t value) {
        std::array<std::uint8_t, 4> four{};
        put_u32le(four.data(), static_cast<std::uint32_t>(value));
        out.insert(out.end(), four.begin(), four.end());
    }
    void i64(std::int64_t value) {
        const auto bits = static_cast<std::uint64_t>(value);
        u32(static_cast<std::uint32_t>(bits));
        u32(static_cast<std::uint32_t>(bits >> 32));
    }
    void data(std::span<const std::uint8_t> bytes) {
        u32(bytes.size());
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    void text(std::string_view words) { data({reinterpret_cast<const std::uint8_t*>(words.data()), words.size()}); }
};

// Reads what batch_writer wrote; after the first thing that is not there,
// `ok` is false and every read gives zeros.
struct batch_reader {
    std::span<const std::uint8_t> in;
    std::size_t at = 0;
    bool ok = true;

    bool has(std::size_t count) {
        ok = ok && in.size() - at >= count;
        return ok;
    }
    std::uint8_t u8() { return has(1) ? in[at++] : 0; }
    std::uint32_t u32() {
        if (!has(4)) {
            return 0;
        }
        at += 4;
        return get_u32le(in.data() + at - 4);
    }
    std::int64_t i64() {
        const std::uint64_t low = u32();
        const std::uint64_t high = u32();
        return static_cast<std::int64_t>(high << 32 | low);
    }
    std::span<const std::uint8_t> data() {
        const std::uint32_t size = u32();
        if (!has(size)) {
            return {};
        }
        at += size;
        return in.subspan(at - size, size);
    }
    std::vector<std::uint8_t> bytes() {
        const std::span<const std::uint8_t> part = data();
        return {part.begin(), part.end()};
    }
    std::string text() {
        const std::span<const std::uint8_t> part = data();
        return {part.begin(), part.end()};
    }
};

void write_failure(batch_writer& out, const failure& why) {
    out.u8(static_cast<std::uint8_t>(why.code));
    out.text(why.words);
    out.text(why.file);
    out.text(why.reason);
    out.u8(why.pixel ? 1 : 0);
    out.i64(why.pixel ? why.pixel->x : 0);
    out.i64(why.pixel ? why.pixel->y : 0);
    out.u8(why.colour ? 1 : 0);
    out.i64(why.colour.value_or(0));
    out.u8(why.size ? 1 : 0);
    out.i64(why.size ? why.size->width : 0);
    out.i64(why.size ? why.size->height : 0);
    out.i64(why.needed);
    out.i64(why.room);
}

failure read_failure(batch_reader& in) {
    failure why;
    const std::uint8_t what = in.u8();
    in.ok = in.ok && what <= last_code;
    why.code = static_cast<code>(std::min(what, last_code));
    why.words = in.text();
    why.file = in.text();
    why.reason = in.text();
    const bool has_pixel = in.u8() != 0;
    const auto x = static_cast<std::int32_t>(in.i64());
    const auto y = static_cast<std::int32_t>(in.i64());
    if (has_pixel) {
        why.pixel = pixel_position{x, y};
    }
    const bool has_colour = in.u8() != 0;
    const auto colour = static_cast<std::uint32_t>(in.i64());
    if (has_colour) {
        why.colour = colour;
    }
    const bool has_size = in.u8() != 0;
    const auto width = static_cast<std::int32_t>(in.i64());
    const auto height = static_cast<std::int32_t>(in.i64());
    if (has_size) {
        why.size = image_size{width, height};
    }
    why.needed = in.i64();
    why.room = in.i64();
    return why;
}

}  // namespace

std::vector<std::uint8_t> batch_bytes(const prepared_batch& batch) {
    batch_writer out;
    out.out.assign(batch_magic.begin(), batch_magic.end());
    out.u8(batch_version);
    out.u32(batch.frames_in_packing);
    out.u32(batch.frames.size() + (batch.why ? 1 : 0));
    for (const prepared_frame& frame : batch.frames) {
        out.u32(frame.number);
        out.u8(static_cast<std::uint8_t>(frame.kind));
        out.u8(frame.re_encoded ? 1 : 0);
        out.data(frame.header);
        out.data(frame.block);
        out.u32(frame.notes.size());
        for (const std::string& note : frame.notes) out.text(note);
    }
    if (batch.why) {
        out.u32(batch.failed_frame.value_or(0));
        out.u8(failed_entry);
        write_failure(out, *batch.why);
    }
    return std::move(out.out);
}

result<prepared_batch> read_batch(std::span<const std::uint8_t> bytes) {
    batch_reader in{bytes};
    prepared_batch batch;
    const bool ours = in.has(batch_magic.size()) && std::equal(batch_magic.begin(), batch_magic.end(), bytes.begin());
    in.at = batch_magic.size();
    if (!ours || in.u8() != batch_version) {
        return failure_of(code::bad_argument, "the prepared frames given are no batch of frames this packing reads");
    }
    batch.frames_in_packing = in.u32();
    const std::uint32_t entries = in.u32();
    for (std::uint32_t k = 0; k < entries && in.ok && !batch.why; ++k) {
        const std::uint32_t number = in.u32();
        const std::uint8_t what = in.u8();
        if (what == failed_entry) {
            batch.failed_frame = number;
            batch.why = read_failure(in);
        } else if (what <= static_cast<std::uint8_t>(frame_kind::zero) && in.has(1)) {
            prepared_frame frame;
            frame.number = number;
            frame.kind = static_cast<frame_kind>(what);
            frame.re_encoded = in.u8() != 0;
            frame.header = in.bytes();
            frame.block = in.bytes();
            const std::uint32_t notes = in.u32();
            for (std::uint32_t n = 0; n < notes && in.has(4); ++n) frame.notes.push_back(in.text());
            batch.frames.push_back(std::move(frame));
        } else {
            in.ok = false;
        }
    }
    if (!in.ok || in.at != bytes.size()) {
        return failure_of(code::bad_argument, "the prepared frames given are damaged");
    }
    return batch;
}

}  // namespace torv
