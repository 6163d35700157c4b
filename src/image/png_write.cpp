#include "image/png_write.h"

#ifdef TORV_HAVE_PNG
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <new>
#endif

namespace torv {

#ifndef TORV_HAVE_PNG

result<std::vector<std::uint8_t>> write_png(const indexed_image&, const rgb15_palette&) {
    return failure_of(code::unsupported_image, "this build writes no PNG files");
}

#else

namespace {

// libpng reports errors by a long jump: the function that sets the jump
// holds only plain values, the vector belongs to the caller.
struct png_writing {
    std::vector<std::uint8_t>* out = nullptr;
};

void on_error(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

void append(png_structp png, png_bytep data, png_size_t count) {
    auto* writing = static_cast<png_writing*>(png_get_io_ptr(png));
    try {
        writing->out->insert(writing->out->end(), data, data + count);
    } catch (const std::bad_alloc&) {
        png_error(png, "out of memory");
    }
}

void flush(png_structp) {}

// False if libpng failed.
bool write_rows(png_structp png, png_infop info, const indexed_image& image, const png_color* colours) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, colours, static_cast<int>(palette_entries));
    // Indices gain nothing from PNG's filters, and deflate's fastest level
    // takes half the time of its default for a fifth more bytes (a project of
    // thousands of frames is written in about the time of torv's BMPs).
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, Z_BEST_SPEED);
    png_write_info(png, info);
    const auto width = static_cast<std::size_t>(image.width);
    for (std::int32_t y = 0; y < image.height; ++y) {
        // libpng takes a non-const row pointer but only reads it.
        png_write_row(png, const_cast<png_bytep>(image.pixels.data() + static_cast<std::size_t>(y) * width));
    }
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

result<std::vector<std::uint8_t>> write_png(const indexed_image& image, const rgb15_palette& palette) {
    std::vector<std::uint8_t> file;
    png_writing writing{&file};
    png_color colours[palette_entries];
    for (std::size_t k = 0; k < palette_entries; ++k) {
        const rgb8 colour = rgb8_of(palette[k]);
        colours[k] = {colour.red, colour.green, colour.blue};
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &writing, on_error, on_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        throw std::bad_alloc();
    }
    png_set_write_fn(png, &writing, append, flush);
    const bool written = write_rows(png, info, image, colours);
    png_destroy_write_struct(&png, &info);
    if (!written) {
        // An image of a layout in memory meets no other failure than
        // memory running out (libpng's own allocations included).
        throw std::bad_alloc();
    }
    return file;
}

#endif

}  // namespace torv
