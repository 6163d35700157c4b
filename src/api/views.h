// What the functions that take an image view from a caller check first.
#pragma once

#include <algorithm>
#include <string>

#include "image/image.h"
#include "image/palette.h"
#include "io/result.h"
#include "libtorv/types.h"

namespace libtorv {

// The largest side of an image a view may have: far above any layout's,
// and small enough that its file's size stays a 32-bit number.
inline constexpr std::int32_t max_view_side = 1 << 14;

// A view whose sizes agree with its indices, or why not.
inline result<> check_view(const image_view& image) {
    const bool sized =
        image.width > 0 && image.height > 0 && image.width <= max_view_side && image.height <= max_view_side;
    if (!sized || image.indices.size() < torv::pixel_count(image.width, image.height)) {
        return torv::failure_of(code::bad_argument, "an image of " + std::to_string(image.width) + "x" +
                                                        std::to_string(image.height) + " pixels with " +
                                                        std::to_string(image.indices.size()) + " indices");
    }
    return {};
}

inline torv::rgb15_palette palette_of(const image_view& image) {
    torv::rgb15_palette palette{};
    std::copy(image.palette.begin(), image.palette.end(), palette.begin());
    return palette;
}

}  // namespace libtorv
