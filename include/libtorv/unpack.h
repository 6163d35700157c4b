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

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace torv {

// Where an image's record begins in the file, and the record's number:
// unpacking can start there again without decoding the records before it
// (a frame sequence's frame k alone, on demand).
struct record_point {
    std::int64_t offset = 0;
    std::int32_t number = 0;
};

// One image, valid during the call that hands it over.
struct image_view {
    std::string_view name;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::span<const std::uint8_t> indices;
    std::span<const std::uint16_t, 256> palette;
    record_point record;
};

// Takes an image; false stops the unpacking.
using image_taker = std::function<bool(const image_view&)>;

struct unpack_result {
    std::string layout;    // the layout's name; empty if no layout has the file's size (nothing was unpacked)
    bool stopped = false;  // the taker said stop
};

// Unpacks the source file held in `file`, naming its images after `prefix`
// ("e:pic" gives "e:pic0.bmp", ...), from the record at `from` on (a point
// an earlier unpacking of the same file handed over; one outside the file
// unpacks nothing).
unpack_result unpack_bytes(std::span<const std::uint8_t> file, std::string_view prefix, const image_taker& take,
                           record_point from = {});

// The same for the file at `path`; nothing if it cannot be opened.
std::optional<unpack_result> unpack_file(const std::string& path, std::string_view prefix, const image_taker& take);

// The prefix `torv filename drive` names the images after: the drive's
// first character and ':' (nothing for an empty drive), then the file name
// after its last backslash, up to its first dot ("pics" for "D:\\x\\pics.dat"
// and an empty drive).
std::string image_prefix(std::string_view filename, std::string_view drive);

// Each layout's name and the size of its files, in the order a file's size is
// tested against them.
struct layout_size {
    std::string name;
    std::int64_t file_size = 0;
};
std::vector<layout_size> layout_sizes();

// The 8-bit BMP file torv writes for an image.
std::vector<std::uint8_t> bmp_bytes(const image_view& image);

// The image as an 8-bit indexed PNG file with the BMP's colours as its
// palette; empty in a build without PNG support.
std::vector<std::uint8_t> png_bytes(const image_view& image);

// The palette's colours as the BMP's colour table shows them: red, green and
// blue of each entry in turn.
std::array<std::uint8_t, 768> palette_colours(std::span<const std::uint16_t, 256> palette);

}  // namespace torv
