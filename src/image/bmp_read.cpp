#include "image/bmp_read.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <limits>
#include <string>

#include "io/little_endian.h"
#include "io/result.h"

namespace torv {

namespace {

constexpr std::size_t file_header_size = 14;
constexpr std::uint32_t core_header_size = 12;  // OS/2 1.x: 16-bit sizes, 3-byte colours
constexpr std::uint32_t info_header_size = 40;
constexpr std::uint32_t v2_header_size = 52;  // + red, green, blue masks
constexpr std::uint32_t v3_header_size = 56;  // + alpha mask
constexpr std::uint32_t v4_header_size = 108;
constexpr std::uint32_t v5_header_size = 124;

constexpr std::uint32_t bi_rgb = 0;
constexpr std::uint32_t bi_rle8 = 1;
constexpr std::uint32_t bi_rle4 = 2;
constexpr std::uint32_t bi_bitfields = 3;
constexpr std::uint32_t bi_alphabitfields = 6;

// RLE escapes: a zero count followed by one of these.
constexpr std::uint8_t rle_end_of_line = 0;
constexpr std::uint8_t rle_end_of_bitmap = 1;
constexpr std::uint8_t rle_delta = 2;

constexpr std::size_t max_table_entries = 256;

struct bytes_in {
    std::span<const std::uint8_t> data;

    bool has(std::size_t at, std::size_t count) const { return at <= data.size() && count <= data.size() - at; }
    std::uint16_t u16(std::size_t at) const { return get_u16le(&data[at]); }
    std::uint32_t u32(std::size_t at) const { return get_u32le(&data[at]); }
};

struct bmp_header {
    std::int64_t width = 0;
    std::int64_t height = 0;  // positive; top_down says which way rows run
    bool top_down = false;
    std::uint16_t bits = 0;
    std::uint32_t compression = bi_rgb;
    std::uint32_t colours_used = 0;
    std::size_t table_at = 0;
    std::size_t table_entry_size = 4;
    std::size_t pixels_at = 0;
    std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha
};

// One colour channel under a bit-field mask, scaled to 8 bits.
struct channel {
    std::uint32_t mask = 0;
    unsigned shift = 0;
    unsigned width = 0;

    std::uint8_t of(std::uint32_t pixel) const {
        if (width == 0) {
            return 0;
        }
        const std::uint32_t value = (pixel & mask) >> shift;
        if (width >= 8) {
            return static_cast<std::uint8_t>(value >> (width - 8));
        }
        return static_cast<std::uint8_t>(value * 255 / ((1u << width) - 1));
    }

    // What a pixel keeps of the channel, as picture::bits says it: five bits
    // are shifted (colour_of), other widths below 8 scaled.
    channel_form form() const { return {static_cast<std::uint8_t>(std::min(width, 8u)), width != 5 && width < 8}; }

