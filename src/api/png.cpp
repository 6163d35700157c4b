// libtorv/unpack.h's PNG writer, apart from the rest: a program that makes
// no PNG (torv) links none of libpng.
#include "api/views.h"
#include "image/png_write.h"
#include "libtorv/unpack.h"

namespace libtorv {

result<bytes> png_bytes(const image_view& image) {
    if (result<> checked = check_view(image); !checked) {
        return std::move(checked).error();
    }
    return torv::write_png({image.indices, image.width, image.height}, palette_of(image));
}

}  // namespace libtorv
