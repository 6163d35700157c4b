// The one record of conversion state shared by the driver, the layout
// converters, the block decoder and the BMP writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace torv {

inline constexpr std::size_t ring_size = 4096;     // LZSS dictionary
inline constexpr std::size_t header_size = 1184;   // largest plain header
inline constexpr std::size_t palette_bytes = 512;  // 256 rgb15 entries
inline constexpr std::int32_t max_width = 640;
inline constexpr std::int32_t max_height = 480;
inline constexpr std::size_t canvas_size = std::size_t{max_width} * max_height;

struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

// The source file, read through a buffer of our own so that the decoder can
// take one byte at a time without a library call per byte.
struct input_stream {
    static constexpr std::size_t buffer_size = 64 * 1024;

    file_handle file;
    std::int64_t size = -1;        // measured when opened; -1 if unknown
    std::int64_t origin = 0;       // file offset of buffer[0]
    std::int64_t file_offset = 0;  // where the file itself stands; -1 if unknown
    std::size_t pos = 0;           // next byte to hand out
    std::size_t len = 0;           // valid bytes in buffer
    std::unique_ptr<std::uint8_t[]> buffer;
};

struct conversion_context {
    // Scratch: the LZSS dictionary while the part of a block that is not kept
    // is decoded; the three palettes of the uncompressed layout while its
    // images are written.
    std::uint8_t ring_area[ring_size] = {};
    // Bytes 0-511 are the current palette; the three-panel layout keeps its
    // whole plain header here.
    std::uint8_t header_area[header_size] = {};

    // The most recently decoded block: block_size bytes at block_data, never
    // more than the block declared, than the input actually yielded, or than
    // the converter asked to keep. block_storage owns the buffer they lie in.
    std::unique_ptr<std::uint8_t[]> block_storage;
    const std::uint8_t* block_data = nullptr;
    std::size_t block_size = 0;

    std::unique_ptr<std::uint8_t[]> canvas;  // canvas_size bytes
    std::string name_prefix;                 // drive, ':', base name
    std::int32_t cur_width = 0;
    std::int32_t cur_height = 0;

    input_stream in_file;
};

}  // namespace torv
