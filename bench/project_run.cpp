// torv-project's benchmark, on a game folder of the five samples and the
// dense 926-frame sequence (make_samples, make_samples --dense):
//   - unpack (PNG, -j 1) against torv run on each source one after another,
//     and unpack on every core;
//   - build after one image of the dense sequence changed, against torv-pack
//     packing that source alone (with its original, in a folder of torv's
//     images with the same change);
//   - the BPS patch of five edited frames, against a simple encoder's (the
//     source read where the files agree, the rest given).
// Each timing is the median of alternated rounds.
//
// Usage: project_run [rounds] [folder]   (the programs are found beside this one)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "codec/bps.h"
#include "image/png_read.h"
#include "io/digest.h"
#include "libtorv/unpack.h"

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

namespace {

double run_in(const fs::path& folder, std::vector<std::string> command) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0)
            _exit(127);
        std::vector<char*> argv;
        for (std::string& word : command) argv.push_back(word.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed: %s\n", command[0].c_str());
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const fs::path& path, const bytes& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// A frame's PNG with a rectangle of its pixels given the colour of another.
bytes scribbled(const bytes& png) {
    torv::result<torv::picture> read = torv::read_png(png, 1 << 20);
    if (!read || !read->indexed) {
        std::fprintf(stderr, "cannot read a frame's PNG\n");
        std::exit(1);
    }
    std::array<std::uint16_t, 256> palette{};
    for (std::size_t k = 0; k < read->table.size(); ++k) palette[k] = torv::rgb15_of(read->table[k]);
    for (int y = 40; y < 90; ++y) {
        for (int x = 60; x < 200; ++x) {
            auto& index = read->indices[static_cast<std::size_t>(y * read->width + x)];
            index = static_cast<std::uint8_t>((index + x / 7 + y / 5) % 255);
        }
    }
    return *libtorv::png_bytes({"x.png", read->width, read->height, read->indices, palette, {}});
}

// A BPS patch as the simplest encoder makes it: the source read where it
// agrees with the target at the same offset, the rest given.
std::size_t simple_patch_size(const bytes& source, const bytes& target) {
    std::size_t size = 4 + 3 * 4 + 12;  // magic, sizes, CRC32s
    for (std::size_t at = 0; at < target.size();) {
        const bool same = at < source.size() && source[at] == target[at];
        std::size_t run = 0;
        while (at + run < target.size() && (at + run < source.size() && source[at + run] == target[at + run]) == same) {
            ++run;
        }
        size += 4 + (same ? 0 : run);
        at += run;
    }
    return size;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const fs::path here = fs::canonical("/proc/self/exe").parent_path();
    const std::string torv = (here / "torv").string(), pack = (here / "torv-pack").string();
    const std::string project = (here / "torv-project").string();
    const fs::path parent = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    const fs::path work = parent / ("torv-project-run-" + std::to_string(getpid()));
    fs::create_directories(work / "game");
    run_in(work, {(here / "make_samples").string(), "game"});
    run_in(work, {(here / "make_samples").string(), "--dense", "game/dense.bin"});
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());

    // Unpacking.
    std::vector<double> torv_times, unpack_times, unpack_all_times;
    std::vector<std::string> sources;
    for (const auto& entry : fs::directory_iterator(work / "game")) sources.push_back(entry.path().filename().string());
    for (int round = 0; round < rounds; ++round) {
        fs::remove_all(work / "bmps");
        fs::create_directories(work / "bmps");
        double total = 0;
        for (const std::string& source : sources) {
            fs::copy_file(work / "game" / source, work / "bmps" / source);
            total += run_in(work / "bmps", {torv, source, ""});
        }
        torv_times.push_back(total);
        fs::remove_all(work / "p1");
        unpack_times.push_back(run_in(work, {project, "unpack", "game", "p1", "-j", "1", "-q"}));
        fs::remove_all(work / "p2");
        unpack_all_times.push_back(run_in(work, {project, "unpack", "game", "p2", "-q"}));
    }
    std::printf("unpack (PNG), -j 1: %.0f ms; torv on each source: %.0f ms; ratio %.2f\n", median(unpack_times) * 1e3,
                median(torv_times) * 1e3, median(unpack_times) / median(torv_times));
    std::printf("unpack on %u cores: %.0f ms (%.2f of -j 1)\n", cores, median(unpack_all_times) * 1e3,
                median(unpack_all_times) / median(unpack_times));

    // Building after one changed image, against torv-pack on that source.
    const bytes changed = scribbled(read_file(work / "p1/dense/dense100.png"));
    write_file(work / "p1/dense/dense100.png", changed);
    fs::create_directories(work / "alone");
    fs::copy_file(work / "game/dense.bin", work / "alone/dense.bin");
    for (const auto& entry : fs::directory_iterator(work / "bmps")) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("dense") && name.ends_with(".bmp"))
            fs::copy_file(entry.path(), work / "alone" / name);
    }
    fs::remove(work / "alone/dense100.bmp");
    write_file(work / "alone/dense100.png", changed);
    std::vector<double> build_times, pack_times;
    for (int round = 0; round < rounds; ++round) {
        fs::remove_all(work / "out");
        build_times.push_back(run_in(work, {project, "build", "p1", "game", "out", "-q"}));
        pack_times.push_back(run_in(work / "alone", {pack, "dense.bin", "", "-f", "-q", "-o", "packed.bin"}));
    }
    if (read_file(work / "out/dense.bin") != read_file(work / "alone/packed.bin")) {
        std::fprintf(stderr, "torv-project build and torv-pack packed other bytes\n");
        return 1;
    }
    std::printf("build after one image changed: %.0f ms; torv-pack on that source: %.0f ms; ratio %.2f\n",
                median(build_times) * 1e3, median(pack_times) * 1e3, median(build_times) / median(pack_times));

    // Patches of five edited frames.
    for (const char* frame : {"dense200.png", "dense300.png", "dense400.png", "dense500.png"}) {
        write_file(work / "p1/dense" / frame, scribbled(read_file(work / "p1/dense" / frame)));
    }
    fs::remove_all(work / "out");
    run_in(work, {project, "build", "p1", "game", "out", "--patch", "patches", "-q"});
    const bytes original = read_file(work / "game/dense.bin");
    const bytes built = read_file(work / "out/dense.bin");
    const bytes patch = read_file(work / "patches/dense.bin.bps");
    std::printf("patch of five edited frames: %zu bytes; a simple encoder's: %zu bytes\n", patch.size(),
                simple_patch_size(original, built));
    fs::remove_all(work);
    return 0;
}