    // A colour channel: five bits are the format's own, shown as they are
    // (0xF8 at full intensity, as torv writes them), so that a 5-5-5 file
    // keeps every colour exactly.
    std::uint8_t colour_of(std::uint32_t pixel) const {
        constexpr unsigned format_bits = 5;
        if (width == format_bits) {
            return static_cast<std::uint8_t>(((pixel & mask) >> shift) << (8 - format_bits));
        }
        return of(pixel);
    }
};

std::string describe(std::int64_t value) {
    return std::to_string(value);
}

using status = result<>;

failure problem(code what, std::string words) {
    return failure_of(what, std::move(words));
}

// Reads the headers; on failure returns the reason.
status read_header(const bytes_in& in, bmp_header& header) {
    if (!in.has(0, file_header_size + 4) || in.data[0] != 'B' || in.data[1] != 'M') {
        return problem(code::not_an_image, "not a BMP file");
    }
    header.pixels_at = in.u32(10);
    const std::uint32_t header_size = in.u32(file_header_size);
    const bool known = header_size == core_header_size || header_size == info_header_size ||
                       header_size == v2_header_size || header_size == v3_header_size ||
                       header_size == v4_header_size || header_size == v5_header_size;
    if (!known) {
        return problem(code::unsupported_image, "unsupported BMP header of " + describe(header_size) + " bytes");
    }
    if (!in.has(file_header_size, header_size)) {
        return problem(code::image_cut_short, "BMP header cut short");
    }
    const std::size_t h = file_header_size;
    header.table_at = h + header_size;
    if (header_size == core_header_size) {
        header.width = in.u16(h + 4);
        header.height = in.u16(h + 6);
        header.bits = in.u16(h + 10);
        header.table_entry_size = 3;
    } else {
        header.width = static_cast<std::int32_t>(in.u32(h + 4));
        header.height = static_cast<std::int32_t>(in.u32(h + 8));
        header.bits = in.u16(h + 14);
        header.compression = in.u32(h + 16);
        header.colours_used = in.u32(h + 32);
        const bool masked = header.compression == bi_bitfields || header.compression == bi_alphabitfields;
        if (masked) {
            // A 40-byte header is followed by the masks; longer ones hold them.
            const std::size_t mask_count = header.compression == bi_alphabitfields ? 4 : 3;
            const std::size_t masks_at = h + info_header_size;
            if (!in.has(masks_at, 4 * mask_count)) {
                return problem(code::image_cut_short, "BMP colour masks cut short");
            }
            for (std::size_t k = 0; k < mask_count; ++k) {
                header.masks[k] = in.u32(masks_at + 4 * k);
            }
            if (header_size >= v3_header_size) {
                header.masks[3] = in.u32(masks_at + 12);
            }
            if (header_size == info_header_size) {
                header.table_at += 4 * mask_count;
            }
        } else if (header_size >= v3_header_size) {
            header.masks[3] = in.u32(h + info_header_size + 12);  // alpha, for plain 32-bit pixels
        }
    }
    if (header.height == std::numeric_limits<std::int32_t>::min()) {
        // Top-down by its sign, but no 32-bit height is this tall.
        return problem(code::bad_image, "BMP height " + describe(header.height) + " is not valid");
    }
    if (header.height < 0) {
        header.top_down = true;
        header.height = -header.height;
    }
    if (header.width <= 0 || header.height <= 0) {
        return problem(code::bad_image,
                       "BMP size " + describe(header.width) + "x" + describe(header.height) + " is empty");
    }
    return {};
}

status check_format(const bmp_header& header) {
    const std::uint32_t c = header.compression;
    switch (header.bits) {
        case 1:
            if (c == bi_rgb)
                return {};
            break;
        case 4:
            if (c == bi_rgb || c == bi_rle4)
                return {};
            break;
        case 8:
            if (c == bi_rgb || c == bi_rle8)
                return {};
            break;
        case 16:
        case 32:
            if (c == bi_rgb || c == bi_bitfields || c == bi_alphabitfields)
                return {};
            break;
        case 24:
            if (c == bi_rgb)
                return {};
            break;
        default:
            return problem(code::unsupported_image, "unsupported BMP of " + describe(header.bits) + " bits per pixel");
    }
    return problem(code::unsupported_image,
                   "unsupported BMP compression " + describe(c) + " at " + describe(header.bits) + " bits per pixel");
}

status read_table(const bytes_in& in, const bmp_header& header, picture& image) {
    const std::size_t possible = std::size_t{1} << header.bits;
    std::size_t count = header.colours_used == 0 ? possible : header.colours_used;
    count = std::min({count, possible, max_table_entries});
    if (!in.has(header.table_at, count * header.table_entry_size)) {
        return problem(code::image_cut_short, "BMP colour table cut short");
    }
    image.table.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t at = header.table_at + k * header.table_entry_size;
        image.table[k] = {in.data[at + 2], in.data[at + 1], in.data[at]};  // stored blue, green, red
    }
    return {};
}

// The row of the picture that stored row `stored` lands in.
std::size_t picture_row(const bmp_header& header, std::size_t stored) {
    return header.top_down ? stored : static_cast<std::size_t>(header.height) - 1 - stored;
}

std::size_t row_stride(const bmp_header& header) {
    return (static_cast<std::size_t>(header.width) * header.bits + 31) / 32 * 4;
}

failure pixels_cut_short() {
    return problem(code::image_cut_short, "BMP pixel data cut short");
}

status read_plain_indices(const bytes_in& in, const bmp_header& header, picture& image) {
    const auto width = static_cast<std::size_t>(header.width);
    const auto height = static_cast<std::size_t>(header.height);
    const std::size_t stride = row_stride(header);
    if (!in.has(header.pixels_at, stride * height)) {
        return pixels_cut_short();
    }
    const unsigned per_byte = 8 / header.bits;
    const auto mask = static_cast<unsigned>((1u << header.bits) - 1);
    for (std::size_t row = 0; row < height; ++row) {
        const std::uint8_t* stored = in.data.data() + header.pixels_at + row * stride;
        std::uint8_t* out = image.indices.data() + picture_row(header, row) * width;
        for (std::size_t x = 0; x < width; ++x) {
            // The leftmost pixel lies in the highest bits of its byte.
            const unsigned slot = static_cast<unsigned>(x % per_byte);
            const unsigned shift = 8 - header.bits * (slot + 1);
            out[x] = static_cast<std::uint8_t>(stored[x / per_byte] >> shift & mask);
        }
    }
    return {};
}

// RLE8 and RLE4: runs of one index (two alternating indices for RLE4),
// literal runs, and escapes that end a line, end the picture or move ahead.
// Pixels no run covers keep index 0; runs past the end of a row are dropped.
// A stream that ends before the end-of-bitmap code with rows missing is cut
// short.
status read_rle_indices(const bytes_in& in, const bmp_header& header, picture& image) {
    const auto width = static_cast<std::size_t>(header.width);
    const auto height = static_cast<std::size_t>(header.height);
    const bool four_bit = header.compression == bi_rle4;
    if (header.top_down) {
        return problem(code::bad_image, "RLE-compressed BMP stored top-down");
    }
    if (header.pixels_at > in.data.size()) {
        return pixels_cut_short();
    }
    std::size_t pos = header.pixels_at;
    std::size_t x = 0;
    std::size_t y = 0;  // stored row: bottom row first
    auto put = [&](std::uint8_t index) {
        if (x < width && y < height) {
            image.indices[picture_row(header, y) * width + x] = index;
        }
        ++x;
    };
    const std::size_t end = in.data.size();
    bool ended = false;  // by the end-of-bitmap escape
    while (!ended && y < height && pos + 2 <= end) {
        const std::uint8_t count = in.data[pos];
        const std::uint8_t value = in.data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (unsigned k = 0; k < count; ++k) {
                put(four_bit ? static_cast<std::uint8_t>(k % 2 == 0 ? value >> 4 : value & 0x0F) : value);
            }
            continue;
        }
        if (value == rle_end_of_line) {
            x = 0;
            ++y;
        } else if (value == rle_end_of_bitmap) {
            ended = true;
        } else if (value == rle_delta) {
            if (pos + 2 > end) {
                return pixels_cut_short();
            }
            x += in.data[pos];
            y += in.data[pos + 1];
            pos += 2;
        } else {
            // A literal run of `value` indices, padded to a whole 16-bit word.
            const std::size_t bytes = four_bit ? (value + 1u) / 2 : value;
            if (pos + bytes > end) {
                return pixels_cut_short();
            }
            for (unsigned k = 0; k < value; ++k) {
                const std::uint8_t stored = in.data[pos + (four_bit ? k / 2 : k)];
                put(four_bit ? static_cast<std::uint8_t>(k % 2 == 0 ? stored >> 4 : stored & 0x0F) : stored);
            }
            pos += (bytes + 1) / 2 * 2;
        }
    }
    // Pixels left out before the end-of-bitmap code are meant as index 0; a
    // stream that stops short of it with rows still to come was cut.
    const bool last_row_done = y + 1 == height && x >= width;
    if (!ended && y < height && !last_row_done) {
        return pixels_cut_short();
    }
    return {};
}

