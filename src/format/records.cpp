#include "format/records.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "format/tiles.h"

namespace torv {

namespace {

// `dest.size()` bytes of the block from `offset`; what it does not hold is 0.
void copy_from_block(std::span<const std::uint8_t> block, std::size_t offset, std::span<std::uint8_t> dest) {
    const std::size_t available = offset < block.size() ? block.size() - offset : 0;
    const std::size_t covered = std::min(dest.size(), available);
    if (covered > 0) {
        std::memcpy(dest.data(), block.data() + offset, covered);
    }
    std::fill(dest.begin() + static_cast<std::ptrdiff_t>(covered), dest.end(), std::uint8_t{0});
}

void put_at(std::span<std::uint8_t> dest, std::size_t offset, std::span<const std::uint8_t> from) {
    std::copy(from.begin(), from.end(), dest.begin() + static_cast<std::ptrdiff_t>(offset));
}

// The palettes and images from `where`, into `dest` at their offsets.
void lay_out(const layout& format, source where, std::span<const rgb15_palette> palettes,
             std::span<const std::vector<std::uint8_t>> rows, std::span<std::uint8_t> dest) {
    for (std::size_t p = 0; p < format.palettes.size(); ++p) {
        if (format.palettes[p].from == where) {
            put_at(dest, format.palettes[p].offset, palette_to_bytes(palettes[p]));
        }
    }
    for (std::size_t k = 0; k < format.images.size(); ++k) {
        if (format.images[k].from == where) {
            put_at(dest, format.images[k].offset, stored_form(format.images[k], rows[k]));
        }
    }
}

}  // namespace

std::vector<std::uint8_t> stored_form(const image_place& image, std::span<const std::uint8_t> rows) {
    if (image.order == pixel_order::rows) {
        return {rows.begin(), rows.end()};
    }
    std::vector<std::uint8_t> tiles(rows.size());
    tile(rows, static_cast<std::size_t>(image.width), static_cast<std::size_t>(image.height), tiles);
    return tiles;
}

void lay_out_plain(const layout& format, std::span<const rgb15_palette> palettes,
                   std::span<const std::vector<std::uint8_t>> rows, std::span<std::uint8_t> plain) {
    lay_out(format, source::file, palettes, rows, plain);
}

std::vector<std::uint8_t> lay_out_block(const layout& format, std::span<const rgb15_palette> palettes,
                                        std::span<const std::vector<std::uint8_t>> rows) {
    std::vector<std::uint8_t> content(block_extent(format), 0);
    lay_out(format, source::block, palettes, rows, content);
    return content;
}

std::optional<record_data> read_record(const layout& format, input_stream& in, std::int64_t start,
                                       std::size_t max_kept) {
    record_data record;
    record.start = start;
    std::array<std::uint8_t, palette_bytes> stored{};
    for (std::size_t k = 0; k < format.palettes.size(); ++k) {
        const palette_place& place = format.palettes[k];
        if (place.from == source::file) {
            const std::size_t got = read_at(in, start + static_cast<std::int64_t>(place.offset), stored);
            if (k == 0 && is_record_walk(format) && got < palette_bytes) {
                return std::nullopt;
            }
            record.palettes[k] = palette_from_bytes(stored);
        }
    }

    record.end = start + static_cast<std::int64_t>(header_extent(format));
    if (format.block_offset) {
        seek_input(in, start + static_cast<std::int64_t>(*format.block_offset));
        record.block = decode_block(in, max_kept == 0 ? block_extent(format) : max_kept);
        record.end = record.block.end;
    }
    for (std::size_t k = 0; k < format.palettes.size(); ++k) {
        const palette_place& place = format.palettes[k];
        if (place.from == source::block) {
            copy_from_block(record.block.bytes, place.offset, stored);
            record.palettes[k] = palette_from_bytes(stored);
        }
    }
    record.next = next_record_start(format, record.end);
    return record;
}

void for_each_record(const layout& format, input_stream& in,
                     const std::function<bool(const record_data&, std::int32_t)>& visit, std::size_t max_kept,
                     record_point from) {
    std::int64_t start = from.offset;
    for (std::int32_t number = from.number;; ++number) {
        const std::optional<record_data> record = read_record(format, in, start, max_kept);
        if (!record) {
            return;
        }
        if (!visit(*record, number)) {
            return;
        }
        // A walk ends where its records stop moving on, as well as at a
        // first palette cut short.
        if (!is_record_walk(format) || record->next <= start) {
            return;
        }
        start = record->next;
    }
}

void stored_pixels(const image_place& image, const record_data& record, input_stream& in,
                   std::span<std::uint8_t> dest) {
    if (image.from == source::file) {
        read_at(in, record.start + static_cast<std::int64_t>(image.offset), dest);
    } else {
        copy_from_block(record.block.bytes, image.offset, dest);
    }
}

void image_pixels(const image_place& image, const record_data& record, input_stream& in,
                  std::span<std::uint8_t> pixels) {
    const std::size_t size = image_bytes(image);
    if (image.order == pixel_order::rows) {
        stored_pixels(image, record, in, pixels.first(size));
        return;
    }
    const auto width = static_cast<std::size_t>(image.width);
    const auto height = static_cast<std::size_t>(image.height);
    // Tiles straight from the block when it holds them all; otherwise a copy
    // with the missing bytes 0 first.
    const std::span<const std::uint8_t> block = record.block.bytes;
    if (image.from == source::block && image.offset + size <= block.size()) {
        untile(block.subspan(image.offset, size), width, height, pixels);
        return;
    }
    std::vector<std::uint8_t> stored(size);
    stored_pixels(image, record, in, stored);
    untile(stored, width, height, pixels);
}

}  // namespace torv
