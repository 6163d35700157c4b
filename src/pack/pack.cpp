#include "pack/pack.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "codec/lzss_encode.h"
#include "format/records.h"
#include "pack/pack_parts.h"

namespace torv::pack_parts {

namespace {

// Puts the record's block in `file`: the original's, if the images leave it
// as it was, or compressed anew; fails if it does not fit.
// With `fit` (--fit), a block over its room is fitted into it.
result<> put_block(const layout& format, const fitted_record& fitted, const record_data* old,
                   const std::vector<std::string>& names, bytes& file, pack_result& packed,
                   const std::function<result<bytes>(std::size_t room)>& fit, const std::string& fit_words) {
    const std::size_t file_size = file.size();
    const std::size_t block_at = *format.block_offset;
    const std::size_t room = file_size - block_at;
    const std::size_t extent = block_extent(format);
    bytes content = lay_out_block(format, fitted.palettes, fitted.rows);
    if (old && reads_as(old->block.bytes, content)) {
        const auto used = static_cast<std::size_t>(old->block.end) - block_at;
        packed.report.push_back("block: " + room_text(used, room) + ", as in the original");
        packed.rooms.push_back({"block", static_cast<std::int64_t>(used), static_cast<std::int64_t>(room)});
        return {};
    }
    // Decoded bytes the original holds past the images stay.
    if (old && old->block.bytes.size() > extent) {
        content.insert(content.end(), old->block.bytes.begin() + static_cast<std::ptrdiff_t>(extent),
                       old->block.bytes.end());
    }
    bytes block = lzss_encode(content);
    if (block.size() > room && fit) {
        result<bytes> fitted_block = fit(room);
        if (!fitted_block)
            return std::move(fitted_block).error();
        block = std::move(*fitted_block);
    }
    const std::size_t used = block.size();
    if (used > room) {
        std::string in_block;
        for (std::size_t k = 0; k < format.images.size(); ++k) {
            if (format.images[k].from == source::block) {
                in_block += (in_block.empty() ? "" : ", ") + names[k];
            }
        }
        failure why = failure_of(code::block_too_large,
                                 in_block + ": the compressed block needs " + std::to_string(used) +
                                     " bytes, the layout has room for " + std::to_string(room) + ": " +
                                     std::to_string(used - room) + " bytes over (" + fit_words +
                                     " changes the "
                                     "images as little as makes them fit)",
                                 in_block);
        why.needed = static_cast<std::int64_t>(used);
        why.room = static_cast<std::int64_t>(room);
        return why;
    }
    // After the new block: zeros where the old one lay, then whatever
    // followed it.
    const std::size_t old_end = old ? std::min(file_size, static_cast<std::size_t>(old->block.end)) : 0;
    std::fill(file.begin() + static_cast<std::ptrdiff_t>(block_at + used),
              file.begin() + static_cast<std::ptrdiff_t>(std::max(block_at + used, old_end)), 0);
    std::copy(block.begin(), block.end(), file.begin() + static_cast<std::ptrdiff_t>(block_at));
    packed.report.push_back("block: " + room_text(used, room));
    packed.rooms.push_back({"block", static_cast<std::int64_t>(used), static_cast<std::int64_t>(room)});
    return {};
}

// The images whose indices and palette are the original's.
std::vector<std::string> kept_images(const layout& format, const fitted_record& fitted, const record_data& old,
                                     const std::vector<bytes>& old_rows, const std::vector<std::string>& names) {
    std::vector<std::string> kept;
    for (std::size_t k = 0; k < format.images.size(); ++k) {
        const std::size_t p = format.images[k].palette;
        if (fitted.rows[k] == old_rows[k] && fitted.palettes[p] == old.palettes[p]) {
            kept.push_back(names[k]);
        }
    }
    return kept;
}

std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text.empty() ? "none" : text;
}

}  // namespace

// Layouts of one record: everything in memory at once.
result<pack_result> pack_single(const layout& format, std::span<const image_file> files, const image_folder& folder,
                                input_stream* original, const pack_settings& settings, const byte_writer& out) {
    const std::size_t count = format.images.size();
    const auto file_size = static_cast<std::size_t>(format.file_size);

    std::optional<record_data> old;
    std::vector<bytes> old_rows(count);
    bytes file(file_size, 0);
    if (original != nullptr) {
        old = read_record(format, *original, 0, keep_everything);
        for (std::size_t k = 0; k < count; ++k) {
            old_rows[k].resize(image_bytes(format.images[k]));
            image_pixels(format.images[k], *old, *original, old_rows[k]);
        }
        read_at(*original, 0, file);
    }

    std::vector<picture> pictures(count);
    std::vector<std::string> names(count);
    for (std::size_t k = 0; k < count; ++k) {
        names[k] = files[k].name;
        const image_place& place = format.images[k];
        if (files[k].as_original && old) {
            pictures[k] = picture_of_original(place, old_rows[k], old->palettes[place.palette]);
            continue;
        }
        result<picture> loaded = load_image(folder, files[k], place);
        if (!loaded) {
            return std::move(loaded).error();
        }
        pictures[k] = std::move(*loaded);
    }

    result<fitted_record> fitting = fit_record(format, pictures, names, old ? &*old : nullptr, old_rows, settings);
    if (!fitting) {
        return std::move(fitting).error();
    }
    fitted_record& fitted = *fitting;
    pack_result packed;
    packed.layout = format.name;
    packed.notes = fitted.notes;

    // The plain parts, in place.
    lay_out_plain(format, fitted.palettes, fitted.rows, std::span(file).first(header_extent(format)));

    packed.report.push_back("layout " + std::string(format.name) + ": " + std::to_string(count) +
                            (count == 1 ? " image" : " images"));
    if (format.block_offset) {
        std::function<result<bytes>(std::size_t)> fit;
        if (settings.fit) {
            fit = [&](std::size_t room) {
                return fit_block(format, pictures, old_rows, old.has_value(), room, settings.jobs, fitted);
            };
        }
        if (result<> placed =
                put_block(format, fitted, old ? &*old : nullptr, names, file, packed, fit, settings.words.fit);
            !placed) {
            return std::move(placed).error();
        }
    }
    packed.fits = fits_of(format, pictures, names, fitted);
    for (const image_fit& fit : packed.fits) packed.report.push_back(fit_line(fit));
    if (old) {
        packed.kept = kept_images(format, fitted, *old, old_rows, names);
        packed.report.push_back("kept as in the original: " + listed(packed.kept));
    }
    out(file);
    return packed;
}

}  // namespace torv::pack_parts

namespace torv {

result<pack_result> pack(const layout& format, std::span<const image_file> files, const image_folder& folder,
                         input_stream* original, const pack_settings& settings, const byte_writer& out,
                         const std::vector<original_record>* records) {
    if (is_record_walk(format)) {
        return pack_parts::pack_frames(format, files, folder, original, settings, out, records);
    }
    return pack_parts::pack_single(format, files, folder, original, settings, out);
}

}  // namespace torv
