#include "pack/pack.h"

#include <algorithm>
#include <optional>

#include "codec/lzss_encode.h"
#include "format/records.h"
#include "pack/pack_parts.h"

namespace torv::pack_parts {

namespace {

// Puts the record's block in `file`: the original's, if the images leave it
// as it was, or compressed anew. An error message if it does not fit.
std::string put_block(const layout& format, const fitted_record& fitted, const record_data* old,
                      const std::vector<std::string>& names, bytes& file, std::vector<std::string>& report) {
    const std::size_t file_size = file.size();
    const std::size_t block_at = *format.block_offset;
    const std::size_t room = file_size - block_at;
    const std::size_t extent = block_extent(format);
    bytes content = lay_out_block(format, fitted.palettes, fitted.rows);
    if (old && reads_as(old->block.bytes, content)) {
        const auto used = static_cast<std::size_t>(old->block.end) - block_at;
        report.push_back("block: " + room_text(used, room) + ", as in the original");
        return {};
    }
    // Decoded bytes the original holds past the images stay.
    if (old && old->block.bytes.size() > extent) {
        content.insert(content.end(), old->block.bytes.begin() + static_cast<std::ptrdiff_t>(extent),
                       old->block.bytes.end());
    }
    const bytes block = lzss_encode(content);
    const std::size_t used = block.size();
    if (used > room) {
        std::string in_block;
        for (std::size_t k = 0; k < format.images.size(); ++k) {
            if (format.images[k].from == source::block) {
                in_block += (in_block.empty() ? "" : ", ") + names[k];
            }
        }
        return in_block + ": the compressed block needs " + std::to_string(used) + " bytes, the layout has room for " +
               std::to_string(room) + ": " + std::to_string(used - room) + " bytes over";
    }
    // After the new block: zeros where the old one lay, then whatever
    // followed it.
    const std::size_t old_end = old ? std::min(file_size, static_cast<std::size_t>(old->block.end)) : 0;
    std::fill(file.begin() + static_cast<std::ptrdiff_t>(block_at + used),
              file.begin() + static_cast<std::ptrdiff_t>(std::max(block_at + used, old_end)), 0);
    std::copy(block.begin(), block.end(), file.begin() + static_cast<std::ptrdiff_t>(block_at));
    report.push_back("block: " + room_text(used, room));
    return {};
}

// The images whose indices and palette are the original's.
std::string kept_images(const layout& format, const fitted_record& fitted, const record_data& old,
                        const std::vector<bytes>& old_rows, const std::vector<std::string>& names) {
    std::string kept;
    for (std::size_t k = 0; k < format.images.size(); ++k) {
        const std::size_t p = format.images[k].palette;
        if (fitted.rows[k] == old_rows[k] && fitted.palettes[p] == old.palettes[p]) {
            kept += (kept.empty() ? "" : ", ") + names[k];
        }
    }
    return kept.empty() ? "none" : kept;
}

}  // namespace

// Layouts of one record: everything in memory at once.
pack_outcome pack_single(const layout& format, const image_source& images, input_stream* original,
                         const pack_options& options, const byte_sink& out) {
    pack_outcome outcome;
    const std::size_t count = format.images.size();
    const auto file_size = static_cast<std::size_t>(format.file_size);

    std::vector<picture> pictures(count);
    std::vector<std::string> names(count);
    for (std::size_t k = 0; k < count; ++k) {
        names[k] = images.name(k);
        outcome.error = load_image(images, k, format.images[k], pictures[k]);
        if (!outcome.error.empty()) {
            return outcome;
        }
    }

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

    fitted_record fitted;
    outcome.error =
        fit_record(format, pictures, names, old ? &*old : nullptr, old_rows, options.nearest, fitted, outcome.notes);
    if (!outcome.error.empty()) {
        return outcome;
    }

    // The plain parts, in place.
    lay_out_plain(format, fitted.palettes, fitted.rows, std::span(file).first(header_extent(format)));

    outcome.report.push_back("layout " + std::string(format.name) + ": " + std::to_string(count) +
                             (count == 1 ? " image" : " images"));
    if (format.block_offset) {
        outcome.error = put_block(format, fitted, old ? &*old : nullptr, names, file, outcome.report);
        if (!outcome.error.empty()) {
            return outcome;
        }
    }
    if (old) {
        outcome.report.push_back("kept as in the original: " + kept_images(format, fitted, *old, old_rows, names));
    }
    out(file);
    return outcome;
}

}  // namespace torv::pack_parts

namespace torv {

pack_outcome pack(const layout& format, const image_source& images, input_stream* original, const pack_options& options,
                  const byte_sink& out) {
    if (is_record_walk(format)) {
        return pack_parts::pack_frames(format, images, original, options, out);
    }
    return pack_parts::pack_single(format, images, original, options, out);
}

}  // namespace torv
