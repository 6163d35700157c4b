// Another project's view of the installed library: counts the images of a
// source file and checks each one's BMP, and gives the file's CRC32 (the
// project functions, which need zlib and libmd through the package). Built by .ci/run against
// `cmake --install`.
#include <libtorv/project.h>
#include <libtorv/unpack.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    int images = 0;
    const libtorv::result<libtorv::unpack_result> unpacked =
        libtorv::unpack_file(argv[1], "x", [&](const libtorv::image_view& image) {
            const libtorv::result<libtorv::bytes> bmp = libtorv::bmp_bytes(image);
            images += bmp && bmp->size() == 1078 + static_cast<std::size_t>(image.width) * image.height;
            return true;
        });
    if (!unpacked) {
        std::printf("%s\n", unpacked.error().words.c_str());
        return 1;
    }
    std::printf("%s: %d images\n", unpacked->layout.c_str(), images);
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        return 1;
    }
    libtorv::bytes contents(1 << 20);
    contents.resize(std::fread(contents.data(), 1, contents.size(), file));
    std::fclose(file);
    std::printf("crc32 %08x\n", static_cast<unsigned>(libtorv::crc32_of(contents)));
    return 0;
}
