// libtorv/unpack.h's GIF writer, apart from the rest: a program that makes
// no GIF (torv) links none of giflib.
#include "api/views.h"
#include "format/layouts.h"
#include "image/gif_write.h"
#include "libtorv/unpack.h"

namespace libtorv {

result<bytes> gif_bytes(std::span<const std::uint8_t> file, unsigned frames_per_second) {
    const torv::layout* format = torv::find_layout(static_cast<std::int64_t>(file.size()));
    if (format == nullptr || !torv::is_record_walk(*format)) {
        return torv::failure_of(code::bad_argument,
                                "only a frame sequence is an animation, not a " +
                                    (format ? std::string(format->name) + " file" : std::string("file of no layout")));
    }
    bytes gif;
    torv::gif_animation animation;
    std::size_t frame = 0;
    result<> written;
    const result<unpack_result> unpacked = unpack_bytes(file, "", [&](const image_view& image) {
        if (frame == 0) {
            written = torv::begin_gif(animation, image.width, image.height, [&](std::span<const std::uint8_t> part) {
                gif.insert(gif.end(), part.begin(), part.end());
            });
        }
        if (written) {
            written = torv::add_gif_frame(animation, {image.indices, image.width, image.height}, palette_of(image),
                                          torv::gif_delay(frame, frames_per_second));
        }
        ++frame;
        return written.ok();
    });
    if (!unpacked) {
        return unpacked.error();
    }
    if (!written) {
        return written.error();
    }
    if (result<> ended = torv::end_gif(animation); !ended) {
        return std::move(ended).error();
    }
    return gif;
}

}  // namespace libtorv
