// Whole-run benchmark: converts a dense full-size frame sequence with torv
// and compares its wall time with a floor program that only writes the same
// number of BMP-sized files, both ways a person runs it: into an empty folder,
// and over the files of the run before (where the floor truncates and
// rewrites its own). Runs the two alternately, several times each, and
// prints the medians, the median ratios and torv's peak resident memory.
//
// Usage: whole_run [rounds] [folder]   (the programs are found beside this
// one; the files are written in a new folder inside `folder`, by default the
// system's temporary folder)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "samples.h"

namespace fs = std::filesystem;

namespace {

struct run_figures {
    double seconds = 0;
    long peak_rss_kib = 0;
    int status = -1;
};

run_figures run_in(const fs::path& folder, std::vector<std::string> command) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0) {
            _exit(127);
        }
        std::vector<char*> argv;
        for (std::string& word : command) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    run_figures figures;
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.peak_rss_kib = usage.ru_maxrss;
    figures.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return figures;
}

std::size_t remove_bmps(const fs::path& folder) {
    std::size_t removed = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".bmp") {
            fs::remove(entry.path());
            ++removed;
        }
    }
    return removed;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const fs::path here = fs::canonical("/proc/self/exe").parent_path();
    const fs::path torv = here / "torv";
    const fs::path floor = here / "write_floor";
    const fs::path pack = here / "torv-pack";
    const fs::path parent = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    const fs::path folder = parent / ("torv-whole-run-" + std::to_string(getpid()));
    fs::create_directories(folder);

    std::printf("writing the dense frame sequence ...\n");
    {
        // Released before any run: a forked child counts its parent's pages
        // until it executes the program.
        const torv::samples::bytes source = torv::samples::make_dense_frame_sequence();
        std::ofstream(folder / "dense.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(source.data()), static_cast<std::streamsize>(source.size()));
    }

    // One untimed run to learn the number of files and to warm the caches.
    const run_figures warm = run_in(folder, {torv.string(), "dense.bin", ""});
    const std::size_t files = remove_bmps(folder);
    if (warm.status != 0 || files == 0) {
        std::fprintf(stderr, "torv failed on the dense file (status %d)\n", warm.status);
        return 1;
    }
    const std::string count = std::to_string(files);
    std::printf("%zu frames, %.1f MB of BMP files per run, %d rounds\n", files,
                static_cast<double>(files) * 72'758 / 1e6, rounds);

    // Into an empty folder: each run's files are removed before the next.
    std::vector<double> torv_times, floor_times, ratios;
    long peak_rss = warm.peak_rss_kib;
    for (int round = 0; round < rounds; ++round) {
        const run_figures a = run_in(folder, {torv.string(), "dense.bin", ""});
        remove_bmps(folder);
        const run_figures b = run_in(folder, {floor.string(), count, "72758"});
        remove_bmps(folder);
        if (a.status != 0 || b.status != 0) {
            std::fprintf(stderr, "a run failed (torv %d, floor %d)\n", a.status, b.status);
            return 1;
        }
        torv_times.push_back(a.seconds);
        floor_times.push_back(b.seconds);
        ratios.push_back(a.seconds / b.seconds);
        peak_rss = std::max(peak_rss, a.peak_rss_kib);
    }

    // Over the run before: the files of the last run stay for the next.
    run_in(folder, {torv.string(), "dense.bin", ""});
    run_in(folder, {floor.string(), count, "72758"});
    std::vector<double> torv_again, floor_again, ratios_again;
    for (int round = 0; round < rounds; ++round) {
        const run_figures a = run_in(folder, {torv.string(), "dense.bin", ""});
        const run_figures b = run_in(folder, {floor.string(), count, "72758"});
        if (a.status != 0 || b.status != 0) {
            std::fprintf(stderr, "a run failed (torv %d, floor %d)\n", a.status, b.status);
            return 1;
        }
        torv_again.push_back(a.seconds);
        floor_again.push_back(b.seconds);
        ratios_again.push_back(a.seconds / b.seconds);
        peak_rss = std::max(peak_rss, a.peak_rss_kib);
    }
    remove_bmps(folder);

    // The way back: the unpacked frames packed again without the original, so
    // every frame is compressed, alternately with the unpacking.
    run_in(folder, {torv.string(), "dense.bin", ""});
    std::vector<double> pack_times, unpack_times, pack_ratios;
    long pack_rss = 0;
    for (int round = 0; round < rounds; ++round) {
        const run_figures p =
            run_in(folder, {pack.string(), "dense.bin", "", "--no-like", "-q", "-f", "-o", "packed.bin"});
        const run_figures u = run_in(folder, {torv.string(), "dense.bin", ""});
        if (p.status != 0 || u.status != 0) {
            std::fprintf(stderr, "a run failed (torv-pack %d, torv %d)\n", p.status, u.status);
            return 1;
        }
        pack_times.push_back(p.seconds);
        unpack_times.push_back(u.seconds);
        pack_ratios.push_back(p.seconds / u.seconds);
        pack_rss = std::max(pack_rss, p.peak_rss_kib);
    }

    std::printf("into an empty folder: torv median %.1f ms, floor median %.1f ms, median ratio torv/floor %.2f\n",
                median(torv_times) * 1e3, median(floor_times) * 1e3, median(ratios));
    std::printf("over the run before:  torv median %.1f ms, floor median %.1f ms, median ratio torv/floor %.2f\n",
                median(torv_again) * 1e3, median(floor_again) * 1e3, median(ratios_again));
    std::printf("torv peak resident memory %.2f MiB\n", static_cast<double>(peak_rss) / 1024.0);
    std::printf("torv-pack median %.1f ms (%u threads), torv median %.1f ms in the same rounds\n",
                median(pack_times) * 1e3, std::thread::hardware_concurrency(), median(unpack_times) * 1e3);
    std::printf("median ratio torv-pack/torv %.2f\n", median(pack_ratios));
    std::printf("torv-pack peak resident memory %.2f MiB\n", static_cast<double>(pack_rss) / 1024.0);
    fs::remove_all(folder);
    return 0;
}
