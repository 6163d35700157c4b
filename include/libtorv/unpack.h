// libtorv, one direction: a source file in, its images out.
//
//   source file (one of five layouts, told apart by size alone)
//     -> each image of each record, in order, as an image_view
//        (libtorv/types.h): its name "e:pic0.bmp", its indices, its palette
//     -> as the BMP file torv writes, or as an indexed PNG
//
// Memory in, values out; a file is read through a small buffer. Nothing here
// prints or ends the process; a failure is a value (libtorv/result.h), and
// running out of memory throws std::bad_alloc.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "libtorv/result.h"
#include "libtorv/types.h"

namespace libtorv {

// Unpacks the source file held in `file`, naming its images after `prefix`
// ("e:pic" gives "e:pic0.bmp", ...), from the record at `from` on: the start,
// or a point an earlier unpacking of the same file handed over (any other
// point is a bad_argument). A file of the size of no layout unpacks nothing
// and gives an empty layout.
result<unpack_result> unpack_bytes(std::span<const std::uint8_t> file, std::string_view prefix, const image_taker& take,
                                   record_point from = {});

// The same for the file at `path`: cannot_open, not_a_file if it cannot be
// read.
result<unpack_result> unpack_file(const std::string& path, std::string_view prefix, const image_taker& take);

// The prefix `torv filename drive` names the images after: the drive's
// first character and ':' (nothing for an empty drive), then the file name
// after its last backslash, up to its first dot ("pics" for "D:\\x\\pics.dat"
// and an empty drive).
std::string image_prefix(std::string_view filename, std::string_view drive);

// An image file's name without its extension ("pic0" for "e:pic0.bmp" or
// "pic0.png"): what a BMP and a PNG of the same image share.
std::string_view image_stem(std::string_view file_name);

// Each layout's name and the size of its files, in the order a file's size is
// tested against them.
std::vector<layout_size> layout_sizes();

// The line for a file of `size` bytes that no layout has: "odd.bin is 1,000
// bytes, the size of no file torv knows (frame_sequence 9,486,336, ...)".
std::string size_of_no_layout(std::string_view name, std::int64_t size);

// The 8-bit BMP file torv writes for an image. An image view whose indices
// are fewer than width x height, or of no size, is a bad_argument.
result<bytes> bmp_bytes(const image_view& image);

// The image as an 8-bit indexed PNG file with the BMP's colours as its
// palette; unsupported_image in a build without PNG support.
result<bytes> png_bytes(const image_view& image);

// The frames of a frame sequence (the source file held in `file`) as an
// animated GIF at `frames_per_second`, each frame with its own palette as a
// local colour table, so that every frame's colours are exact; looping.
// bad_argument for a file of another layout; unsupported_image in a build
// without GIF support.
result<bytes> gif_bytes(std::span<const std::uint8_t> file, unsigned frames_per_second = 12);

// The palette's colours as the BMP's colour table shows them: red, green and
// blue of each entry in turn.
std::array<std::uint8_t, 768> palette_colours(std::span<const std::uint16_t, 256> palette);

}  // namespace libtorv
