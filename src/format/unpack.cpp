#include "format/unpack.h"

#include <string>

#include "format/records.h"

namespace torv {

result<flow> unpack_images(const layout& format, input_stream& in, std::string_view prefix,
                           std::span<std::uint8_t> canvas, const image_sink& sink, record_point from) {
    result<flow> last = flow::go_on;
    // Running out of records is the normal end. Frames beyond 999 keep
    // counting in decimal rather than taking the one-character suffixes of
    // the other layouts.
    for_each_record(
        format, in,
        [&](const record_data& record, std::int32_t number) {
            for (const image_place& image : format.images) {
                const std::span<std::uint8_t> pixels = canvas.first(image_bytes(image));
                image_pixels(image, record, in, pixels);
                const std::string name = output_name(prefix, image, number);
                last = sink({name, image.width, image.height, pixels, record.palettes[image.palette],
                             record_point{record.start, number}});
                if (!last || *last == flow::stop) {
                    return false;
                }
            }
            return true;
        },
        0, from);
    return last;
}

bool is_record_point(const layout& format, record_point from) {
    if (!is_record_walk(format)) {
        return from.offset == 0 && from.number == 0;
    }
    const std::int64_t unit = format.record_alignment;
    // Every record takes at least one unit, so record n starts at n units or
    // later.
    return from.offset >= 0 && from.offset < format.file_size && from.offset % unit == 0 && from.number >= 0 &&
           from.number <= from.offset / unit;
}

}  // namespace torv
