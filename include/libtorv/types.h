// The values libtorv's functions take and give (libtorv/unpack.h and
// libtorv/pack.h declare the functions): images as views, where their
// records begin, the settings and the result of packing, and the folder
// that packing takes its image files from.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "libtorv/result.h"

namespace libtorv {

using bytes = std::vector<std::uint8_t>;

// Where an image's record begins in the file, and the record's number:
// unpacking can start there again without decoding the records before it
// (a frame sequence's frame k alone, on demand).
struct record_point {
    std::int64_t offset = 0;
    std::int32_t number = 0;
};

// One image: `width` x `height` palette indices, row-major, top row first,
// and its palette of 256 rgb15 entries as stored:
//
//   bit  15 | 14..10 | 9..5  | 4..0
//        --   blue     green   red
//
// A view handed over by unpacking is valid during the call only.
struct image_view {
    std::string_view name;  // the name torv writes it under: "e:pic0.bmp"
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::span<const std::uint8_t> indices;
    std::span<const std::uint16_t, 256> palette;
    record_point record;  // where its record begins: unpacking can start there again
};

// Takes an image; false stops the unpacking.
using image_taker = std::function<bool(const image_view&)>;

struct unpack_result {
    std::string layout;    // the layout's name; empty if no layout has the file's size (nothing was unpacked)
    bool stopped = false;  // the taker said stop
};

// A layout's name and the size of its files.
struct layout_size {
    std::string name;
    std::int64_t file_size = 0;
};

// ---------------------------------------------------------------------------
// Packing.

// Where packing finds the image files, by the names torv gives the images
// ("e:pic0.bmp", or the PNG in its place): files on disk for torv-pack,
// anything else for another front end.
struct image_folder {
    // True if a file of that name is there.
    std::function<bool(const std::string& name)> has;
    // The bytes of the file of that name; one larger than `max_bytes` is
    // refused unread (file_too_large).
    std::function<result<bytes>(const std::string& name, std::uint64_t max_bytes)> read;
    // Calls its argument with every name there, so that frames beyond a gap
    // are found; a failure (cannot_list) or an empty function means the
    // names are probed one by one instead.
    std::function<result<>(const std::function<void(const std::string&)>&)> each_name;
    // True if the file of that name is known to show the original's image
    // unchanged: packing with an original then takes the original's image
    // without reading the file. May be left empty.
    std::function<bool(const std::string& name)> is_original;
};

// The file the images came from.
struct original_file {
    std::string name;  // for messages
    std::span<const std::uint8_t> bytes;
    // Its size, where that is more than `bytes` holds: a file measured but
    // not read, being larger than any layout's (-1: the size of `bytes`).
    std::int64_t size = -1;
};

// How a front end names the choices a message may point a person to.
struct option_words {
    std::string nearest = "--nearest";      // colours go to the nearest palette entry
    std::string no_original = "--no-like";  // pack without an original
    std::string layout = "--layout";        // say which layout
    std::string fit = "--fit";              // make any picture fit the palette and the room
    // Where no original decides a pixel's entry: how to give one; empty
    // where the front end always has it.
    std::string keep_original = "keep the original beside the images";
};

struct pack_settings {
    std::string layout;    // "frame_sequence", ...: needed only when neither the original nor the images decide it
    bool nearest = false;  // colours the palette lacks go to the nearest one instead of failing
    // Whatever the images are, the best the game can show within its
    // palettes and room: colours chosen for pictures the palette cannot take,
    // and pixels changed as little as makes a block fit. Images that fit as
    // given are left as they are.
    bool fit = false;
    unsigned jobs = 1;   // threads for compressing; the file is the same for every number
    option_words words;  // for the messages
    // Batches of a frame sequence's frames prepared elsewhere (prepare_frames
    // in libtorv/pack.h), with the same images, original and settings: their
    // frames are taken as they are, the others prepared here. Views of the
    // caller's bytes, which must outlive the packing.
    std::vector<std::span<const std::uint8_t>> prepared;
};

// Frames of a frame sequence prepared for a packing elsewhere
// (prepare_frames in libtorv/pack.h).
struct frame_batch {
    bytes data;           // for pack_settings::prepared
    bool failed = false;  // a frame failed: the batch ends at it, and packing fails there at the latest
};

// A record of a frame sequence's original file, as a walk of its records
// found it.
struct original_record {
    std::int64_t start = 0;
    std::int64_t end = 0;   // after its block
    std::int64_t next = 0;  // where the record after it starts
    bool padding = false;   // nothing but zero bytes: what zero padding reads as
};

// How much of the room a layout gives a part of the file its data takes.
struct room_use {
    std::string part;  // "block", "records"
    std::int64_t used = 0;
    std::int64_t room = 0;
};

// What --fit made of an image it changed, against the image given.
struct image_fit {
    std::string image;            // its file
    double psnr = 0;              // in dB; infinite where it shows the image given exactly
    double oklab_difference = 0;  // the mean OKLab difference of a pixel
    std::size_t colours = 0;      // the colours it shows
};

struct pack_result {
    std::string layout;               // the layout packed
    std::vector<std::string> report;  // what went where: one line each
    std::vector<std::string> notes;   // what a person should know even on success
    std::vector<room_use> rooms;      // the room used, as numbers
    std::vector<std::string> kept;    // the images kept as in the original
    std::vector<image_fit> fits;      // the images --fit changed, in the order packed
};

// Takes the packed file's bytes, front to back.
using byte_writer = std::function<void(std::span<const std::uint8_t>)>;

}  // namespace libtorv