std::string hex_mask(std::uint32_t mask) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(mask));
    return text;
}

// Colour masks as a file may state them: each colour's non-zero (alpha may
// be 0), one run of bits, within the pixel's bits, and none sharing a bit
// with another.
status check_masks(const std::array<std::uint32_t, 4>& masks, unsigned bits) {
    static constexpr const char* names[] = {"red", "green", "blue", "alpha"};
    const std::uint64_t pixel_bits = bits >= 32 ? 0xFFFFFFFFu : (std::uint64_t{1} << bits) - 1;
    for (std::size_t k = 0; k < masks.size(); ++k) {
        const std::uint32_t mask = masks[k];
        const std::string named = std::string("BMP ") + names[k] + " mask";
        if (mask == 0) {
            if (k < 3) {
                return problem(code::bad_image, named + " is 0: the picture would have no " + names[k]);
            }
            continue;
        }
        if ((mask & ~pixel_bits) != 0) {
            return problem(code::bad_image, named + " " + hex_mask(mask) + " lies beyond the " + std::to_string(bits) +
                                                " bits of a pixel");
        }
        if (std::popcount(mask) != std::countr_one(mask >> std::countr_zero(mask))) {
            return problem(code::bad_image, named + " " + hex_mask(mask) + " is not one run of bits");
        }
        for (std::size_t other = 0; other < k; ++other) {
            if ((masks[other] & mask) != 0) {
                return problem(code::bad_image, std::string("BMP ") + names[other] + " mask " + hex_mask(masks[other]) +
                                                    " and " + names[k] + " mask " + hex_mask(mask) + " overlap");
            }
        }
    }
    return {};
}

channel channel_of(std::uint32_t mask) {
    if (mask == 0) {
        return {};
    }
    return {mask, static_cast<unsigned>(std::countr_zero(mask)), static_cast<unsigned>(std::popcount(mask))};
}

