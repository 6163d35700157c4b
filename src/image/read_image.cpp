#include "image/read_image.h"

#include <algorithm>
#include <array>

#include "image/bmp_read.h"
#include "image/png_read.h"

namespace torv {

namespace {

constexpr std::array<std::uint8_t, 8> png_signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::array<std::uint8_t, 2> bmp_signature = {'B', 'M'};

template <std::size_t N>
bool starts_with(std::span<const std::uint8_t> file, const std::array<std::uint8_t, N>& signature) {
    return file.size() >= N && std::equal(signature.begin(), signature.end(), file.begin());
}

}  // namespace

result<picture> read_image(std::span<const std::uint8_t> file, std::size_t max_pixels, bool png_by_name) {
    const bool png = starts_with(file, png_signature) || (png_by_name && !starts_with(file, bmp_signature));
    return png ? read_png(file, max_pixels) : read_bmp(file, max_pixels);
}

}  // namespace torv
