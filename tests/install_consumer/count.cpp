// Another project's view of the installed library: counts the images of a
// source file and checks each one's BMP. Built by .ci/run against
// `cmake --install`.
#include <libtorv/unpack.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    int images = 0;
    const auto result = torv::unpack_file(argv[1], "x", [&](const torv::image_view& image) {
        images += torv::bmp_bytes(image).size() == 1078 + static_cast<std::size_t>(image.width) * image.height;
        return true;
    });
    std::printf("%s: %d images\n", result ? result->layout.c_str() : "cannot open", images);
    return result ? 0 : 1;
}
