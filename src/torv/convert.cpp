#include "torv/convert.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "codec/lzss_decode.h"
#include "format/tiles.h"
#include "image/bmp_write.h"

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

// The stored bytes of one image, as they lie in the file or the block.
void read_stored(const image_place& image, input_stream& in, std::int64_t record, std::span<const std::uint8_t> block,
                 std::span<std::uint8_t> dest) {
    if (image.from == source::file) {
        read_at(in, record + static_cast<std::int64_t>(image.offset), dest);
    } else {
        copy_from_block(block, image.offset, dest);
    }
}

// Puts one image, as the layout stores it, into `canvas` as rows.
void assemble(const image_place& image, input_stream& in, std::int64_t record, std::span<const std::uint8_t> block,
              std::span<std::uint8_t> canvas) {
    const std::size_t size = image_bytes(image);
    if (image.order == pixel_order::rows) {
        read_stored(image, in, record, block, canvas.first(size));
        return;
    }
    const auto width = static_cast<std::size_t>(image.width);
    const auto height = static_cast<std::size_t>(image.height);
    // Tiles straight from the block when it holds them all; otherwise a copy
    // with the missing bytes 0 first.
    if (image.from == source::block && image.offset + size <= block.size()) {
        untile(block.subspan(image.offset, size), width, height, canvas);
        return;
    }
    std::vector<std::uint8_t> stored(size);
    read_stored(image, in, record, block, stored);
    untile(stored, width, height, canvas);
}

// Converts the record at `record`, number `number` of the file. Returns where
// the next record would start, or nothing if this record is not there: a
// walk of records ends at a first palette that is cut short.
std::optional<std::int64_t> convert_record(const layout& format, input_stream& in, std::int64_t record,
                                           std::int32_t number, std::string_view prefix,
                                           std::span<std::uint8_t> canvas) {
    std::array<rgb15_palette, max_palettes> palettes{};
    std::array<std::uint8_t, palette_bytes> stored{};
    for (std::size_t k = 0; k < format.palettes.size(); ++k) {
        const palette_place& place = format.palettes[k];
        if (place.from == source::file) {
            const std::size_t got = read_at(in, record + static_cast<std::int64_t>(place.offset), stored);
            if (k == 0 && format.record_alignment != 0 && got < palette_bytes) {
                return std::nullopt;
            }
            palettes[k] = palette_from_bytes(stored);
        }
    }

    decoded_block block;
    if (format.block_offset) {
        seek_input(in, record + static_cast<std::int64_t>(*format.block_offset));
        block = decode_block(in, block_extent(format));
    }
    for (std::size_t k = 0; k < format.palettes.size(); ++k) {
        const palette_place& place = format.palettes[k];
        if (place.from == source::block) {
            copy_from_block(block.bytes, place.offset, stored);
            palettes[k] = palette_from_bytes(stored);
        }
    }

    for (const image_place& image : format.images) {
        assemble(image, in, record, block.bytes, canvas);
        const indexed_image assembled{canvas.first(image_bytes(image)), image.width, image.height};
        write_bmp(output_name(prefix, image, number), assembled, palettes[image.palette]);
    }
    const std::int64_t step = format.record_alignment;
    return format.record_alignment == 0 ? block.end : (block.end + step - 1) / step * step;
}

}  // namespace

void convert(const layout& format, input_stream& in, std::string_view prefix, std::span<std::uint8_t> canvas) {
    if (format.record_alignment == 0) {
        convert_record(format, in, 0, 0, prefix, canvas);
        return;
    }
    // Running out of records is the normal end. Frames beyond 999 keep
    // counting in decimal rather than taking the one-character suffixes of
    // the other layouts.
    std::int64_t record = 0;
    for (std::int32_t number = 0;; ++number) {
        const std::optional<std::int64_t> next = convert_record(format, in, record, number, prefix, canvas);
        if (!next || *next <= record) {
            return;
        }
        record = *next;
    }
}

}  // namespace torv
