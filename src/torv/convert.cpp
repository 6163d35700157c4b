#include "torv/convert.h"

#include <optional>

#include "format/records.h"
#include "image/bmp_write.h"

namespace torv {

namespace {

// Converts the record at `start`, number `number` of the file. Returns where
// the next record would start, or nothing if this record is not there.
std::optional<std::int64_t> convert_record(const layout& format, input_stream& in, std::int64_t start,
                                           std::int32_t number, std::string_view prefix,
                                           std::span<std::uint8_t> canvas) {
    const std::optional<record_data> record = read_record(format, in, start);
    if (!record) {
        return std::nullopt;
    }
    for (const image_place& image : format.images) {
        const std::span<std::uint8_t> pixels = canvas.first(image_bytes(image));
        image_pixels(image, *record, in, pixels);
        write_bmp(output_name(prefix, image, number), {pixels, image.width, image.height},
                  record->palettes[image.palette]);
    }
    return record->next;
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
    std::int64_t start = 0;
    for (std::int32_t number = 0;; ++number) {
        const std::optional<std::int64_t> next = convert_record(format, in, start, number, prefix, canvas);
        if (!next || *next <= start) {
            return;
        }
        start = *next;
    }
}

}  // namespace torv
