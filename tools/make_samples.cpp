// Writes one sample source file per layout into the folder given on the
// command line (default: the current folder); with --dense FILE, the dense
// full-size frame sequence the benchmarks use, as FILE.
#include <cstdio>
#include <filesystem>
#include <string>

#include "samples.h"

namespace {

bool write_file(const std::filesystem::path& path, const torv::samples::bytes& data) {
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

constexpr const char* usage =
    "usage: make_samples [FOLDER]          one sample source file per layout, into FOLDER (default: here)\n"
    "       make_samples --dense FILE      the dense full-size frame sequence, as FILE\n";

int main(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "-h") {
        std::fputs(usage, stdout);
        return 0;
    }
    if (first.starts_with("-") && first != "--dense") {
        std::fprintf(stderr, "make_samples: no option %s\n%s", first.c_str(), usage);
        return 2;
    }
    if (argc == 3 && first == "--dense") {
        if (!write_file(argv[2], torv::samples::make_dense_frame_sequence())) {
            std::fprintf(stderr, "make_samples: cannot write %s\n", argv[2]);
            return 1;
        }
        return 0;
    }
    const std::filesystem::path folder = argc > 1 ? argv[1] : ".";
    std::error_code error;
    std::filesystem::create_directories(folder, error);

    struct sample {
        const char* name;
        torv::samples::bytes (*make)();
    };
    const sample samples[] = {
        {"triple.bin", torv::samples::make_raw_triple},
        {"panels.bin", torv::samples::make_three_panel_block},
        {"picture.bin", torv::samples::make_single_picture_block},
        {"four.bin", torv::samples::make_four_image_block},
        {"intro.bin", [] { return torv::samples::make_frame_sequence(); }},
    };
    for (const sample& s : samples) {
        const auto path = folder / s.name;
        if (!write_file(path, s.make())) {
            std::fprintf(stderr, "make_samples: cannot write %s\n", path.string().c_str());
            return 1;
        }
    }
    return 0;
}
