#include "image/bmp_write.h"

#include <cstring>
#include <span>
#include <vector>

#include "io/output_file.h"

namespace torv {

namespace {

constexpr std::uint32_t bi_rgb = 0;  // no compression
constexpr std::uint16_t bits_per_pixel = 8;
constexpr std::size_t row_alignment = 4;
constexpr std::uint8_t row_fill[row_alignment] = {};

// The file and info headers and the colour table; returns where the pixel
// rows begin.
std::uint8_t* lay_out_bmp_header(const indexed_image& image, const rgb15_palette& palette, std::uint8_t* out) {
    const auto width = static_cast<std::uint32_t>(image.width);
    const auto height = static_cast<std::uint32_t>(image.height);
    const auto file_size = static_cast<std::uint32_t>(bmp_file_size(image.width, image.height));

    // BITMAPFILEHEADER
    std::uint8_t* p = out;
    *p++ = 'B';
    *p++ = 'M';
    p = put_u32le(p, file_size);
    p = put_u32le(p, 0);  // reserved
    p = put_u32le(p, static_cast<std::uint32_t>(bmp_pixel_offset));
    // BITMAPINFOHEADER
    p = put_u32le(p, static_cast<std::uint32_t>(bmp_info_header_size));
    p = put_u32le(p, width);
    p = put_u32le(p, height);  // positive: rows stored bottom-up
    p = put_u16le(p, 1);       // planes
    p = put_u16le(p, bits_per_pixel);
    p = put_u32le(p, bi_rgb);
    p = put_u32le(p, 0);  // image size: may be 0 when uncompressed
    p = put_u32le(p, 0);  // horizontal resolution
    p = put_u32le(p, 0);  // vertical resolution
    p = put_u32le(p, static_cast<std::uint32_t>(bmp_colour_count));
    p = put_u32le(p, 0);  // all colours important

    for (const std::uint16_t entry : palette) {
        put_rgbquad(p, entry);
        p += 4;
    }
    return p;
}

std::span<const std::uint8_t> image_row(const indexed_image& image, std::int32_t row) {
    const auto width = static_cast<std::size_t>(image.width);
    return image.pixels.subspan(static_cast<std::size_t>(row) * width, width);
}

}  // namespace

void put_rgbquad(std::uint8_t* out, std::uint16_t rgb15) {
    const rgb8 colour = rgb8_of(rgb15);
    out[0] = colour.blue;
    out[1] = colour.green;
    out[2] = colour.red;
    out[3] = 0;
}

std::size_t bmp_row_stride(std::int32_t width) {
    return (static_cast<std::size_t>(width) + row_alignment - 1) / row_alignment * row_alignment;
}

std::size_t bmp_file_size(std::int32_t width, std::int32_t height) {
    return bmp_pixel_offset + bmp_row_stride(width) * static_cast<std::size_t>(height);
}

void lay_out_bmp(const indexed_image& image, const rgb15_palette& palette, std::uint8_t* out) {
    std::uint8_t* p = lay_out_bmp_header(image, palette, out);
    const std::size_t fill = bmp_row_stride(image.width) - static_cast<std::size_t>(image.width);
    for (std::int32_t row = image.height; row-- > 0;) {
        const auto pixels = image_row(image, row);
        std::memcpy(p, pixels.data(), pixels.size());
        std::memset(p + pixels.size(), 0, fill);
        p += pixels.size() + fill;
    }
}

result<> write_bmp(const std::string& name, const indexed_image& image, const rgb15_palette& palette) {
    // The header is laid out here; the rows leave straight from the image,
    // last row first.
    std::uint8_t header[bmp_pixel_offset];
    lay_out_bmp_header(image, palette, header);
    const std::size_t fill = bmp_row_stride(image.width) - static_cast<std::size_t>(image.width);

    std::vector<std::span<const std::uint8_t>> parts;
    parts.reserve(1 + 2 * static_cast<std::size_t>(image.height));
    parts.emplace_back(header, sizeof header);
    for (std::int32_t row = image.height; row-- > 0;) {
        parts.push_back(image_row(image, row));
        if (fill > 0) {
            parts.emplace_back(row_fill, fill);
        }
    }
    return write_whole_file(name, parts, existing_entry::replace);
}

}  // namespace torv
