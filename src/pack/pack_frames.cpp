// Packing a walk of records (the frame sequence): frames are read, fitted and
// compressed a batch at a time, each on a thread of its own; once every frame
// is ready, a plan says where each record goes (see pack/frame_plan.h) and
// the records are written front to back. What is held is the compressed
// blocks, which together cannot exceed the file's size.
#include <algorithm>
#include <functional>
#include <optional>

#include "codec/lzss_encode.h"
#include "pack/frame_plan.h"
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

    std::int64_t span() const { return next - start; }
};

struct frame {
    std::size_t number = 0;
    const old_record* old = nullptr;
    bool last_of_original = false;        // the original's last record that is not padding
    std::optional<record_data> old_data;  // the original's record, while the frame is prepared
    std::vector<bytes> old_rows;          // and its image
    std::string error;
    std::vector<std::string> notes;
    bool zero = false;       // colour 0 everywhere and an all-zero palette
    bool unchanged = false;  // the same palette and pixels as the original's record
    bytes header;            // the record's plain part: its palette, as stored
    // The block compressed anew: for a changed frame its block; for an
    // unchanged one the smaller block it may shrink to (or empty).
    bytes block;
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

// A zero frame may end the file as padding unless it stands for an
// original record that is kept and is not padding.
bool may_be_padding(const frame& f) {
    return f.zero && !(f.unchanged && !f.old->padding);
}

struct frame_packer {
    const layout& format;
    const image_source& images;
    input_stream* original;
    const pack_options& options;
    const byte_sink& out;
    pack_outcome& outcome;

    std::vector<old_record> olds{};
    std::vector<frame> frames{};
    bytes zero_block{};  // the block of a zero frame that is a record of its own
    std::vector<std::size_t> kept{};

    std::int64_t unit() const { return format.record_alignment; }
    std::int64_t rounded(std::size_t bytes_taken) const {
        return next_record_start(format, static_cast<std::int64_t>(bytes_taken));
    }

