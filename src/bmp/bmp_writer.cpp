#include "bmp/bmp_writer.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "driver/fail.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#endif

namespace torv {

namespace {

constexpr std::uint32_t bi_rgb = 0;  // no compression
constexpr std::uint16_t bits_per_pixel = 8;
constexpr std::size_t first_char_code = 1000;

}  // namespace

std::uint8_t* put_u16le(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    return out + 2;
}

std::uint8_t* put_u32le(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value >> 16);
    out[3] = static_cast<std::uint8_t>(value >> 24);
    return out + 4;
}

void put_rgbquad(std::uint8_t* out, std::uint16_t rgb15) {
    out[0] = static_cast<std::uint8_t>(((rgb15 >> 10) & 31) << 3);  // blue
    out[1] = static_cast<std::uint8_t>(((rgb15 >> 5) & 31) << 3);   // green
    out[2] = static_cast<std::uint8_t>((rgb15 & 31) << 3);          // red
    out[3] = 0;
}

std::string bmp_name(const std::string& prefix, std::int32_t suffix_code) {
    std::string name = prefix;
    if (suffix_code >= static_cast<std::int32_t>(first_char_code)) {
        name += static_cast<char>('0' + (suffix_code - 1000));
    } else if (suffix_code >= 0) {
        name += static_cast<char>('0' + suffix_code / 100);
        name += static_cast<char>('0' + suffix_code / 10 % 10);
        name += static_cast<char>('0' + suffix_code % 10);
    }
    name += ".bmp";
    return name;
}

std::string frame_bmp_name(const std::string& prefix, std::int32_t number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03ld", static_cast<long>(number));
    return prefix + digits + ".bmp";
}

std::size_t bmp_file_size(const conversion_context& ctx) {
    return bmp_pixel_offset + static_cast<std::size_t>(ctx.cur_width) * static_cast<std::size_t>(ctx.cur_height);
}

namespace {

// The file and info headers and the colour table; returns where the pixel
// rows begin.
std::uint8_t* lay_out_bmp_header(const conversion_context& ctx, std::uint8_t* out) {
    const auto width = static_cast<std::uint32_t>(ctx.cur_width);
    const auto height = static_cast<std::uint32_t>(ctx.cur_height);
    const auto file_size = static_cast<std::uint32_t>(bmp_file_size(ctx));

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

    for (std::size_t k = 0; k < bmp_colour_count; ++k) {
        const auto entry = static_cast<std::uint16_t>(ctx.header_area[2 * k] | (ctx.header_area[2 * k + 1] << 8));
        put_rgbquad(p, entry);
        p += 4;
    }
    return p;
}

const std::uint8_t* canvas_row(const conversion_context& ctx, std::int32_t row) {
    return ctx.canvas.get() + static_cast<std::size_t>(row) * static_cast<std::size_t>(ctx.cur_width);
}

}  // namespace

void lay_out_bmp(const conversion_context& ctx, std::uint8_t* out) {
    // Rows go out last row first; every width in use is a multiple of 4, so
    // rows need no fill.
    std::uint8_t* p = lay_out_bmp_header(ctx, out);
    const auto width = static_cast<std::size_t>(ctx.cur_width);
    for (std::int32_t row = ctx.cur_height; row-- > 0;) {
        std::memcpy(p, canvas_row(ctx, row), width);
        p += width;
    }
}

namespace {

#ifdef _WIN32

// The file image is laid out in memory and leaves in one write: one system
// call per BMP on an unbuffered stream.
std::uint8_t* bmp_image_buffer() {
    static const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow)
                                                            std::uint8_t[bmp_pixel_offset + canvas_size]);
    if (!buffer) {
        fail(no_memory_message);
    }
    return buffer.get();
}

[[noreturn]] void abandon_file(std::FILE* file, const std::string& name) {
    if (file != nullptr) {
        std::fclose(file);
    }
    std::remove(name.c_str());
    fail_write(name);
}

void write_file(const conversion_context& ctx, const std::string& name) {
    std::uint8_t* image = bmp_image_buffer();
    const std::size_t size = bmp_file_size(ctx);
    lay_out_bmp(ctx, image);

    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr) {
        fail_create(name);
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    if (std::fwrite(image, 1, size, file) != size) {
        abandon_file(file, name);
    }
    if (std::fclose(file) != 0) {
        abandon_file(nullptr, name);
    }
}

#else

// Writes all the parts, however the system splits the writing; false on an
// error.
bool write_gathered(int fd, iovec* parts, int count) {
    while (count > 0) {
        const ssize_t written = writev(fd, parts, std::min(count, IOV_MAX));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= parts->iov_len) {
            left -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<std::uint8_t*>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
    }
    return true;
}

[[noreturn]] void abandon_file(int fd, const std::string& name) {
    if (fd >= 0) {
        close(fd);
    }
    unlink(name.c_str());
    fail_write(name);
}

// The header and the rows, bottom-up, straight from the canvas, leave in one
// gathered write: one system call per BMP and no copy of the image.
void write_file(const conversion_context& ctx, const std::string& name) {
    std::uint8_t header[bmp_pixel_offset];
    lay_out_bmp_header(ctx, header);
    iovec parts[1 + max_height];
    parts[0] = {header, sizeof header};
    int count = 1;
    for (std::int32_t row = ctx.cur_height; row-- > 0;) {
        parts[count++] = {const_cast<std::uint8_t*>(canvas_row(ctx, row)), static_cast<std::size_t>(ctx.cur_width)};
    }

    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        fail_create(name);
    }
    if (!write_gathered(fd, parts, count)) {
        abandon_file(fd, name);
    }
    if (close(fd) != 0) {
        abandon_file(-1, name);
    }
}

#endif

}  // namespace

void write_bmp_file(conversion_context& ctx, const std::string& name) {
    write_file(ctx, name);
}

void write_bmp(conversion_context& ctx, std::int32_t suffix_code) {
    write_bmp_file(ctx, bmp_name(ctx.name_prefix, suffix_code));
}

}  // namespace torv
