// libtorv/unpack.h's PNG writer, apart from the rest: a program that makes
// no PNG (torv) links none of libpng.
#include <algorithm>

#include "image/png_write.h"
#include "libtorv/unpack.h"

namespace torv {

std::vector<std::uint8_t> png_bytes(const image_view& image) {
    rgb15_palette palette{};
    std::copy(image.palette.begin(), image.palette.end(), palette.begin());
    return write_png({image.indices, image.width, image.height}, palette);
}

}  // namespace torv
