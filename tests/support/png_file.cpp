#include "png_file.h"

#ifdef TORV_TEST_PNG
#include <png.h>
#endif

#include "harness.h"

namespace torv::test {

std::optional<std::vector<std::uint8_t>> png_of_bmp(const std::vector<std::uint8_t>& bmp) {
#ifdef TORV_TEST_PNG
    constexpr std::size_t table_at = 54;
    constexpr std::size_t pixels_at = 1078;
    const std::uint32_t width = le32(bmp, 18);
    const std::uint32_t height = le32(bmp, 22);
    std::vector<png_byte> colours(3 * 256);
    for (std::size_t k = 0; k < 256; ++k) {  // stored blue, green, red, 0
        colours[3 * k] = bmp[table_at + 4 * k + 2];
        colours[3 * k + 1] = bmp[table_at + 4 * k + 1];
        colours[3 * k + 2] = bmp[table_at + 4 * k];
    }
    std::vector<png_byte> rows(static_cast<std::size_t>(width) * height);
    const std::size_t stride = (width + 3) / 4 * 4;
    for (std::uint32_t y = 0; y < height; ++y) {  // BMP rows bottom-up
        std::copy_n(bmp.begin() + static_cast<std::ptrdiff_t>(pixels_at + (height - 1 - y) * stride), width,
                    rows.begin() + static_cast<std::ptrdiff_t>(y) * width);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB_COLORMAP;
    image.colormap_entries = 256;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, rows.data(), 0, colours.data())) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> file(size);
    if (!png_image_write_to_memory(&image, file.data(), &size, 0, rows.data(), 0, colours.data())) {
        return std::nullopt;
    }
    file.resize(size);
    return file;
#else
    (void)bmp;
    return std::nullopt;
#endif
}

}  // namespace torv::test
