// libtorv, the other direction: images (as torv names them, BMP or PNG,
// edited in any editor) and optionally the file they came from in, a source
// file out, with a report of what went where.
//
//   images "e:pic0.bmp" ... (or "e:pic0.png" in a BMP's place)
//   + original file (optional: its bytes and palettes are kept wherever
//     the images allow)
//     -> the packed file, written front to back through a byte sink
//     -> report lines ("layout ...", room used, what was kept)
//     -> notes (what a person should know even on success)
//     -> or a failure, in torv-pack's words
//
// Nothing here prints or ends the process; running out of memory throws
// std::bad_alloc.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace torv {

// What reading an image file gave: its bytes, or why not.
struct image_file_bytes {
    std::vector<std::uint8_t> bytes;
    std::string failure;  // e.g. "cannot be read"; empty on success
};

// Where the images are found, by the names torv gives them.
struct image_folder {
    // True if a file of that name is there.
    std::function<bool(const std::string& name)> has;
    // The bytes of the file of that name; a file larger than `max_bytes` is
    // refused unread.
    std::function<image_file_bytes(const std::string& name, std::uint64_t max_bytes)> read;
    // Calls its argument with every name there (for frames beyond a gap); may
    // be left empty where no listing is to be had.
    std::function<void(const std::function<void(const std::string&)>&)> each_name;
};

// The file the images came from.
struct original_file {
    std::string name;  // for messages
    std::span<const std::uint8_t> bytes;
};

struct pack_settings {
    std::string layout;    // "frame_sequence", ...: needed only when neither the original nor the images decide it
    bool nearest = false;  // colours the palette lacks go to the nearest one instead of failing
    unsigned jobs = 1;     // threads for compressing; the file is the same for every number
};

struct pack_result {
    std::string layout;               // the layout packed
    std::vector<std::string> report;  // on success
    std::vector<std::string> notes;   // on success
    std::string failure;              // empty on success; what was written is then to be thrown away
    bool ok() const { return failure.empty(); }
};

using byte_writer = std::function<void(std::span<const std::uint8_t>)>;

// What image_folder::read says of a file larger than it was asked to read.
std::string image_file_too_large(std::uint64_t size);

// The layouts' names, in the order a file's size is tested against them.
std::vector<std::string> layout_names();

// Packs the images named after `prefix` found in `folder` into a source
// file, handed to `write` front to back. `original` may be null.
pack_result pack_images(std::string_view prefix, const image_folder& folder, const original_file* original,
                        const pack_settings& settings, const byte_writer& write);

}  // namespace torv
