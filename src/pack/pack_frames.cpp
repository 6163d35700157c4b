// Packing a walk of records (the frame sequence): frames are read, fitted and
// compressed a batch at a time, each on a thread of its own; each is then one
// kind of frame (see frame_kind). Once every frame is ready, a plan says
// where each record goes (see pack/frame_plan.h) and the records are written
// front to back. What is held is the compressed blocks, which together
// cannot exceed the file's size. Frames can also be prepared in batches for
// another packer (a worker of a page that shares no memory with it), which
// takes them in their turn as if it had prepared them itself.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

#include "codec/lzss_encode.h"
#include "image/quality.h"
#include "io/little_endian.h"
#include "pack/fit_colours.h"
#include "pack/fit_room.h"
#include "pack/frame_plan.h"
#include "pack/pack_parts.h"
#include "pack/parallel.h"
#include "pack/prepared_frames.h"

namespace torv::pack_parts {

namespace {

constexpr std::size_t frames_per_job = 4;
constexpr std::size_t min_batch = 8;
constexpr std::size_t copy_chunk = 64 * 1024;

using old_record = original_record;

std::int64_t span_of(const old_record& record) {
    return record.next - record.start;
}

struct frame {
    std::size_t number = 0;
    frame_kind kind = frame_kind::edited;
    const old_record* old = nullptr;      // the original's record of this number, if any
    bool shrink_ready = false;            // a kept frame whose block should be re-encoded when prepared
    bool re_encoded = false;              // a kept frame whose block was re-encoded (kept if smaller)
    std::optional<record_data> old_data;  // the original's record, while the frame is prepared
    std::vector<bytes> old_rows;          // and its image
    std::vector<std::string> notes;
    bytes fit_content;             // with --fit, an edited frame's block content as it would be packed unchanged
    std::optional<image_fit> fit;  // what --fit did to it, if anything
    bytes header;                  // the record's plain part: its palette, as stored
    // An edited frame's block; a kept frame's block re-encoded, to shrink
    // to (empty unless it was needed and is smaller).
    bytes block;
};

prepared_frame prepared_of(frame&& f) {
    return {f.number, f.kind, f.re_encoded, std::move(f.header), std::move(f.block), std::move(f.notes)};
}

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

// The kind of a prepared frame.
frame_kind kind_of(bool unchanged, bool zero, const old_record* old) {
    if (unchanged && !old->padding) {
        return frame_kind::kept;
    }
    return zero ? frame_kind::zero : frame_kind::edited;
}

struct frame_packer {
    const layout& format;
    std::span<const image_file> files;
    const image_folder& folder;
    input_stream* original;
    const pack_settings& settings;
    const byte_writer& out;

    std::vector<old_record> olds{};
    std::vector<frame> frames{};
    bytes zero_block{};  // the block of a zero frame that is a record of its own
    std::vector<std::size_t> kept{};

    std::int64_t unit() const { return format.record_alignment; }
    std::int64_t rounded(std::size_t bytes_taken) const {
        return next_record_start(format, static_cast<std::int64_t>(bytes_taken));
    }

    // What the original holds for frame `f`: read one frame after the other,
    // as the original is one stream.
    void read_old(frame& f) {
        if (f.old != nullptr) {
            const image_place& place = format.images[0];
            f.old_data = read_record(format, *original, f.old->start);
            f.old_rows.assign(1, bytes(image_bytes(place)));
            image_pixels(place, *f.old_data, *original, f.old_rows[0]);
        }
    }

