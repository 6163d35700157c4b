#include "image/png_read.h"

#include <string>

#ifdef TORV_HAVE_PNG
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <new>
#endif

namespace torv {

#ifndef TORV_HAVE_PNG

bool png_supported() {
    return false;
}

result<picture> read_png(std::span<const std::uint8_t>, std::size_t) {
    return failure_of(code::unsupported_image, "this build of torv-pack reads no PNG files (convert them to BMP)");
}

#else

namespace {

constexpr std::size_t signature_size = 8;
// Chunks beyond this many bytes (text, profiles) are refused: no picture we
// read needs them.
constexpr png_alloc_size_t max_chunk_bytes = 8 * 1024 * 1024;

// libpng reports errors by a long jump. The functions that call it hold only
// plain values, so that the jump skips no destructor; the memory they fill
// belongs to their callers.
struct png_session {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::span<const std::uint8_t> file;
    std::size_t pos = 0;
    char message[200] = {};
};

void on_error(png_structp png, png_const_charp text) {
    auto* session = static_cast<png_session*>(png_get_error_ptr(png));
    std::snprintf(session->message, sizeof session->message, "%s", text);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

void read_from_memory(png_structp png, png_bytep out, png_size_t count) {
    auto* session = static_cast<png_session*>(png_get_io_ptr(png));
    if (count > session->file.size() - session->pos) {
        png_error(png, "PNG file cut short");
    }
    std::memcpy(out, session->file.data() + session->pos, count);
    session->pos += count;
}

struct png_shape {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int colour_type = 0;
    int channels = 0;  // after the transformations: 1 (indices), 3 or 4
    png_colorp palette = nullptr;
    int palette_size = 0;
    png_bytep transparency = nullptr;  // alpha of palette entries
    int transparency_size = 0;
};

// Reads the header and sets up the transformations to 8-bit indices, RGB or
// RGBA. False on error (the message is in the session).
bool read_shape(png_session& session, std::size_t max_pixels, png_shape& shape) {
    if (setjmp(png_jmpbuf(session.png))) {
        return false;
    }
    png_set_user_limits(session.png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_set_chunk_malloc_max(session.png, max_chunk_bytes);
    png_read_info(session.png, session.info);
    shape.width = png_get_image_width(session.png, session.info);
    shape.height = png_get_image_height(session.png, session.info);
    if (static_cast<std::uint64_t>(shape.width) * shape.height > max_pixels) {
        return true;  // refused by the caller, which knows the size now
    }
    shape.colour_type = png_get_color_type(session.png, session.info);
    const int depth = png_get_bit_depth(session.png, session.info);
    if (shape.colour_type == PNG_COLOR_TYPE_PALETTE) {
        png_get_PLTE(session.png, session.info, &shape.palette, &shape.palette_size);
        if (png_get_valid(session.png, session.info, PNG_INFO_tRNS)) {
            png_get_tRNS(session.png, session.info, &shape.transparency, &shape.transparency_size, nullptr);
        }
        if (depth < 8) {
            png_set_packing(session.png);  // one index per byte
        }
    } else {
        if (depth == 16) {
            png_set_strip_16(session.png);
        }
        if (shape.colour_type == PNG_COLOR_TYPE_GRAY || shape.colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) {
            png_set_gray_to_rgb(session.png);
            if (depth < 8) {
                png_set_expand_gray_1_2_4_to_8(session.png);
            }
        }
        if (png_get_valid(session.png, session.info, PNG_INFO_tRNS)) {
            png_set_tRNS_to_alpha(session.png);  // a transparent colour key becomes alpha
        }
    }
    png_set_interlace_handling(session.png);
    png_read_update_info(session.png, session.info);
    shape.channels = png_get_channels(session.png, session.info);
    return true;
}

// Reads every row into `rows`, which point into memory of the caller's.
bool read_rows(png_session& session, png_bytepp rows) {
    if (setjmp(png_jmpbuf(session.png))) {
        return false;
    }
    png_read_image(session.png, rows);
    return true;
}

failure at_pixel(code what, std::size_t at, std::size_t width, const std::string& what_of_it) {
    failure why = failure_of(
        what, "pixel (" + std::to_string(at % width) + ", " + std::to_string(at / width) + ") " + what_of_it);
    why.pixel = libtorv::pixel_position{static_cast<std::int32_t>(at % width), static_cast<std::int32_t>(at / width)};
    return why;
}

// The picture of indexed rows: its table and indices, every index within it
// and every pixel opaque.
result<> take_indexed(const png_shape& shape, std::vector<png_byte>& stored, picture& image) {
    image.indexed = true;
    for (int k = 0; k < shape.palette_size; ++k) {
        image.table.push_back({shape.palette[k].red, shape.palette[k].green, shape.palette[k].blue});
    }
    image.indices = std::move(stored);
    for (std::size_t at = 0; at < image.indices.size(); ++at) {
        const std::uint8_t index = image.indices[at];
        if (index >= image.table.size()) {
            return at_pixel(
                code::bad_image, at, shape.width,
                "uses colour " + std::to_string(index) + " of a palette of " + std::to_string(image.table.size()));
        }
        if (index < shape.transparency_size && shape.transparency[index] != 255) {
            return at_pixel(code::not_opaque, at, shape.width, "is not fully opaque");
        }
    }
    return {};
}

// The picture of RGB or RGBA rows, every pixel opaque.
result<> take_colours(const png_shape& shape, const std::vector<png_byte>& stored, picture& image) {
    const auto channels = static_cast<std::size_t>(shape.channels);
    const std::size_t pixels = stored.size() / channels;
    image.colours.resize(pixels);
    for (std::size_t at = 0; at < pixels; ++at) {
        const png_byte* p = stored.data() + at * channels;
        if (channels == 4 && p[3] != 255) {
            return at_pixel(code::not_opaque, at, shape.width, "is not fully opaque");
        }
        image.colours[at] = {p[0], p[1], p[2]};
    }
    return {};
}

// What libpng said, as a failure.
failure libpng_failure(const png_session& session) {
    return failure_of(code::bad_image, std::string("PNG: ") + session.message);
}

// Reads the picture whose header has been read.
result<picture> read_picture(png_session& session, const png_shape& shape, std::size_t max_pixels) {
    picture image;
    image.width = static_cast<std::int32_t>(std::min<png_uint_32>(shape.width, 0x7FFFFFFF));
    image.height = static_cast<std::int32_t>(std::min<png_uint_32>(shape.height, 0x7FFFFFFF));
    auto with_size = [&](failure why) {
        why.size = libtorv::image_size{image.width, image.height};
        return why;
    };
    if (static_cast<std::uint64_t>(shape.width) * shape.height > max_pixels) {
        return with_size(failure_of(code::image_too_large, "PNG of " + std::to_string(shape.width) + "x" +
                                                               std::to_string(shape.height) + " pixels is too large"));
    }
    const std::size_t row_bytes = std::size_t{shape.width} * static_cast<std::size_t>(shape.channels);
    std::vector<png_byte> stored(row_bytes * shape.height);
    std::vector<png_bytep> rows(shape.height);
    for (std::size_t y = 0; y < shape.height; ++y) {
        rows[y] = stored.data() + y * row_bytes;
    }
    if (!read_rows(session, rows.data())) {
        return with_size(libpng_failure(session));
    }
    const result<> taken = shape.colour_type == PNG_COLOR_TYPE_PALETTE ? take_indexed(shape, stored, image)
                                                                       : take_colours(shape, stored, image);
    if (!taken) {
        return with_size(taken.error());
    }
    return image;
}

}  // namespace

bool png_supported() {
    return true;
}

result<picture> read_png(std::span<const std::uint8_t> file, std::size_t max_pixels) {
    if (file.size() < signature_size || png_sig_cmp(file.data(), 0, signature_size) != 0) {
        return failure_of(code::not_an_image, "not a PNG file");
    }
    png_session session;
    session.file = file;
    session.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &session, on_error, on_warning);
    session.info = session.png ? png_create_info_struct(session.png) : nullptr;
    if (session.info == nullptr) {
        png_destroy_read_struct(&session.png, nullptr, nullptr);
        throw std::bad_alloc();
    }
    png_set_read_fn(session.png, &session, read_from_memory);
    png_shape shape;
    result<picture> read = read_shape(session, max_pixels, shape) ? read_picture(session, shape, max_pixels)
                                                                  : result<picture>(libpng_failure(session));
    png_destroy_read_struct(&session.png, &session.info, nullptr);
    return read;
}

#endif

}  // namespace torv
