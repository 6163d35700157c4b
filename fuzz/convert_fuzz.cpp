// Arbitrary file contents in each of the five layouts, unpacked from memory
// through the public header, every image laid out as the BMP torv writes.
//
// Input: one byte that picks the layout, then the file's first bytes; the rest
// of the file, up to the layout's exact size, is 0xFF.
//
// The frame sequence is the exception: padded to its full 9 MB, every run
// would spend its time walking the padding, so its images are unpacked from
// the unpadded contents, walked until they end as a full-size file would be.
// (Its size then matches no layout, so the walk is asked for by layout.)
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "format/layouts.h"
#include "format/unpack.h"
#include "io/input.h"
#include "libtorv/unpack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const torv::layout& format = *torv::all_layouts[data[0] % std::size(torv::all_layouts)];
    const auto file_size = static_cast<std::size_t>(format.file_size);
    std::vector<std::uint8_t> bmp;
    if (is_record_walk(format)) {
        std::vector<std::uint8_t> canvas(torv::largest_image_bytes());
        torv::input_stream in;
        torv::attach_memory(in, {data + 1, std::min(size - 1, file_size)});
        const torv::result<torv::flow> ended =
            torv::unpack_images(format, in, "f", canvas, [&](const torv::image_view& image) {
                bmp = *libtorv::bmp_bytes(image);
                return torv::result<torv::flow>(torv::flow::go_on);
            });
        if (!ended) {
            std::abort();  // nothing in unpacking itself fails
        }
        return 0;
    }
    std::vector<std::uint8_t> file(data + 1, data + std::min(size, file_size + 1));
    file.resize(file_size, 0xFF);
    const libtorv::result<libtorv::unpack_result> unpacked =
        libtorv::unpack_bytes(file, "f", [&](const libtorv::image_view& image) {
            bmp = *libtorv::bmp_bytes(image);
            return true;
        });
    if (!unpacked) {
        std::abort();
    }
    return 0;
}
