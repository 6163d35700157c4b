// libtorv/unpack.h on the format layer: a byte source of memory or a file,
// and a sink that shows each image as a view.
#include "libtorv/unpack.h"

#include <cstdio>
#include <limits>
#include <memory>

#include "api/views.h"
#include "format/layouts.h"
#include "format/names.h"
#include "format/unpack.h"
#include "image/bmp_write.h"
#include "io/input.h"
#include "io/words.h"

namespace libtorv {

namespace {

using torv::failure_of;

result<unpack_result> unpack_source(torv::input_stream& in, std::string_view prefix, const image_taker& take,
                                    record_point from) {
    unpack_result unpacked;
    const torv::layout* format = torv::find_layout(torv::input_size(in));
    if (format == nullptr) {
        return unpacked;
    }
    unpacked.layout = format->name;
    if (!torv::is_record_point(*format, from)) {
        return failure_of(code::bad_argument, "offset " + std::to_string(from.offset) + " and number " +
                                                  std::to_string(from.number) + " are no record of this " +
                                                  std::string(format->name) + " file");
    }
    // Every image is written whole before it is handed on: no need to clear.
    const std::size_t canvas_size = torv::largest_image_bytes();
    const std::unique_ptr<std::uint8_t[]> canvas(new std::uint8_t[canvas_size]);
    const result<torv::flow> ended = torv::unpack_images(
        *format, in, prefix, {canvas.get(), canvas_size},
        [&](const image_view& image) -> result<torv::flow> {
            return take(image) ? torv::flow::go_on : torv::flow::stop;
        },
        from);
    unpacked.stopped = ended && *ended == torv::flow::stop;
    return unpacked;
}

}  // namespace

result<unpack_result> unpack_bytes(std::span<const std::uint8_t> file, std::string_view prefix, const image_taker& take,
                                   record_point from) {
    torv::input_stream in;
    torv::attach_memory(in, file);
    return unpack_source(in, prefix, take, from);
}

result<unpack_result> unpack_file(const std::string& path, std::string_view prefix, const image_taker& take) {
    result<torv::input_stream> in = torv::open_input(path);
    if (!in) {
        return std::move(in).error();
    }
    return unpack_source(*in, prefix, take, {});
}

std::string image_prefix(std::string_view filename, std::string_view drive) {
    return torv::name_prefix(filename, drive);
}

std::string_view image_stem(std::string_view file_name) {
    const std::size_t dot = file_name.rfind('.');
    const std::size_t folder = file_name.find_last_of("/\\");
    if (dot == std::string_view::npos || (folder != std::string_view::npos && dot < folder)) {
        return file_name;
    }
    return file_name.substr(0, dot);
}

std::vector<layout_size> layout_sizes() {
    std::vector<layout_size> sizes;
    for (const torv::layout* format : torv::all_layouts) {
        sizes.push_back({std::string(format->name), format->file_size});
    }
    return sizes;
}

std::string size_of_no_layout(std::string_view name, std::int64_t size) {
    std::string words = std::string(name) + " is " + torv::grouped(size) + " bytes, the size of no file torv knows (";
    bool first = true;
    for (const torv::layout* format : torv::all_layouts) {
        words += (first ? "" : ", ") + std::string(format->name) + " " + torv::grouped(format->file_size);
        first = false;
    }
    return words + " bytes)";
}

result<bytes> bmp_bytes(const image_view& image) {
    if (result<> checked = check_view(image); !checked) {
        return std::move(checked).error();
    }
    const torv::indexed_image indexed{image.indices, image.width, image.height};
    bytes file(torv::bmp_file_size(image.width, image.height));
    torv::lay_out_bmp(indexed, palette_of(image), file.data());
    return file;
}

std::array<std::uint8_t, 768> palette_colours(std::span<const std::uint16_t, 256> palette) {
    std::array<std::uint8_t, 768> colours{};
    for (std::size_t k = 0; k < palette.size(); ++k) {
        const torv::rgb8 colour = torv::rgb8_of(palette[k]);
        colours[3 * k] = colour.red;
        colours[3 * k + 1] = colour.green;
        colours[3 * k + 2] = colour.blue;
    }
    return colours;
}

}  // namespace libtorv
