// libtorv, the other direction: images (as torv names them, BMP or PNG,
// edited in any editor) and optionally the file they came from in, a source
// file out, with a report of what went where.
//
//   images "e:pic0.bmp" ... (or "e:pic0.png" in a BMP's place), found in an
//   image_folder (libtorv/types.h)
//   + original file (optional: its bytes and palettes are kept wherever
//     the images allow)
//     -> the packed file, written front to back through a byte writer
//     -> a pack_result: report lines, notes, the room used
//     -> or a failure (libtorv/result.h): its code, its words, and the file,
//        pixel, colour and bytes it is about
//
// Nothing here prints or ends the process; running out of memory throws
// std::bad_alloc.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "libtorv/result.h"
#include "libtorv/types.h"

namespace libtorv {

// The layouts' names, in the order a file's size is tested against them.
std::vector<std::string> layout_names();

// Packs the images named after `prefix` found in `folder` into a source
// file, handed to `write` front to back; on a failure, what was written is
// to be thrown away. `original` may be null.
result<pack_result> pack_images(std::string_view prefix, const image_folder& folder, const original_file* original,
                                const pack_settings& settings, const byte_writer& write);

// ---------------------------------------------------------------------------
// Packing in steps, for a front end whose workers share no memory (a page's):
// every worker finds the outline once, the frames of a frame sequence are
// prepared a batch at a time on any of them, and one packs with every batch
// given. The file is the one pack_images makes alone.
//
//   outline = outline_images(prefix, folder, original, settings)   on each worker
//   batch   = prepare_frames(outline, folder, original, settings, first, count)
//   settings.prepared = {batch.data, ...}
//   pack_outlined(outline, folder, original, settings, write)      on one

// What packing takes: the layout, its image files in order, and the
// original's records.
struct pack_outline {
    std::string layout;
    std::vector<std::string> files;        // the images' files, in the layout's order (a frame sequence's frames)
    std::vector<bool> from_original;       // per file: the original's image, taken without reading the file
    std::vector<original_record> records;  // a frame sequence's original: its records
    // True if its frames can be prepared in batches: a frame sequence, unless
    // settings.fit (frames to be fitted are prepared whole).
    bool in_batches = false;
};

// Decides the layout and finds the image files as pack_images does, reading
// no more than the first image of a layout (only when neither the original
// nor settings.layout says which).
result<pack_outline> outline_images(std::string_view prefix, const image_folder& folder, const original_file* original,
                                    const pack_settings& settings);

// Frames [first, first + count) of the outline's frame sequence, prepared
// (read, fitted to their palettes, compared with the original's, compressed)
// as packing prepares them, for settings.prepared. A frame that fails ends
// the batch with its failure, which packing meets in its turn, so that it
// fails as pack_images would: frames after it need no preparing.
// bad_argument for an outline that is no frame sequence's, or with
// settings.fit.
result<frame_batch> prepare_frames(const pack_outline& outline, const image_folder& folder,
                                   const original_file* original, const pack_settings& settings, std::size_t first,
                                   std::size_t count);

// Packs what the outline (made by outline_images for the same folder,
// original and settings) names, as pack_images does; the frames of
// settings.prepared are taken as they are.
result<pack_result> pack_outlined(const pack_outline& outline, const image_folder& folder,
                                  const original_file* original, const pack_settings& settings,
                                  const byte_writer& write);

// The prefix that image files named `names` were written under, as torv
// names them: that of a first frame (name000), of a first digit-named image
// (name0), or of a single picture (name), tried in that order; empty if
// none.
std::string prefix_of_images(const std::vector<std::string>& names);

// For front ends that are given images one by one (a page's downloads):
// which given file stands for which image of `expected` (the names torv
// gives the images, "pic0.bmp", ...). A BMP or PNG of an expected image's
// stem is that image; so is a name that differs only by the " (1)" a browser
// adds to a second download, with a note. A given file that stands for no
// image is an unused_image failure that names it and the names expected.
struct image_match {
    std::vector<std::pair<std::string, std::string>> files;  // (given name, the image's file name as torv names it)
    std::vector<std::string> notes;
};
result<image_match> match_images(const std::vector<std::string>& expected, const std::vector<std::string>& given);

}  // namespace libtorv
