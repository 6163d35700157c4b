// Packing a walk of records (the frame sequence): frames are read, fitted and
// compressed a batch at a time, each on a thread of its own, and their
// records laid out front to back, so memory follows the frames in flight,
// not the file.
#include <algorithm>
#include <optional>

#include "codec/lzss_encode.h"
#include "pack/pack_parts.h"
#include "pack/parallel.h"

namespace torv::pack_parts {

namespace {

constexpr std::size_t frames_per_job = 4;
constexpr std::size_t min_batch = 8;
constexpr std::size_t copy_chunk = 64 * 1024;

// A record of the original file, as its walk found it.
struct old_record {
    std::int64_t start = 0;
    std::int64_t end = 0;   // after its block
    std::int64_t next = 0;  // where the record after it starts
    bool padding = false;   // nothing but zero bytes: what zero padding reads as
};

struct frame {
    std::size_t number = 0;
    const old_record* old = nullptr;
    std::optional<record_data> old_data;  // the original's record, while the frame is prepared
    std::vector<bytes> old_rows;          // and its image
    std::string error;
    std::vector<std::string> notes;
    bool zero = false;       // colour 0 everywhere and an all-zero palette
    bool unchanged = false;  // the same palette and pixels as the original's record
    bytes header;            // the record's plain part: its palette, as stored
    bytes content;           // the block's data (the tiles)
    bytes block;             // compressed, once needed
};

bool all_zero(input_stream& in, std::int64_t from, std::int64_t to) {
    bytes chunk(copy_chunk);
    for (std::int64_t at = from; at < to; at += static_cast<std::int64_t>(copy_chunk)) {
        const auto size = static_cast<std::size_t>(std::min<std::int64_t>(to - at, copy_chunk));
        read_at(in, at, {chunk.data(), size});
        if (std::any_of(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(size),
                        [](std::uint8_t b) { return b != 0; })) {
            return false;
        }
    }
    return true;
}

std::vector<old_record> walk_original(const layout& format, input_stream& in) {
    std::vector<old_record> records;
    // Only where each block ends matters here: keep one byte of each.
    for_each_record(
        format, in,
        [&](const record_data& record, std::int32_t) {
            records.push_back({record.start, record.end, record.next, all_zero(in, record.start, record.next)});
            return true;
        },
        1);
    return records;
}

// The plain part of a record: its palettes where the layout puts them.
bytes record_header(const layout& format, const fitted_record& fitted) {
    bytes header(header_extent(format), 0);
    for (std::size_t p = 0; p < format.palettes.size(); ++p) {
        if (format.palettes[p].from == source::file) {
            put_bytes(header, format.palettes[p].offset, palette_to_bytes(fitted.palettes[p]));
        }
    }
    return header;
}

struct frame_packer {
    const layout& format;
    const image_source& images;
    input_stream* original;
    const pack_options& options;
    const byte_sink& out;
    pack_outcome& outcome;

    std::vector<old_record> olds{};
    std::int64_t at = 0;          // where the next record starts
    std::optional<frame> held{};  // the last real frame so far, not yet written
    std::vector<frame> zeros{};   // zero frames after it: padding, if nothing follows
    bytes zero_block{};           // the block of a zero frame, compressed once
    std::int64_t needed = 0;      // bytes the real records need, in whole units
    std::vector<std::size_t> kept{}, grown{};

    std::int64_t unit() const { return format.record_alignment; }

    void write_zeros(std::int64_t count) {
        static const bytes zeros_chunk(copy_chunk, 0);
        while (count > 0) {
            const auto size = static_cast<std::size_t>(std::min<std::int64_t>(count, copy_chunk));
            out({zeros_chunk.data(), size});
            count -= static_cast<std::int64_t>(size);
        }
    }

    // `groups` groups of eight literal zeros: the filler of a stretched block.
    void write_filler(std::uint64_t groups) {
        static const bytes chunk = [] {
            bytes repeated;
            for (std::size_t k = 0; k < copy_chunk / filler_group.size(); ++k) {
                repeated.insert(repeated.end(), filler_group.begin(), filler_group.end());
            }
            return repeated;
        }();
        const std::uint64_t per_chunk = chunk.size() / filler_group.size();
        while (groups > 0) {
            const std::uint64_t now = std::min(groups, per_chunk);
            out({chunk.data(), static_cast<std::size_t>(now * filler_group.size())});
            groups -= now;
        }
    }

