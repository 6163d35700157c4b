// An indexed image: one palette index per pixel, row-major, top row first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace torv {

struct indexed_image {
    std::span<const std::uint8_t> pixels;  // width x height bytes
    std::int32_t width = 0;
    std::int32_t height = 0;
};

inline std::size_t pixel_count(std::int32_t width, std::int32_t height) {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

}  // namespace torv
