// --fit's parts on pictures of any colours: a block of fixed bytes and a
// small image (rows or tiles) fitted into any room either fits it, its
// fixed bytes kept and its compressed block decoding to the content given
// back, or is refused; colours chosen beside kept ones are game colours,
// and every pixel is mapped to an entry it may take.
//
//   byte 0: width - 1 (low 5 bits), tiled (bit 7); byte 1: height - 1 (low
//   4 bits); byte 2: the room, in 256ths of the block's unchanged size;
//   byte 3: the colours kept; byte 4: the colours to choose - 1 (at most
//   the entries left); then the kept colours (2 bytes each), then the pixels
//   (3 bytes each, repeated to fill the picture).
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "codec/lzss_decode.h"
#include "codec/lzss_encode.h"
#include "image/oklab.h"
#include "image/quantize.h"
#include "pack/fit_room.h"

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "fit_fuzz: %s\n", what);
    std::abort();
}

constexpr std::size_t header_bytes = 5;
constexpr std::size_t fixed_bytes = 40;  // a palette's worth of bytes before the image, never to change

struct fuzz_picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool tiled = false;
    std::vector<std::uint16_t> kept;
    std::size_t to_choose = 0;
    std::vector<torv::rgb8> pixels;
};

bool picture_of(const std::uint8_t* data, std::size_t size, fuzz_picture& made) {
    if (size < header_bytes)
        return false;
    made.tiled = (data[0] & 0x80) != 0;
    // Tiles are 16x8: a tiled picture is a whole number of them.
    made.width = made.tiled ? 16 * (1 + (data[0] & 1)) : 1 + (data[0] & 31);
    made.height = made.tiled ? 8 * (1 + (data[1] & 1)) : 1 + (data[1] & 15);
    made.to_choose = std::size_t{data[4]} + 1;
    std::size_t at = header_bytes;
    for (std::size_t k = 0; k < data[3] && at + 1 < size; ++k, at += 2) {
        made.kept.push_back(static_cast<std::uint16_t>((data[at] | data[at + 1] << 8) & 0x7FFF));
    }
    if (at + 3 > size)
        return false;
    const std::size_t given = (size - at) / 3;
    for (std::size_t p = 0; p < static_cast<std::size_t>(made.width * made.height); ++p) {
        const std::uint8_t* c = data + at + 3 * (p % given);
        made.pixels.push_back({c[0], c[1], c[2]});
    }
    return true;
}

// The colours chosen beside the kept ones, and the pixels mapped.
torv::rgb15_palette palette_for(const fuzz_picture& picture, std::vector<std::uint8_t>& indices) {
    std::vector<double> bins;
    torv::add_to_histogram(picture.pixels, bins);
    const std::size_t free_entries =
        std::min(picture.to_choose, torv::palette_entries - std::min(picture.kept.size(), torv::palette_entries));
    const std::vector<std::uint16_t> chosen = torv::choose_colours(torv::colours_of(bins), picture.kept, free_entries);
    if (chosen.size() > free_entries)
        finding("more colours chosen than entries free");
    torv::rgb15_palette palette{};
    torv::usable_entries usable{};
    std::size_t k = 0;
    for (; k < picture.kept.size() && k < torv::palette_entries; ++k) {
        palette[k] = picture.kept[k];
        usable[k] = true;
    }
    for (const std::uint16_t colour : chosen) {
        if (colour > 0x7FFF)
            finding("a chosen colour is no game colour");
        palette[k] = colour;
        usable[k++] = true;
    }
    indices = torv::map_to_palette(picture.pixels, picture.width, picture.height, palette, usable, false);
    for (const std::uint8_t index : indices) {
        if (!usable[index])
            finding("a pixel mapped to an entry it may not take");
    }
    return palette;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_picture picture;
    if (!picture_of(data, size, picture))
        return 0;
    std::vector<std::uint8_t> indices;
    const torv::rgb15_palette palette = palette_for(picture, indices);

    torv::alterable_block block;
    for (std::size_t k = 0; k < fixed_bytes; ++k) block.data.push_back(static_cast<std::uint8_t>(k * 7));
    block.data.insert(block.data.end(), indices.begin(), indices.end());
    std::array<torv::colour_point, 256> points{};
    for (std::size_t k = 0; k < points.size(); ++k) points[k] = torv::point_of_rgb15(palette[k]);
    block.palettes.push_back(points);
    torv::alterable_image image;
    for (std::size_t p = 0; p < indices.size(); ++p) {
        image.bytes.push_back(fixed_bytes + p);
        image.wanted.push_back(torv::point_of(picture.pixels[p]));
    }
    image.width = picture.width;
    image.tiled = picture.tiled;
    block.images.push_back(std::move(image));

    const std::size_t room = torv::lzss_encode(block.data).size() * data[2] / 256;
    const torv::result<torv::fitted_block> fitted = torv::fit_into_room(block, room, 1);
    if (!fitted)
        return 0;
    if (fitted->block.size() > room)
        finding("the room exceeded");
    for (std::size_t k = 0; k < fixed_bytes; ++k) {
        if (fitted->content[k] != block.data[k])
            finding("a fixed byte changed");
    }
    torv::input_stream in;
    torv::attach_memory(in, fitted->block);
    const torv::decoded_block decoded = torv::decode_block(in);
    if (!std::equal(decoded.bytes.begin(), decoded.bytes.end(), fitted->content.begin(), fitted->content.end()))
        finding("the block does not decode to the content");
    return 0;
}
