#include "format/unpack.h"

#include <string>

#include "format/records.h"

namespace torv {

file_result unpack_images(const layout& format, input_stream& in, std::string_view prefix,
                          std::span<std::uint8_t> canvas, const image_sink& sink, record_start from) {
    file_result failed;
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
                failed = sink({name,
                               {pixels, image.width, image.height},
                               record.palettes[image.palette],
                               record_start{record.start, number}});
                if (failed) {
                    return false;
                }
            }
            return true;
        },
        0, from);
    return failed;
}

}  // namespace torv
