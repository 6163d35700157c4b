// The pieces both kinds of layout are packed with: reading and fitting the
// images of a record, and laying out what the layout stores.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "format/layouts.h"
#include "format/records.h"
#include "image/oklab.h"
#include "pack/fit_palette.h"
#include "pack/fit_room.h"
#include "pack/pack.h"

namespace torv::pack_parts {

using bytes = std::vector<std::uint8_t>;
using libtorv::image_fit;

// Reads the picture of `file`, which must be the size of `place`.
result<picture> load_image(const image_folder& folder, const image_file& file, const image_place& place);

// The original's image as a picture: its indices and its palette's colours.
picture picture_of_original(const image_place& place, std::span<const std::uint8_t> rows, const rgb15_palette& palette);

// The palette as stored: the fitted colours, with bit 15 of each entry as the
// original had it.
rgb15_palette with_flags(const rgb15_palette& colours, const rgb15_palette* original);

// True if a decoded block reads as `content`: its first content.size()
// bytes, 0 where it is short (bytes past them do not count).
bool reads_as(std::span<const std::uint8_t> block, std::span<const std::uint8_t> content);

// "used of room bytes (free)" or "(over)".
std::string room_text(std::size_t used, std::size_t room);

// Frame numbers as ranges: "000-003, 007".
std::string frame_ranges(const std::vector<std::size_t>& frames);

// The images of one record, fitted to their palettes.
struct fitted_record {
    std::array<rgb15_palette, max_palettes> palettes{};  // as stored
    std::vector<bytes> rows;                             // per image, row-major indices
    std::vector<std::string> notes;                      // what a person should know
    std::vector<bool> changed_by_fit;                    // per image: --fit chose its colours or changed pixels
};

// Changes the edited images of a record's block as little as makes it fit
// `room` bytes (--fit): the block compressed, and `fitted`'s rows as the
// block now shows them. Images whose indices are the original's stay.
result<bytes> fit_block(const layout& format, const std::vector<picture>& pictures, const std::vector<bytes>& old_rows,
                        bool with_original, std::size_t room, unsigned jobs, fitted_record& fitted);

// The block byte of each pixel of an image that lies in the block,
// row-major; and a palette's colours as points (image/oklab.h).
std::vector<std::size_t> block_bytes_of(const image_place& place);
std::array<colour_point, 256> points_of(const rgb15_palette& palette);

// The block fitted into `room` (fit_into_room), its images' change spread so
// that their qualities (PSNR against `given`, the colours wanted of each of
// block.images, in order) are as even as may be; `block`'s weights are left
// as the search set them.
result<fitted_block> fit_evenly(alterable_block& block, std::size_t room, unsigned jobs,
                                const std::vector<std::vector<rgb8>>& given, std::span<const rgb15_palette> palettes);

// What --fit made of an image: its quality against the image given, and the
// colours it shows.
image_fit fit_of(const std::string& name, const picture& given, std::span<const std::uint8_t> rows,
                 const rgb15_palette& palette);

// Each image --fit changed, in the layout's order.
std::vector<image_fit> fits_of(const layout& format, const std::vector<picture>& pictures,
                               const std::vector<std::string>& names, const fitted_record& fitted);

// "36.2 dB PSNR, OKLab difference 0.0123 against the image given, 212 colours"
std::string fit_words(const image_fit& fit);

// The report's line: "title.png: fitted: " and the words above.
std::string fit_line(const image_fit& fit);

// Fits the pictures of one record to its palettes; `old` is the original's
// record (or nullptr) and `old_rows` its images' indices.
result<fitted_record> fit_record(const layout& format, const std::vector<picture>& pictures,
                                 const std::vector<std::string>& names, const record_data* old,
                                 const std::vector<bytes>& old_rows, const pack_settings& settings);

// Packs a layout of one record, or a walk of records.
result<pack_result> pack_single(const layout& format, std::span<const image_file> files, const image_folder& folder,
                                input_stream* original, const pack_settings& settings, const byte_writer& out);
result<pack_result> pack_frames(const layout& format, std::span<const image_file> files, const image_folder& folder,
                                input_stream* original, const pack_settings& settings, const byte_writer& out,
                                const std::vector<original_record>* records);

}  // namespace torv::pack_parts
