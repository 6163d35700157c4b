// libtorv/unpack.h on the format layer: a byte source of memory or a file,
// and a sink that shows each image as a view.
#include "libtorv/unpack.h"

#include <memory>

#include "format/layouts.h"
#include "format/names.h"
#include "format/unpack.h"
#include "image/bmp_write.h"
#include "io/input.h"

namespace torv {

namespace {

unpack_result unpack_source(input_stream& in, std::string_view prefix, const image_taker& take, record_point from) {
    unpack_result result;
    const layout* format = find_layout(input_size(in));
    if (format == nullptr) {
        return result;
    }
    result.layout = format->name;
    if (from.offset < 0 || from.offset >= input_size(in) || from.number < 0) {
        return result;
    }
    // Every image is written whole before it is handed on: no need to clear.
    const std::size_t canvas_size = largest_image_bytes();
    const std::unique_ptr<std::uint8_t[]> canvas(new std::uint8_t[canvas_size]);
    const file_result stopped = unpack_images(
        *format, in, prefix, {canvas.get(), canvas_size},
        [&](const unpacked_image& image) {
            const image_view view{image.name,
                                  image.image.width,
                                  image.image.height,
                                  image.image.pixels,
                                  std::span<const std::uint16_t, 256>(image.palette),
                                  {image.record.offset, image.record.number}};
            return take(view) ? file_result{}
                              : file_result{file_failure{file_step::write, std::string(image.name), {}}};
        },
        record_start{from.offset, from.number});
    result.stopped = stopped.has_value();
    return result;
}

}  // namespace

unpack_result unpack_bytes(std::span<const std::uint8_t> file, std::string_view prefix, const image_taker& take,
                           record_point from) {
    input_stream in;
    attach_memory(in, file);
    return unpack_source(in, prefix, take, from);
}

std::optional<unpack_result> unpack_file(const std::string& path, std::string_view prefix, const image_taker& take) {
    input_stream in;
    if (!open_input(in, path)) {
        return std::nullopt;
    }
    return unpack_source(in, prefix, take, {});
}

std::string image_prefix(std::string_view filename, std::string_view drive) {
    return name_prefix(filename, drive);
}

std::vector<layout_size> layout_sizes() {
    std::vector<layout_size> sizes;
    for (const layout* format : all_layouts) {
        sizes.push_back({std::string(format->name), format->file_size});
    }
    return sizes;
}

std::vector<std::uint8_t> bmp_bytes(const image_view& image) {
    std::vector<std::uint8_t> file(bmp_file_size(image.width, image.height));
    rgb15_palette palette{};
    std::copy(image.palette.begin(), image.palette.end(), palette.begin());
    lay_out_bmp({image.indices, image.width, image.height}, palette, file.data());
    return file;
}

std::array<std::uint8_t, 768> palette_colours(std::span<const std::uint16_t, 256> palette) {
    std::array<std::uint8_t, 768> colours{};
    for (std::size_t k = 0; k < palette.size(); ++k) {
        const rgb8 colour = rgb8_of(palette[k]);
        colours[3 * k] = colour.red;
        colours[3 * k + 1] = colour.green;
        colours[3 * k + 2] = colour.blue;
    }
    return colours;
}

}  // namespace torv