    // What the original holds for frame `k`: read one frame after the other,
    // as the original is one stream.
    void read_old(std::size_t k, frame& f) {
        f.number = k;
        f.old = k < olds.size() ? &olds[k] : nullptr;
        if (f.old != nullptr) {
            const image_place& place = format.images[0];
            f.last_of_original = std::none_of(olds.begin() + static_cast<std::ptrdiff_t>(k) + 1, olds.end(),
                                              [](const old_record& r) { return !r.padding; });
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
        f.header.assign(header_extent(format), 0);
        lay_out_plain(format, fitted.palettes, fitted.rows, f.header);
        const bytes content = lay_out_block(format, fitted.palettes, fitted.rows);
        f.unchanged = old && fitted.palettes == old->palettes && reads_as(old->block.bytes, content);
        auto is_zero = [](std::uint8_t b) { return b == 0; };
        f.zero = std::all_of(f.header.begin(), f.header.end(), is_zero) &&
                 std::all_of(content.begin(), content.end(), is_zero);
        f.old_data.reset();
        f.old_rows.clear();
        // The original's last record often stretches over the room after
        // it; unchanged, it may have to give that room up to frames added
        // after it.
        if ((!f.unchanged && !f.zero) || (f.unchanged && f.last_of_original)) {
            f.block = lzss_encode(content);
            f.block.shrink_to_fit();  // held until every frame is ready: no more than it needs
        }
    }

    // The least span a frame takes as a record of its own.
    std::int64_t least_span(const frame& f) const {
        if (f.unchanged) {
            const std::int64_t copied = f.old->span();
            return f.block.empty() ? copied : std::min(copied, rounded(f.header.size() + f.block.size()));
        }
        return rounded(f.header.size() + (f.zero ? zero_block.size() : f.block.size()));
    }

    record_need need_of(const frame& f) const {
        record_need need;
        need.min_span = least_span(f);
        need.preferred_span = f.unchanged ? f.old->span() : need.min_span;
        if (!f.unchanged && f.old != nullptr) {
            need.old_start = f.old->start;
            need.old_span = f.old->span();
        }
        return need;
    }

    // Writes `count` bytes a piece at a time: piece(at, size) gives the
    // `size` bytes from `at`, at most a chunk's worth.
    void write_in_chunks(std::uint64_t count, std::size_t chunk,
                         const std::function<std::span<const std::uint8_t>(std::uint64_t, std::size_t)>& piece) {
        for (std::uint64_t at = 0; at < count; at += chunk) {
            out(piece(at, static_cast<std::size_t>(std::min<std::uint64_t>(count - at, chunk))));
        }
    }

    void write_zeros(std::int64_t count) {
        static const bytes zeros(copy_chunk, 0);
        write_in_chunks(static_cast<std::uint64_t>(count), zeros.size(),
                        [](std::uint64_t, std::size_t size) { return std::span(zeros).first(size); });
    }

    // `groups` groups of eight literal zeros: the filler of a stretched block.
    void write_filler(std::uint64_t groups) {
        static const bytes filler = [] {
            bytes repeated;
            for (std::size_t k = 0; k < copy_chunk / filler_group.size(); ++k) {
                repeated.insert(repeated.end(), filler_group.begin(), filler_group.end());
            }
            return repeated;
        }();
        // Whole groups in every piece: the chunk is a whole number of them.
        write_in_chunks(groups * filler_group.size(), filler.size(),
                        [](std::uint64_t, std::size_t size) { return std::span(filler).first(size); });
    }

    bytes read_original(std::int64_t from, std::int64_t to) {
        bytes part(static_cast<std::size_t>(to - from));
        read_at(*original, from, part);
        return part;
    }

    void copy_original(std::int64_t from, std::int64_t to) {
        bytes piece;
        write_in_chunks(static_cast<std::uint64_t>(to - from), copy_chunk, [&](std::uint64_t at, std::size_t size) {
            const std::int64_t start = from + static_cast<std::int64_t>(at);
            piece = read_original(start, start + static_cast<std::int64_t>(size));
            return std::span<const std::uint8_t>(piece);
        });
    }

    // A record of `header` and `block` from `at`, ending so that the next
    // record starts at `goal`: the block stretched to end in the last unit
    // before it, zeros after.
    void write_record(std::span<const std::uint8_t> header, bytes block, std::int64_t at, std::int64_t goal) {
        const auto header_size = static_cast<std::int64_t>(header.size());
        const std::int64_t end = at + header_size + static_cast<std::int64_t>(block.size());
        const std::int64_t min_end = goal - unit() + 1;
        const stretched_block stretched =
            stretch_block(std::move(block), static_cast<std::uint64_t>(std::max(end, min_end) - at - header_size));
        out(header);
        out(stretched.head);
        write_filler(stretched.groups);
        out(stretched.tail);
        write_zeros(goal - (at + header_size + static_cast<std::int64_t>(stretched_size(stretched))));
    }

    void emit(const frame& f, std::int64_t at, std::int64_t span) {
        const std::int64_t goal = at + span;
        if (f.unchanged && span >= f.old->span()) {
            kept.push_back(f.number);
            if (span == f.old->span()) {
                copy_original(f.old->start, f.old->next);
                return;
            }
            // The original's own block, stretched.
            const std::int64_t block_at = f.old->start + static_cast<std::int64_t>(f.header.size());
            write_record(read_original(f.old->start, block_at), read_original(block_at, f.old->end), at, goal);
            return;
        }
        write_record(f.header, f.zero && !f.unchanged ? zero_block : f.block, at, goal);
    }

    std::string overflow_error(const record_plan& plan, std::size_t padding) const {
        std::string text = "the " + std::to_string(images.count) + " frames do not fit: their records need " +
                           std::to_string(plan.needed) + " bytes, the file has room for " + std::to_string(plan.room);
        if (padding > 0) {
            text += " before the " + std::to_string(padding) + " frames of zero padding at its end";
        }
        text += ": " + std::to_string(plan.needed - plan.room) + " bytes over";
        std::vector<std::size_t> grown;
        for (const frame& f : frames) {
            if (f.old != nullptr && !f.unchanged && least_span(f) > f.old->span()) {
                grown.push_back(f.number);
            }
        }
        if (!grown.empty()) {
            text += " (edited frames that grew: " + frame_ranges(grown) + ")";
        }
        return text;
    }

    // Reads and prepares every frame; false (and the error set) if one fails
    // or the frames so far cannot fit whatever follows.
    bool prepare_all() {
        const unsigned jobs = options.jobs;
        const std::size_t batch = std::max(min_batch, frames_per_job * std::max(1u, jobs));
        std::int64_t least_so_far = 0;  // every frame at its least, zero frames as padding
        for (std::size_t first = 0; first < images.count; first += batch) {
            const std::size_t last = std::min(images.count, first + batch);
            std::vector<frame> ready(last - first);
            for (std::size_t k = first; k < last; ++k) {
                read_old(k, ready[k - first]);
            }
            parallel_for(ready.size(), jobs, [&](std::size_t k) { prepare(ready[k]); });
            for (frame& f : ready) {
                if (!f.error.empty()) {
                    outcome.error = f.error;
                    return false;
                }
                outcome.notes.insert(outcome.notes.end(), f.notes.begin(), f.notes.end());
                least_so_far += may_be_padding(f) ? unit() : least_span(f);
                if (least_so_far > format.file_size) {
                    outcome.error = "the " + std::to_string(images.count) + " frames do not fit: the first " +
                                    std::to_string(f.number + 1) + " need at least " + std::to_string(least_so_far) +
                                    " bytes, the file has " + std::to_string(format.file_size) + ", so at most " +
                                    std::to_string(f.number) + " of them fit";
                    return false;
                }
                frames.push_back(std::move(f));
            }
        }
        return true;
    }

    void run() {
        if (original != nullptr) {
            olds = walk_original(format, *original);
        }
        if (!prepare_all()) {
            return;
        }
        // Zero frames at the end are padding; padding alone would read as
        // more frames than there are, so the first frame is a record always.
        std::size_t padding = 0;
        while (padding + 1 < frames.size() && may_be_padding(frames[frames.size() - 1 - padding])) {
            ++padding;
        }
        const std::size_t records = frames.size() - padding;
        std::vector<record_need> needs;
        for (std::size_t k = 0; k < records; ++k) {
            if (frames[k].zero && !frames[k].unchanged && zero_block.empty()) {
                zero_block = lzss_encode(bytes(block_extent(format), 0));
            }
            needs.push_back(need_of(frames[k]));
        }
        const record_plan plan = plan_records(needs, format.file_size - static_cast<std::int64_t>(padding) * unit());
        if (!plan.fits) {
            outcome.error = overflow_error(plan, padding);
            return;
        }
        for (std::size_t k = 0; k < records; ++k) {
            emit(frames[k], plan.starts[k], plan.spans[k]);
        }
        write_zeros(static_cast<std::int64_t>(padding) * unit());

        outcome.report.push_back("layout " + std::string(format.name) + ": " + std::to_string(frames.size()) +
                                 " frames, " + std::to_string(padding) +
                                 " of them zero padding at the end of the file");
        outcome.report.push_back("records: " +
                                 room_text(static_cast<std::size_t>(plan.needed), static_cast<std::size_t>(plan.room)));
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
