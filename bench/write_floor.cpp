// The floor for a whole run: writes `count` files of `size` bytes from memory,
// the way torv writes its BMP files (one unbuffered write each), and nothing
// else. Usage: write_floor count size
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: write_floor count size\n", stderr);
        return 2;
    }
    const long count = std::strtol(argv[1], nullptr, 10);
    const auto size = static_cast<std::size_t>(std::strtoul(argv[2], nullptr, 10));
    std::vector<unsigned char> image(size, 0x5A);
    char name[32];
    for (long k = 0; k < count; ++k) {
        std::snprintf(name, sizeof name, "floor%03ld.bmp", k);
        std::FILE* file = std::fopen(name, "wb");
        if (file == nullptr) {
            return 1;
        }
        std::setvbuf(file, nullptr, _IONBF, 0);
        const bool written = std::fwrite(image.data(), 1, size, file) == size;
        if (std::fclose(file) != 0 || !written) {
            return 1;
        }
    }
    return 0;
}