    // Reads, fits, compares and (if it changed) compresses a frame: work of
    // its own, done on any thread.
    result<> prepare(frame& f) const {
        std::vector<picture> pictures(1);
        if (files[f.number].as_original && f.old_data) {
            pictures[0] = picture_of_original(format.images[0], f.old_rows[0], f.old_data->palettes[0]);
        } else {
            result<picture> loaded = load_image(folder, files[f.number], format.images[0]);
            if (!loaded) {
                return std::move(loaded).error();
            }
            pictures[0] = std::move(*loaded);
        }
        const record_data* old = f.old_data ? &*f.old_data : nullptr;
        result<fitted_record> fitting = fit_record(format, pictures, {files[f.number].name}, old, f.old_rows, settings);
        if (!fitting) {
            return std::move(fitting).error();
        }
        const fitted_record& fitted = *fitting;
        f.notes = fitted.notes;
        if (fitted.changed_by_fit[0]) {
            f.fit = fit_of(files[f.number].name, pictures[0], fitted.rows[0], fitted.palettes[0]);
        }
        f.header.assign(header_extent(format), 0);
        lay_out_plain(format, fitted.palettes, fitted.rows, f.header);
        const bytes content = lay_out_block(format, fitted.palettes, fitted.rows);
        const bool unchanged = old && fitted.palettes == old->palettes && reads_as(old->block.bytes, content);
        auto is_zero = [](std::uint8_t b) { return b == 0; };
        const bool zero = std::all_of(f.header.begin(), f.header.end(), is_zero) &&
                          std::all_of(content.begin(), content.end(), is_zero);
        f.kind = kind_of(unchanged, zero, f.old);
        f.old_data.reset();
        f.old_rows.clear();
        if (f.kind == frame_kind::edited) {
            f.block = lzss_encode(content);
            f.block.shrink_to_fit();  // held until every frame is ready: no more than it needs
            if (settings.fit)
                f.fit_content = content;  // --fit may have to change it to fit
        } else if (f.kind == frame_kind::kept && f.shrink_ready) {
            keep_if_smaller(f, lzss_encode(content));
        }
        return {};
    }

    // A kept frame's re-encoded block, held only if its record would take
    // less room than the original's.
    void keep_if_smaller(frame& f, bytes block) const {
        f.re_encoded = true;
        if (rounded(f.header.size() + block.size()) < span_of(*f.old)) {
            f.block = std::move(block);
            f.block.shrink_to_fit();
        }
    }

    // A kept frame's block re-encoded from the original: the frame is the
    // original's, so its content is what the original's record reads as.
    void shrink(frame& f) const {
        keep_if_smaller(f, lzss_encode(lay_out_block(format, f.old_data->palettes, f.old_rows)));
        f.old_data.reset();
        f.old_rows.clear();
    }

    // The least span a frame takes as a record of its own.
    std::int64_t least_span(const frame& f) const {
        switch (f.kind) {
            case frame_kind::kept:
                return f.block.empty() ? span_of(*f.old)
                                       : std::min(span_of(*f.old), rounded(f.header.size() + f.block.size()));
            case frame_kind::edited: return rounded(f.header.size() + f.block.size());
            case frame_kind::zero: break;
        }
        return rounded(f.header.size() + zero_block.size());
    }

    // The least a frame adds to the file: a zero frame may be padding, one
    // unit (as long as it turns out to be at the end).
    std::int64_t least_share(const frame& f) const { return f.kind == frame_kind::zero ? unit() : least_span(f); }