    void copy_original(std::int64_t from, std::int64_t to) {
        bytes chunk(copy_chunk);
        for (std::int64_t pos = from; pos < to; pos += static_cast<std::int64_t>(copy_chunk)) {
            const auto size = static_cast<std::size_t>(std::min<std::int64_t>(to - pos, copy_chunk));
            read_at(*original, pos, {chunk.data(), size});
            out({chunk.data(), size});
        }
    }

    // What the original holds for frame `k`: read one frame after the other,
    // as the original is one stream.
    void read_old(std::size_t k, frame& f) {
        f.number = k;
        f.old = k < olds.size() ? &olds[k] : nullptr;
        if (f.old != nullptr) {
            const image_place& place = format.images[0];
            f.old_data = read_record(format, *original, f.old->start);
            f.old_rows.assign(1, bytes(image_bytes(place)));
            image_pixels(place, *f.old_data, *original, f.old_rows[0]);
        }
    }

    // Reads, fits, compares and (if it changed) compresses a frame: work of
    // its own, done on any thread.
    void prepare(frame& f) const {
        std::vector<picture> pictures(1);
        f.error = load_image(images, f.number, format.images[0], pictures[0]);
        if (!f.error.empty()) {
            return;
        }
        fitted_record fitted;
        const record_data* old = f.old_data ? &*f.old_data : nullptr;
        f.error =
            fit_record(format, pictures, {images.name(f.number)}, old, f.old_rows, options.nearest, fitted, f.notes);
        if (!f.error.empty()) {
            return;
        }
        f.header = record_header(format, fitted);
        f.content = block_content(format, fitted);
        f.unchanged = old && fitted.palettes == old->palettes && reads_as(old->block.bytes, f.content);
        auto is_zero = [](std::uint8_t b) { return b == 0; };
        f.zero = std::all_of(f.header.begin(), f.header.end(), is_zero) &&
                 std::all_of(f.content.begin(), f.content.end(), is_zero);
        f.old_data.reset();
        f.old_rows.clear();
        if (!f.unchanged && !f.zero) {
            f.block = lzss_encode(f.content);
        }
    }

    // A zero frame may end the file as padding unless it stands for an
    // original record that is kept and is not padding.
    bool may_be_padding(const frame& f) const { return f.zero && !(f.unchanged && !f.old->padding); }

    const bytes& block_of(frame& f) {
        if (f.block.empty()) {
            if (f.zero) {
                if (zero_block.empty()) {
                    zero_block = lzss_encode(bytes(block_extent(format), 0));
                }
                f.block = zero_block;
            } else {
                f.block = lzss_encode(f.content);
            }
        }
        return f.block;
    }

    // Writes frame `f` at `at`. With a target, its record must end so that
    // the next one starts there: stretched if need be, or an error if it
    // cannot end that soon. False if it does not fit.
    bool place(frame& f, std::optional<std::int64_t> target) {
        if (f.unchanged) {
            const std::int64_t span = f.old->next - f.old->start;
            if (!target || at + span == *target) {
                copy_original(f.old->start, f.old->next);
                at += span;
                needed += span;
                kept.push_back(f.number);
                return true;
            }
        }
        const bytes& block = block_of(f);
        const auto header_size = static_cast<std::int64_t>(f.header.size());
        const std::int64_t end = at + header_size + static_cast<std::int64_t>(block.size());
        needed += next_record_start(format, end) - at;
        std::optional<std::int64_t> goal = target;
        if (!goal && f.old != nullptr && at == f.old->start && end <= f.old->next) {
            goal = f.old->next;  // in place: later records keep their offsets
        }
        if (f.old != nullptr && !f.unchanged && end > f.old->next) {
            grown.push_back(f.number);
        }
        if (!goal) {
            goal = next_record_start(format, end);
        }
        if (end > *goal) {
            return false;
        }
        // The block must end in the last unit before the goal.
        const std::int64_t min_end = *goal - unit() + 1;
        const stretched_block stretched =
            stretch_block(block, static_cast<std::uint64_t>(std::max(end, min_end) - at - header_size));
        out(f.header);
        out(stretched.head);
        write_filler(stretched.groups);
        out(stretched.tail);
        write_zeros(*goal - (at + header_size + static_cast<std::int64_t>(stretched_size(stretched))));
        at = *goal;
        return true;
    }

