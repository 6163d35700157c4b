// libtorv, one direction: a source file in, its images out.
//
//   source file (one of five layouts, told apart by size alone)
//     -> each image of each record, in order:
//        name        "e:pic0.bmp", the name torv writes it under
//        indices     width x height palette indices, top row first
//        palette     256 entries of 15-bit colour, as stored:
//                    bit  15 | 14..10 | 9..5  | 4..0
//                         --   blue     green   red
//
// Memory in, values out; a file is read through a small buffer. Nothing here
// prints or ends the process; running out of memory throws std::bad_alloc.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace torv {

// One image, valid during the call that hands it over.
struct image_view {
    std::string_view name;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::span<const std::uint8_t> indices;
    std::span<const std::uint16_t, 256> palette;
};

// Takes an image; false stops the unpacking.
using image_taker = std::function<bool(const image_view&)>;

struct unpack_result {
    std::string layout;    // the layout's name; empty if no layout has the file's size (nothing was unpacked)
    bool stopped = false;  // the taker said stop
};

// Unpacks the source file held in `file`, naming its images after `prefix`
// ("e:pic" gives "e:pic0.bmp", ...).
unpack_result unpack_bytes(std::span<const std::uint8_t> file, std::string_view prefix, const image_taker& take);

// The same for the file at `path`; nothing if it cannot be opened.
std::optional<unpack_result> unpack_file(const std::string& path, std::string_view prefix, const image_taker& take);

// The 8-bit BMP file torv writes for an image.
std::vector<std::uint8_t> bmp_bytes(const image_view& image);

}  // namespace torv
