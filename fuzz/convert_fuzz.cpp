// Arbitrary file contents in each of the five layouts, converted by the whole
// program (command line to BMP files) in a scratch folder.
//
// Input: one byte that picks the layout, then the file's first bytes; the rest
// of the file, up to the layout's exact size, is 0xFF.
//
// The frame sequence is the exception: padded to its full 9 MB, every run
// would spend its time walking the padding (or writing thousands of empty
// frames), so its images are unpacked straight from the unpadded contents in
// memory, walked until they end as a full-size file would be, and laid out
// as BMP files in memory.
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "format/layouts.h"
#include "format/unpack.h"
#include "image/bmp_write.h"
#include "io/input.h"
#include "torv/run.h"

namespace {

const std::filesystem::path& scratch() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path base =
            std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        auto path = base / ("torv-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

bool write_source(const std::string& name, const std::uint8_t* data, std::size_t size, std::size_t file_size) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const std::size_t head = std::min(size, file_size);
    std::fwrite(data, 1, head, file);
    static const std::array<std::uint8_t, 64 * 1024> filler = [] {
        std::array<std::uint8_t, 64 * 1024> bytes{};
        bytes.fill(0xFF);
        return bytes;
    }();
    for (std::size_t left = file_size - head; left > 0;) {
        const std::size_t chunk = std::min(left, filler.size());
        std::fwrite(filler.data(), 1, chunk, file);
        left -= chunk;
    }
    return std::fclose(file) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const torv::layout& format = *torv::all_layouts[data[0] % std::size(torv::all_layouts)];
    const auto file_size = static_cast<std::size_t>(format.file_size);
    const bool walk = is_record_walk(format);
    if (walk) {
        const std::size_t canvas_size = torv::largest_image_bytes();
        const auto canvas = std::make_unique<std::uint8_t[]>(canvas_size);
        torv::input_stream in;
        torv::attach_memory(in, {data + 1, std::min(size - 1, file_size)});
        std::vector<std::uint8_t> bmp;
        torv::unpack_images(format, in, "f", {canvas.get(), canvas_size}, [&](const torv::unpacked_image& image) {
            bmp.resize(torv::bmp_file_size(image.image.width, image.image.height));
            torv::lay_out_bmp(image.image, image.palette, bmp.data());
            return torv::file_result{};
        });
        return 0;
    }
    // No dots in the folder's path, so that the name read is exactly this one.
    const std::string stem = (scratch() / "f").string();
    if (stem.find('.') != std::string::npos || !write_source(stem + ".bin", data + 1, size - 1, file_size)) {
        return 0;
    }
    const char* argv[] = {"torv", stem.c_str(), ""};
    torv::run(3, argv);
    return 0;
}