    // Takes the next frame in order.
    bool take(frame f) {
        if (may_be_padding(f)) {
            // All zeros: what it holds is known, and a long run of such
            // frames must not hold a frame's worth each.
            f.content = bytes();
            zeros.push_back(std::move(f));
            return true;
        }
        if (held && !place(*held, std::nullopt)) {
            return false;
        }
        for (frame& z : zeros) {
            if (!place(z, std::nullopt)) {
                return false;
            }
        }
        zeros.clear();
        held = std::move(f);
        return true;
    }

    std::string overflow_error(std::int64_t room) const {
        std::string text = "the " + std::to_string(images.count) + " frames do not fit: their records need " +
                           std::to_string(needed) + " bytes, the file has room for " + std::to_string(room);
        if (!zeros.empty()) {
            text += " before the " + std::to_string(zeros.size()) + " frames of zero padding at its end";
        }
        text += ": " + std::to_string(needed - room) + " bytes over";
        if (!grown.empty()) {
            text += " (edited frames that grew: " + frame_ranges(grown) + ")";
        }
        return text;
    }

    void run() {
        if (original != nullptr) {
            olds = walk_original(format, *original);
        }
        const unsigned jobs = options.jobs;
        const std::size_t batch = std::max(min_batch, frames_per_job * std::max(1u, jobs));
        for (std::size_t first = 0; first < images.count; first += batch) {
            const std::size_t last = std::min(images.count, first + batch);
            std::vector<frame> frames(last - first);
            for (std::size_t k = first; k < last; ++k) {
                read_old(k, frames[k - first]);
            }
            parallel_for(frames.size(), jobs, [&](std::size_t k) { prepare(frames[k]); });
            for (frame& f : frames) {
                if (!f.error.empty()) {
                    outcome.error = f.error;
                    return;
                }
                outcome.notes.insert(outcome.notes.end(), f.notes.begin(), f.notes.end());
            }
            for (frame& f : frames) {
                if (!take(std::move(f))) {
                    outcome.error = overflow_error(format.file_size);
                    return;
                }
            }
        }
        finish();
    }

    void finish() {
        if (!held && !zeros.empty()) {
            // Padding alone would read as more frames than there are: the
            // first is a real record, stretched over the room.
            held = std::move(zeros.front());
            zeros.erase(zeros.begin());
        }
        const std::int64_t padding = static_cast<std::int64_t>(zeros.size()) * unit();
        const std::int64_t room = format.file_size - padding;
        if (held && !place(*held, room)) {
            outcome.error = overflow_error(room);
            return;
        }
        write_zeros(padding);
        const std::size_t frames = images.count;
        outcome.report.push_back("layout " + std::string(format.name) + ": " + std::to_string(frames) + " frames, " +
                                 std::to_string(zeros.size()) + " of them zero padding at the end of the file");
        outcome.report.push_back("records: " +
                                 room_text(static_cast<std::size_t>(needed), static_cast<std::size_t>(room)));
        if (original != nullptr) {
            outcome.report.push_back("kept as in the original: " +
                                     (kept.empty() ? std::string("none") : "frames " + frame_ranges(kept)));
        }
    }
};

}  // namespace

pack_outcome pack_frames(const layout& format, const image_source& images, input_stream* original,
                         const pack_options& options, const byte_sink& out) {
    pack_outcome outcome;
    if (images.count == 0) {
        outcome.error = "no frames to pack";
        return outcome;
    }
    frame_packer packer{format, images, original, options, out, outcome};
    packer.run();
    return outcome;
}

}  // namespace torv::pack_parts
