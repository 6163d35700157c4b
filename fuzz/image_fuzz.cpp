// Arbitrary bytes read as a BMP file and as a PNG file: either a picture that
// holds together or an error, never a read outside the input.
//
// Input: the file's bytes, read both ways.
#include <cstdio>
#include <cstdlib>
#include <span>

#include "image/bmp_read.h"
#include "image/png_read.h"

namespace {

// The largest image torv-pack reads.
constexpr std::size_t max_pixels = 640 * 480;

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "image_fuzz: %s\n", what);
    std::abort();
}

void check(const torv::result<torv::picture>& read) {
    if (!read) {
        return;
    }
    const torv::picture& image = *read;
    const std::size_t pixels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    if (image.width <= 0 || image.height <= 0 || pixels > max_pixels) {
        finding("a picture of impossible size");
    }
    if (image.indexed) {
        if (image.indices.size() != pixels || image.table.empty() || image.table.size() > 256) {
            finding("an indexed picture that does not hold together");
        }
        for (const std::uint8_t index : image.indices) {
            if (index >= image.table.size())
                finding("an index beyond the colour table");
        }
    } else if (image.colours.size() != pixels) {
        finding("a true-colour picture that does not hold together");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    check(torv::read_bmp(file, max_pixels));
    check(torv::read_png(file, max_pixels));
    return 0;
}
