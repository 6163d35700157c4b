// Packing with an arbitrary original: the images given come back out of the
// packed file, whatever the original held, or packing refuses with a reason.
//
// Input: one byte that picks a layout, then the original's first bytes; the
// rest of it, up to the layout's size, is 0xFF. For the frame sequence the
// original is the input alone (its walk of records ends where the input
// does), and there are three frames. The images are fixed sample pictures
// sharing one colour table, as BMP files.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "format/records.h"
#include "image/bmp_write.h"
#include "pack/pack.h"
#include "samples.h"

namespace {

using bytes = std::vector<std::uint8_t>;

const torv::layout* const layouts[] = {&torv::three_panel_block_layout, &torv::single_picture_block_layout,
                                       &torv::four_image_block_layout, &torv::frame_sequence_layout};
constexpr std::size_t frames = 3;

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "pack_fuzz: %s\n", what);
    std::abort();
}

std::vector<torv::picture> pictures_for(const torv::layout& format) {
    const torv::rgb15_palette palette = torv::palette_from_bytes(torv::samples::make_palette(1));
    std::vector<torv::rgb8> table;
    for (const std::uint16_t entry : palette) table.push_back(torv::rgb8_of(entry));
    std::vector<torv::picture> pictures;
    int variant = 0;
    const bool walk = is_record_walk(format);
    for (std::size_t k = 0; k < (walk ? frames : format.images.size()); ++k) {
        const torv::image_place& place = format.images[walk ? 0 : k];
        torv::picture p;
        p.width = place.width;
        p.height = place.height;
        p.indexed = true;
        p.table = table;
        p.indices = torv::samples::make_picture(place.width, place.height, variant++ % 4);
        pictures.push_back(std::move(p));
    }
    return pictures;
}

// The pictures as the BMP files torv would write for them.
std::vector<bytes> bmp_files_of(const std::vector<torv::picture>& pictures) {
    const torv::rgb15_palette palette = torv::palette_from_bytes(torv::samples::make_palette(1));
    std::vector<bytes> files;
    for (const torv::picture& p : pictures) {
        bytes file(torv::bmp_file_size(p.width, p.height));
        torv::lay_out_bmp({p.indices, p.width, p.height}, palette, file.data());
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const torv::layout& format = *layouts[data[0] % std::size(layouts)];
    const bool walk = is_record_walk(format);
    bytes original(data + 1, data + size);
    if (!walk) {
        original.resize(static_cast<std::size_t>(format.file_size), 0xFF);
    }
    static const std::vector<torv::picture> all_pictures[] = {pictures_for(*layouts[0]), pictures_for(*layouts[1]),
                                                              pictures_for(*layouts[2]), pictures_for(*layouts[3])};
    static const std::vector<bytes> all_files[] = {bmp_files_of(all_pictures[0]), bmp_files_of(all_pictures[1]),
                                                   bmp_files_of(all_pictures[2]), bmp_files_of(all_pictures[3])};
    const std::size_t which = data[0] % std::size(layouts);
    const std::vector<torv::picture>& pictures = all_pictures[which];
    std::vector<torv::image_file> files;
    for (std::size_t k = 0; k < pictures.size(); ++k) files.push_back({"image" + std::to_string(k) + ".bmp", false});
    torv::image_folder folder;
    folder.has = [](const std::string&) { return true; };
    folder.read = [&](const std::string& name, std::uint64_t) -> torv::result<bytes> {
        return all_files[which][static_cast<std::size_t>(std::stoi(name.substr(5)))];
    };

    torv::input_stream in;
    torv::attach_memory(in, original);
    bytes packed;
    packed.reserve(static_cast<std::size_t>(format.file_size));
    const torv::result<torv::pack_result> outcome =
        torv::pack(format, files, folder, &in, {},
                   [&](std::span<const std::uint8_t> part) { packed.insert(packed.end(), part.begin(), part.end()); });
    torv::close_input(in);
    if (!outcome) {
        return 0;  // refused, with a reason
    }
    if (packed.size() != static_cast<std::size_t>(format.file_size)) {
        finding("the packed file is not the layout's size");
    }

    // What torv would read from the packed file: the images given.
    torv::input_stream result;
    torv::attach_memory(result, packed);
    std::size_t image = 0;
    torv::for_each_record(format, result, [&](const torv::record_data& record, std::int32_t) {
        for (const torv::image_place& place : format.images) {
            if (image == pictures.size()) {
                finding("the packed file holds more images than were given");
            }
            bytes rows(torv::image_bytes(place));
            torv::image_pixels(place, record, result, rows);
            for (std::size_t at = 0; at < rows.size(); ++at) {
                const torv::rgb8 shown = torv::rgb8_of(record.palettes[place.palette][rows[at]]);
                if (!(shown == pictures[image].colour_at(at))) {
                    finding("a pixel of the packed file shows another colour than the image given");
                }
            }
            ++image;
        }
        return true;
    });
    if (image != pictures.size()) {
        finding("the packed file holds fewer images than were given");
    }
    torv::close_input(result);
    return 0;
}