    record_need need_of(const frame& f) const {
        record_need need;
        need.min_span = least_span(f);
        need.preferred_span = f.kind == frame_kind::kept ? span_of(*f.old) : need.min_span;
        if (f.kind == frame_kind::edited && f.old != nullptr) {
            need.old_start = f.old->start;
            need.old_span = span_of(*f.old);
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
        switch (f.kind) {
            case frame_kind::kept:
                if (span >= span_of(*f.old)) {
                    kept.push_back(f.number);
                    if (span == span_of(*f.old)) {
                        copy_original(f.old->start, f.old->next);
                        return;
                    }
                    // The original's own block, stretched.
                    const std::int64_t block_at = f.old->start + static_cast<std::int64_t>(f.header.size());
                    write_record(read_original(f.old->start, block_at), read_original(block_at, f.old->end), at, goal);
                    return;
                }
                write_record(f.header, f.block, at, goal);  // shrunk: the block re-encoded
                return;
            case frame_kind::edited: write_record(f.header, f.block, at, goal); return;
            case frame_kind::zero: write_record(f.header, zero_block, at, goal); return;
        }
    }

    // Where frames do not fit as given: the option that changes them until
    // they do, unless it was given.
    std::string fit_way_out() const {
        if (settings.fit || settings.words.fit.empty())
            return "";
        return " (" + settings.words.fit + " changes the edited frames as little as makes them fit)";
    }

    failure overflow(const record_plan& plan, std::size_t padding) const {
        std::string text = "the " + std::to_string(files.size()) + " frames do not fit: their records need " +
                           std::to_string(plan.needed) + " bytes, the file has room for " + std::to_string(plan.room);
        if (padding > 0) {
            text += " before the " + std::to_string(padding) + " frames of zero padding at its end";
        }
        text += ": " + std::to_string(plan.needed - plan.room) + " bytes over";
        std::vector<std::size_t> grown;
        for (const frame& f : frames) {
            if (f.kind == frame_kind::edited && f.old != nullptr && least_span(f) > span_of(*f.old)) {
                grown.push_back(f.number);
            }
        }
        if (!grown.empty()) {
            text += " (edited frames that grew: " + frame_ranges(grown) + ")";
        }
        text += fit_way_out();
        failure why = failure_of(code::frames_do_not_fit, std::move(text));
        why.needed = plan.needed;
        why.room = plan.room;
        return why;
    }

    // Gives every kept frame from `first` on a re-encoded block, so that it
    // can give up room: the original's records are read a batch at a time,
    // and encoded on as many threads as packing has.
    void shrink_kept(std::size_t first) {
        const std::size_t batch = std::max(min_batch, frames_per_job * std::max(1u, settings.jobs));
        std::vector<frame*> waiting;
        for (std::size_t k = first; k < frames.size(); ++k) {
            if (frames[k].kind == frame_kind::kept && !frames[k].re_encoded) {
                waiting.push_back(&frames[k]);
            }
        }
        for (std::size_t from = 0; from < waiting.size(); from += batch) {
            const std::size_t to = std::min(waiting.size(), from + batch);
            for (std::size_t k = from; k < to; ++k) {
                read_old(*waiting[k]);
            }
            parallel_for(to - from, settings.jobs, [&](std::size_t k) { shrink(*waiting[from + k]); });
        }
    }

    // The least the frames so far take together.
    std::int64_t least_so_far() const {
        std::int64_t least = 0;
        for (const frame& f : frames) least += least_share(f);
        return least;
    }

    // Frame k, ready to be prepared: its number, the original's record of
    // that number and whether its block should be re-encoded.
    frame set_up(std::size_t k, bool shrinking) const {
        frame f;
        f.number = k;
        f.old = k < olds.size() ? &olds[k] : nullptr;
        // The original's last real record often stretches over the room
        // after it: unchanged, it may have to give that room up to frames
        // added after it.
        const bool last_of_original =
            f.old != nullptr && std::none_of(olds.begin() + static_cast<std::ptrdiff_t>(k) + 1, olds.end(),
                                             [](const old_record& r) { return !r.padding; });
        f.shrink_ready = shrinking || last_of_original;
        return f;
    }

    // Prepares frames [first, last) on as many threads as packing has, the
    // original's records read first, one after the other. Frames a batch
    // given holds are taken from it.
    std::vector<result<>> prepare_range(std::vector<frame>& ready) {
        std::vector<result<>> prepared(ready.size());
        std::vector<bool> taken(ready.size());
        for (std::size_t k = 0; k < ready.size(); ++k) {
            taken[k] = take_given(ready[k], prepared[k]);
            if (!taken[k] || (ready[k].kind == frame_kind::kept && ready[k].shrink_ready && !ready[k].re_encoded)) {
                read_old(ready[k]);
            }
        }
        parallel_for(ready.size(), settings.jobs, [&](std::size_t k) {
            if (!taken[k]) {
                prepared[k] = prepare(ready[k]);
            } else if (ready[k].old_data) {
                shrink(ready[k]);  // as preparing would have, had it known that room runs short
            }
        });
        return prepared;
    }

    // Reads and prepares every frame; fails if one fails or the frames so
    // far cannot fit whatever follows, even with every kept frame shrunk.
    result<> prepare_all(std::vector<std::string>& notes) {
        const std::size_t batch = std::max(min_batch, frames_per_job * std::max(1u, settings.jobs));
        std::int64_t least = 0;  // every frame at its least, zero frames as padding
        bool shrinking = false;  // kept frames are re-encoded as they come, once room ran short
        for (std::size_t first = 0; first < files.size(); first += batch) {
            const std::size_t last = std::min(files.size(), first + batch);
            std::vector<frame> ready;
            for (std::size_t k = first; k < last; ++k) ready.push_back(set_up(k, shrinking));
            std::vector<result<>> prepared = prepare_range(ready);
            for (std::size_t k = 0; k < ready.size(); ++k) {
                if (!prepared[k]) {
                    return prepared[k].error();
                }
                frame& f = ready[k];
                notes.insert(notes.end(), f.notes.begin(), f.notes.end());
                frames.push_back(std::move(f));
                least += least_share(frames.back());
                if (least > format.file_size && !shrinking) {
                    // Keeping the original's bytes takes room that
                    // re-encoding might give back: from here on, kept frames
                    // can shrink.
                    shrinking = true;
                    shrink_kept(0);
                    least = least_so_far();
                }
                if (least > format.file_size && !settings.fit) {  // --fit makes edited frames fit later
                    const std::size_t count = frames.size();
                    failure why =
                        failure_of(code::frames_do_not_fit,
                                   "the " + std::to_string(files.size()) + " frames do not fit: the first " +
                                       std::to_string(count) + " need at least " + std::to_string(least) +
                                       " bytes, the file has " + std::to_string(format.file_size) + ", so at most " +
                                       std::to_string(count - 1) + " of them fit" + fit_way_out());
                    why.needed = least;
                    why.room = format.file_size;
                    return why;
                }
            }
        }
        return {};
    }

    // ---- Frames prepared elsewhere ------------------------------------------------

    // Per frame number: what a batch given holds of it.
    std::vector<std::optional<prepared_frame>> given{};
    std::vector<std::optional<failure>> given_failure{};

    // True if a batch given holds frame f: its preparation (or the failure
    // of it, in `done`) is taken.
    bool take_given(frame& f, result<>& done) {
        if (f.number < given_failure.size() && given_failure[f.number]) {
            done = std::move(*given_failure[f.number]);
            return true;
        }
        if (f.number >= given.size() || !given[f.number]) {
            return false;
        }
        prepared_frame& ready = *given[f.number];
        f.kind = ready.kind;
        f.re_encoded = ready.re_encoded;
        f.header = std::move(ready.header);
        f.block = std::move(ready.block);
        f.notes = std::move(ready.notes);
        given[f.number].reset();
        return true;
    }

    // Why a frame of a batch cannot be one this packing made, or nothing.
    std::optional<std::string> misfit(const prepared_frame& f) const {
        const std::size_t extent = block_extent(format);
        const std::size_t most = 4 + extent + (extent + 7) / 8;  // all literals
        const bool whole_block = f.block.size() >= 4 && f.block.size() <= most && get_u32le(f.block.data()) == extent;
        if (f.header.size() != header_extent(format)) {
            return "its palette is " + std::to_string(f.header.size()) + " bytes";
        }
        switch (f.kind) {
            case frame_kind::kept:
                if (f.number >= olds.size() || olds[f.number].padding) {
                    return std::string("the original has no such record to keep");
                }
                if (!f.block.empty() && (!f.re_encoded || !whole_block ||
                                         rounded(f.header.size() + f.block.size()) >= span_of(olds[f.number]))) {
                    return std::string("its block is no smaller form of the original's");
                }
                return std::nullopt;
            case frame_kind::edited:
                return whole_block ? std::nullopt : std::optional<std::string>("its block is none");
            case frame_kind::zero: break;
        }
        return f.block.empty() ? std::nullopt : std::optional<std::string>("a zero frame with a block");
    }

    // Takes in the batches of frames prepared elsewhere, checked against
    // this packing.
    result<> take_batches(std::span<const std::span<const std::uint8_t>> batches) {
        given.resize(batches.empty() ? 0 : files.size());
        given_failure.resize(given.size());
        auto refuse = [](std::size_t number, const std::string& why) {
            return failure_of(code::bad_argument, "frame " + std::to_string(number) +
                                                      " of the prepared frames given is not one of this " +
                                                      "packing: " + why);
        };
        for (const std::span<const std::uint8_t> bytes : batches) {
            result<prepared_batch> batch = read_batch(bytes);
            if (!batch) {
                return std::move(batch).error();
            }
            if (batch->frames_in_packing != files.size()) {
                return failure_of(code::bad_argument, "the prepared frames given are of a packing of " +
                                                          std::to_string(batch->frames_in_packing) +
                                                          " frames, not of these " + std::to_string(files.size()));
            }
            for (prepared_frame& f : batch->frames) {
                if (f.number >= files.size() || given[f.number] || given_failure[f.number]) {
                    return refuse(f.number, "it is not there, or given twice");
                }
                if (const std::optional<std::string> why = misfit(f)) {
                    return refuse(f.number, *why);
                }
                given[f.number] = std::move(f);
            }
            if (batch->why) {
                const std::size_t number = *batch->failed_frame;
                if (number >= files.size() || given[number] || given_failure[number]) {
                    return refuse(number, "it is not there, or given twice");
                }
                given_failure[number] = std::move(*batch->why);
            }
        }
        return {};
    }

    // Prepares frames [first, first + count) for another packer: a batch.
    libtorv::frame_batch prepare_batch(std::size_t first, std::size_t count) {
        prepared_batch batch;
        batch.frames_in_packing = files.size();
        std::vector<frame> ready;
        for (std::size_t k = first; k < std::min(files.size(), first + count); ++k) {
            ready.push_back(set_up(k, false));
        }
        std::vector<result<>> prepared = prepare_range(ready);
        for (std::size_t k = 0; k < ready.size(); ++k) {
            if (!prepared[k]) {
                batch.failed_frame = ready[k].number;
                batch.why = std::move(prepared[k]).error();
                break;
            }
            batch.frames.push_back(prepared_of(std::move(ready[k])));
        }
        return {batch_bytes(batch), batch.why.has_value()};
    }

    // The plan of the records before `padding` zero frames at the end.
    record_plan plan(std::size_t padding) {
        const std::size_t records = frames.size() - padding;
        std::vector<record_need> needs;
        for (std::size_t k = 0; k < records; ++k) {
            if (frames[k].kind == frame_kind::zero && zero_block.empty()) {
                zero_block = lzss_encode(bytes(block_extent(format), 0));
            }
            needs.push_back(need_of(frames[k]));
        }
        return plan_records(needs, format.file_size - static_cast<std::int64_t>(padding) * unit());
    }

    // ---- --fit: the edited frames made to fit the file ------------------------------

    // What an edited frame can be: for each lambda of the search, the size
    // of its block and its PSNR against the frame given.
    struct frame_choices {
        std::vector<std::int64_t> spans;
        std::vector<double> psnrs;
    };

    static const std::vector<double>& fit_lambdas() {
        // Unchanged first, then ever more change, down to the most.
        // A quarter of a decade apart: fine enough that frames of one
        // quality differ little in size.
        static const std::vector<double> lambdas = [] {
            std::vector<double> made = {std::numeric_limits<double>::infinity()};
            for (int quarter = 26; quarter >= 6; --quarter) made.push_back(std::pow(10.0, quarter / 4.0));
            made.push_back(0.0);
            return made;
        }();
        return lambdas;
    }

    // The frame's block, as --fit would change it, with what it asks of
    // the frame as given: the image read again, its pixels where they lie.
    struct frame_to_fit {
        alterable_block block;
        picture given;
        std::vector<rgb8> pixels;  // the frame given, at the game's levels
    };

    result<frame_to_fit> to_fit(const frame& f) const {
        const image_place& place = format.images[0];
        result<picture> loaded = load_image(folder, files[f.number], place);
        if (!loaded) {
            return std::move(loaded).error();
        }
        frame_to_fit made;
        made.given = std::move(*loaded);
        made.pixels = game_pixels(made.given);
        made.block.data = f.fit_content;
        made.block.palettes = {points_of(palette_from_bytes(f.header))};
        alterable_image image;
        image.bytes = block_bytes_of(place);
        image.width = place.width;
        image.tiled = place.order == pixel_order::tiles;
        for (const rgb8 pixel : made.pixels) image.wanted.push_back(point_of(pixel));
        made.block.images.push_back(std::move(image));
        return made;
    }

    static std::vector<rgb8> shown_of(const alterable_block& block, std::span<const std::uint8_t> content,
                                      const rgb15_palette& palette) {
        std::vector<rgb8> shown;
        for (const std::size_t at : block.images[0].bytes) shown.push_back(rgb8_of(palette[content[at]]));
        return shown;
    }

    static double psnr_at(const alterable_block& block, std::span<const std::uint8_t> content,
                          const rgb15_palette& palette, const std::vector<rgb8>& given) {
        const double psnr = psnr_of(given, shown_of(block, content, palette));
        return std::isfinite(psnr) ? psnr : 999.0;
    }

    // Each edited frame's choices, on as many threads as packing has.
    result<std::vector<frame_choices>> choices_of(const std::vector<frame*>& edited) const {
        std::vector<frame_choices> choices(edited.size());
        std::vector<std::optional<failure>> failed(edited.size());
        parallel_for(edited.size(), settings.jobs, [&](std::size_t e) {
            const frame& f = *edited[e];
            result<frame_to_fit> fitting = to_fit(f);
            if (!fitting) {
                failed[e] = fitting.error();
                return;
            }
            const alterable_block& block = fitting->block;
            const rgb15_palette palette = palette_from_bytes(f.header);
            for (const double lambda : fit_lambdas()) {
                const bytes content = std::isfinite(lambda) ? lossy_content(block, lambda) : block.data;
                const std::size_t size = std::isfinite(lambda) ? lzss_encode(content).size() : f.block.size();
                choices[e].spans.push_back(rounded(f.header.size() + size));
                choices[e].psnrs.push_back(psnr_at(block, content, palette, fitting->pixels));
            }
        });
        for (std::optional<failure>& why : failed) {
            if (why)
                return std::move(*why);
        }
        return choices;
    }

    // For each edited frame, the choice that takes the least room while
    // keeping at least `quality` (its unchanged block where it cannot).
    static std::vector<std::size_t> picks_at(const std::vector<frame_choices>& choices, double quality) {
        std::vector<std::size_t> picks;
        for (const frame_choices& c : choices) {
            std::size_t pick = 0;
            for (std::size_t j = 0; j < c.spans.size(); ++j) {
                if (c.psnrs[j] >= quality && c.spans[j] <= c.spans[pick])
                    pick = j;
            }
            picks.push_back(pick);
        }
        return picks;
    }

    static std::int64_t room_taken(const std::vector<frame_choices>& choices, const std::vector<std::size_t>& picks) {
        std::int64_t taken = 0;
        for (std::size_t e = 0; e < choices.size(); ++e) taken += choices[e].spans[picks[e]];
        return taken;
    }

    // Makes the edited frames fit: the highest quality every frame can keep
    // (or its own best, below it) whose records fit with the others.
    result<> fit_edited_frames(std::size_t padding, record_plan& placed) {
        std::vector<frame*> edited;
        std::int64_t others = 0;
        const std::size_t records = frames.size() - padding;
        for (std::size_t k = 0; k < records; ++k) {
            if (frames[k].kind == frame_kind::edited && !frames[k].fit_content.empty())
                edited.push_back(&frames[k]);
            else
                others += least_span(frames[k]);
        }
        if (edited.empty()) {
            return {};
        }
        result<std::vector<frame_choices>> found = choices_of(edited);
        if (!found) {
            return std::move(found).error();
        }
        const std::vector<frame_choices>& choices = *found;
        std::vector<double> qualities;
        for (const frame_choices& c : choices) qualities.insert(qualities.end(), c.psnrs.begin(), c.psnrs.end());
        std::sort(qualities.begin(), qualities.end(), std::greater<>());
        qualities.erase(std::unique(qualities.begin(), qualities.end()), qualities.end());
        const std::int64_t room = format.file_size - static_cast<std::int64_t>(padding) * unit() - others;
        // The first quality (from the highest) whose picks fit, then the
        // plan checked: a record's alignment may ask a little more.
        std::size_t at = static_cast<std::size_t>(
            std::partition_point(qualities.begin(), qualities.end(),
                                 [&](double q) { return room_taken(choices, picks_at(choices, q)) > room; }) -
            qualities.begin());
        for (; at < qualities.size(); ++at) {
            const std::vector<std::size_t> picks = picks_at(choices, qualities[at]);
            if (room_taken(choices, picks) > room)
                continue;
            if (result<> applied = apply_picks(edited, picks); !applied)
                return applied;
            placed = plan(padding);
            if (placed.fits)
                return {};
        }
        return {};  // the overflow says by how much
    }

    // Changes each edited frame as its pick says.
    result<> apply_picks(const std::vector<frame*>& edited, const std::vector<std::size_t>& picks) {
        std::vector<std::optional<failure>> failed(edited.size());
        parallel_for(edited.size(), settings.jobs, [&](std::size_t e) {
            frame& f = *edited[e];
            const double lambda = fit_lambdas()[picks[e]];
            if (!std::isfinite(lambda))
                return;  // unchanged
            result<frame_to_fit> fitting = to_fit(f);
            if (!fitting) {
                failed[e] = fitting.error();
                return;
            }
            const alterable_image& image = fitting->block.images[0];
            const bytes content = lossy_content(fitting->block, lambda);
            f.block = lzss_encode(content);
            bytes rows(image.bytes.size());
            for (std::size_t p = 0; p < rows.size(); ++p) rows[p] = content[image.bytes[p]];
            f.fit = fit_of(files[f.number].name, fitting->given, rows, palette_from_bytes(f.header));
        });
        for (std::optional<failure>& why : failed) {
            if (why)
                return std::move(*why);
        }
        return {};
    }

    result<pack_result> run() {
        pack_result packed;
        packed.layout = format.name;
        if (result<> taken = take_batches(settings.prepared); !taken) {
            return std::move(taken).error();
        }
        if (result<> ready = prepare_all(packed.notes); !ready) {
            return std::move(ready).error();
        }
        // Zero frames at the end are padding; padding alone would read as
        // more frames than there are, so the first frame is a record always.
        std::size_t padding = 0;
        while (padding + 1 < frames.size() && frames[frames.size() - 1 - padding].kind == frame_kind::zero) {
            ++padding;
        }
        record_plan placed = plan(padding);
        if (!placed.fits) {
            // Kept frames give up the room their original bytes take.
            shrink_kept(0);
            placed = plan(padding);
        }
        if (!placed.fits && settings.fit) {
            // The edited frames made to fit, at as even a quality as can be.
            result<> fitted = fit_edited_frames(padding, placed);
            if (!fitted)
                return std::move(fitted).error();
        }
        if (!placed.fits) {
            return overflow(placed, padding);
        }
        for (const frame& f : frames) {
            if (f.fit) {
                packed.fits.push_back(*f.fit);
                packed.report.push_back(fit_line(*f.fit));
            }
        }
        const std::size_t records = frames.size() - padding;
        for (std::size_t k = 0; k < records; ++k) {
            emit(frames[k], placed.starts[k], placed.spans[k]);
        }
        write_zeros(static_cast<std::int64_t>(padding) * unit());

        packed.report.push_back("layout " + std::string(format.name) + ": " + std::to_string(frames.size()) +
                                " frames, " + std::to_string(padding) + " of them zero padding at the end of the file");
        packed.report.push_back(
            "records: " + room_text(static_cast<std::size_t>(placed.needed), static_cast<std::size_t>(placed.room)));
        packed.rooms.push_back({"records", placed.needed, placed.room});
        if (original != nullptr) {
            packed.report.push_back("kept as in the original: " +
                                    (kept.empty() ? std::string("none") : "frames " + frame_ranges(kept)));
            for (const std::size_t number : kept) packed.kept.push_back(files[number].name);
        }
        return packed;
    }
};

// The original's records, walked once if the caller has not.
std::vector<old_record> records_of(const layout& format, input_stream* original,
                                   const std::vector<original_record>* records) {
    if (original == nullptr) {
        return {};
    }
    return records != nullptr ? *records : torv::walk_records(format, *original);
}

}  // namespace

result<pack_result> pack_frames(const layout& format, std::span<const image_file> files, const image_folder& folder,
                                input_stream* original, const pack_settings& settings, const byte_writer& out,
                                const std::vector<original_record>* records) {
    if (files.empty()) {
        return failure_of(code::missing_image, "no frames to pack");
    }
    frame_packer packer{format, files, folder, original, settings, out};
    packer.olds = records_of(format, original, records);
    return packer.run();
}

}  // namespace torv::pack_parts

namespace torv {

std::vector<original_record> walk_records(const layout& format, input_stream& in) {
    std::vector<original_record> records;
    // Only where each block ends matters here: keep one byte of each.
    for_each_record(
        format, in,
        [&](const record_data& record, std::int32_t) {
            records.push_back(
                {record.start, record.end, record.next, pack_parts::all_zero(in, record.start, record.next)});
            return true;
        },
        1);
    return records;
}

libtorv::frame_batch prepare_frames(const layout& format, std::span<const image_file> files, const image_folder& folder,
                                    input_stream* original, const std::vector<original_record>* records,
                                    const pack_settings& settings, std::size_t first, std::size_t count) {
    const byte_writer nowhere = [](std::span<const std::uint8_t>) {};
    pack_parts::frame_packer packer{format, files, folder, original, settings, nowhere};
    packer.olds = pack_parts::records_of(format, original, records);
    return packer.prepare_batch(first, count);
}

}  // namespace torv