status read_true_colour(const bytes_in& in, const bmp_header& header, picture& image) {
    const auto width = static_cast<std::size_t>(header.width);
    const auto height = static_cast<std::size_t>(header.height);
    const std::size_t stride = row_stride(header);
    if (!in.has(header.pixels_at, stride * height)) {
        return pixels_cut_short();
    }
    const bool masked = header.compression != bi_rgb;
    std::array<std::uint32_t, 4> masks = header.masks;
    if (!masked && header.bits == 16) {
        masks = {0x7C00, 0x03E0, 0x001F, 0};  // 5-5-5, the top bit unused
    } else if (!masked) {
        masks = {0x00FF0000, 0x0000FF00, 0x000000FF, header.bits == 32 ? header.masks[3] : 0};
    }
    if (status checked = check_masks(masks, header.bits); !checked) {
        return checked;
    }
    const channel red = channel_of(masks[0]), green = channel_of(masks[1]), blue = channel_of(masks[2]);
    const channel alpha = channel_of(masks[3]);
    const std::size_t pixel_bytes = header.bits / 8;
    for (std::size_t row = 0; row < height; ++row) {
        const std::uint8_t* stored = in.data.data() + header.pixels_at + row * stride;
        rgb8* out = image.colours.data() + picture_row(header, row) * width;
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t* p = stored + x * pixel_bytes;
            std::uint32_t pixel = 0;
            for (std::size_t k = 0; k < pixel_bytes; ++k) {
                pixel |= static_cast<std::uint32_t>(p[k]) << (8 * k);
            }
            if (alpha.width > 0 && alpha.of(pixel) != 255) {
                failure why =
                    problem(code::not_opaque, "pixel (" + describe(static_cast<std::int64_t>(x)) + ", " +
                                                  describe(static_cast<std::int64_t>(picture_row(header, row))) +
                                                  ") is not fully opaque");
                why.pixel = libtorv::pixel_position{static_cast<std::int32_t>(x),
                                                    static_cast<std::int32_t>(picture_row(header, row))};
                return why;
            }
            out[x] = {red.colour_of(pixel), green.colour_of(pixel), blue.colour_of(pixel)};
        }
    }
    image.bits = {red.form(), green.form(), blue.form()};
    return {};
}

status check_indices(const picture& image) {
    if (image.table.size() == max_table_entries) {
        return {};  // every 8-bit index has its entry
    }
    const auto width = static_cast<std::size_t>(image.width);
    for (std::size_t at = 0; at < image.indices.size(); ++at) {
        if (image.indices[at] >= image.table.size()) {
            failure why =
                problem(code::bad_image, "pixel (" + describe(static_cast<std::int64_t>(at % width)) + ", " +
                                             describe(static_cast<std::int64_t>(at / width)) + ") uses colour " +
                                             describe(image.indices[at]) + " of a colour table of " +
                                             describe(static_cast<std::int64_t>(image.table.size())));
            why.pixel =
                libtorv::pixel_position{static_cast<std::int32_t>(at % width), static_cast<std::int32_t>(at / width)};
            return why;
        }
    }
    return {};
}

}  // namespace

result<picture> read_bmp(std::span<const std::uint8_t> file, std::size_t max_pixels) {
    const bytes_in in{file};
    bmp_header header;
    if (status read = read_header(in, header); !read) {
        return read.error();
    }
    picture image;
    image.width =
        static_cast<std::int32_t>(std::min<std::int64_t>(header.width, std::numeric_limits<std::int32_t>::max()));
    image.height =
        static_cast<std::int32_t>(std::min<std::int64_t>(header.height, std::numeric_limits<std::int32_t>::max()));
    // Whatever fails from here on, the size the file states is known.
    auto with_size = [&](failure why) {
        why.size = libtorv::image_size{image.width, image.height};
        return why;
    };
    if (status known = check_format(header); !known) {
        return with_size(known.error());
    }
    const std::uint64_t pixels = static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height);
    if (pixels > max_pixels) {
        return with_size(problem(code::image_too_large, "BMP of " + describe(header.width) + "x" +
                                                            describe(header.height) + " pixels is too large"));
    }
    image.indexed = header.bits <= 8;
    status read;
    if (image.indexed) {
        read = read_table(in, header, image);
        if (read) {
            image.indices.assign(static_cast<std::size_t>(pixels), 0);
            read = header.compression == bi_rgb ? read_plain_indices(in, header, image)
                                                : read_rle_indices(in, header, image);
        }
        if (read) {
            read = check_indices(image);
        }
    } else {
        image.colours.resize(static_cast<std::size_t>(pixels));
        read = read_true_colour(in, header, image);
    }
    if (!read) {
        return with_size(read.error());
    }
    return image;
}

}  // namespace torv
