#include "pack/cli.h"

#include <getopt.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "format/layouts.h"
#include "format/names.h"
#include "image/bmp_read.h"
#include "image/png_read.h"
#include "io/input.h"
#include "io/pending_file.h"
#include "pack/pack.h"

#ifndef TORV_VERSION
#define TORV_VERSION "unknown"
#endif

namespace torv {

namespace {

constexpr int exit_success = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

// An image file may hold more than its pixels (headers, a colour table, four
// bytes a pixel, PNG's framing); beyond this much more it is refused unread.
constexpr std::uintmax_t file_bytes_per_pixel = 5;
constexpr std::uintmax_t file_overhead = 1 << 20;

struct command {
    std::string filename;
    std::string drive;
    std::string output;
    bool force = false;
    std::optional<std::string> like;  // the original named with --like
    bool no_like = false;
    std::string layout_name;
    bool nearest = false;
    unsigned jobs = 0;
    bool quiet = false;
};

void say(const std::string& text) {
    std::fprintf(stderr, "torv-pack: %s\n", text.c_str());
}

void print_help() {
    std::printf(
        "usage: torv-pack [options] filename outdrive\n"
        "\n"
        "Packs the images that 'torv filename outdrive' writes back into a source\n"
        "file. Each image is <name>.bmp or, in its place, <name>.png.\n"
        "\n"
        "  -o, --output FILE  the file to write (required)\n"
        "  -f, --force        replace FILE if it exists\n"
        "      --like FILE    the original file to keep bytes and palettes from\n"
        "                     (default: the file torv reads, if it exists)\n"
        "      --no-like      pack without an original\n"
        "      --layout NAME  frame_sequence, raw_triple, three_panel_block,\n"
        "                     single_picture_block or four_image_block; needed only\n"
        "                     when neither an original nor the images decide it\n"
        "      --nearest      map colours the palette lacks to the nearest one\n"
        "  -j, --jobs N       threads for compressing (default: all cores)\n"
        "  -q, --quiet        no report\n"
        "  -h, --help         this text\n"
        "  -V, --version      the version\n"
        "\n%s",
        png_supported() ? "" : "This build reads BMP files only: convert PNG images to BMP first.\n");
}

// Parses the command line; an exit status if the run ends here.
std::optional<int> parse(int argc, char** argv, command& cmd) {
    enum { opt_like = 256, opt_no_like, opt_layout, opt_nearest };
    static const option options[] = {
        {"output", required_argument, nullptr, 'o'},
        {"force", no_argument, nullptr, 'f'},
        {"like", required_argument, nullptr, opt_like},
        {"no-like", no_argument, nullptr, opt_no_like},
        {"layout", required_argument, nullptr, opt_layout},
        {"nearest", no_argument, nullptr, opt_nearest},
        {"jobs", required_argument, nullptr, 'j'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c = 0;
    auto usage = [](const std::string& text) {
        say(text + " (try 'torv-pack --help')");
        return std::optional<int>(exit_usage);
    };
    while ((c = getopt_long(argc, argv, ":o:fj:qhV", options, nullptr)) != -1) {
        switch (c) {
            case 'o': cmd.output = optarg; break;
            case 'f': cmd.force = true; break;
            case opt_like: cmd.like = optarg; break;
            case opt_no_like: cmd.no_like = true; break;
            case opt_layout: cmd.layout_name = optarg; break;
            case opt_nearest: cmd.nearest = true; break;
            case 'q': cmd.quiet = true; break;
            case 'j': {
                char* end = nullptr;
                const long jobs = std::strtol(optarg, &end, 10);
                if (*optarg == '\0' || *end != '\0' || jobs < 1 || jobs > 1024) {
                    return usage(std::string("--jobs wants a number of threads, not '") + optarg + "'");
                }
                cmd.jobs = static_cast<unsigned>(jobs);
                break;
            }
            case 'h': print_help(); return exit_success;
            case 'V': std::printf("torv-pack %s\n", TORV_VERSION); return exit_success;
            case ':': return usage(std::string("option ") + argv[optind - 1] + " wants a value");
            default: return usage(std::string("unknown option ") + argv[optind - 1]);
        }
    }
    if (argc - optind != 2) {
        return usage("wants two arguments, filename and outdrive, as torv does");
    }
    cmd.filename = argv[optind];
    cmd.drive = argv[optind + 1];
    if (cmd.output.empty()) {
        return usage("-o FILE is required");
    }
    if (cmd.like && cmd.no_like) {
        return usage("--like and --no-like exclude each other");
    }
    if (!cmd.layout_name.empty() && layout_named(cmd.layout_name) == nullptr) {
        return usage("no layout is called '" + cmd.layout_name + "'");
    }
    return std::nullopt;
}

bool is_file(const std::string& name) {
    struct stat status {};
    return stat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::optional<std::uintmax_t> file_size_of(const std::string& name) {
    struct stat status {};
    if (stat(name.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uintmax_t>(status.st_size);
}

// The file of one expected image: its BMP name, or the PNG beside it.
struct image_file {
    std::string path;
    bool png = false;
};

// Finds the file of the image torv names `bmp_name`; an error if both kinds
// are there, nothing if neither.
std::optional<image_file> find_image(const std::string& bmp_name, std::string& error) {
    const std::string png_name = bmp_name.substr(0, bmp_name.size() - 4) + ".png";
    const bool bmp = is_file(bmp_name);
    const bool png = is_file(png_name);
    if (bmp && png) {
        error = "both " + bmp_name + " and " + png_name + " are there: remove the one not to pack";
        return std::nullopt;
    }
    if (bmp)
        return image_file{bmp_name, false};
    if (png)
        return image_file{png_name, true};
    return std::nullopt;
}

picture_read read_image(const image_file& file, std::size_t max_pixels) {
    picture_read result;
    const std::optional<std::uintmax_t> size = file_size_of(file.path);
    if (!size) {
        result.error = "cannot be read";
        return result;
    }
    if (*size > max_pixels * file_bytes_per_pixel + file_overhead) {
        result.error = "is " + std::to_string(*size) + " bytes, far more than an image of its size needs";
        return result;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*size));
    std::ifstream in(file.path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        result.error = "cannot be read";
        return result;
    }
    return file.png ? read_png(bytes, max_pixels) : read_bmp(bytes, max_pixels);
}

// The size of the first image of `format` present under `prefix`, if any.
std::optional<std::pair<std::int32_t, std::int32_t>> first_image_size(const layout& format, const std::string& prefix) {
    std::string error;
    const image_place& first = format.images[0];
    const std::optional<image_file> file = find_image(output_name(prefix, first, 0), error);
    if (!file) {
        return std::nullopt;
    }
    const picture_read read = read_image(*file, image_bytes(first));
    if (read.image.width <= 0) {
        return std::nullopt;
    }
    return std::make_pair(read.image.width, read.image.height);
}

// The layouts whose images are present: the first image there and of its
// size.
std::vector<const layout*> layouts_of_images(const std::string& prefix) {
    std::vector<const layout*> found;
    for (const layout* format : all_layouts) {
        const auto size = first_image_size(*format, prefix);
        if (size && size->first == format->images[0].width && size->second == format->images[0].height) {
            found.push_back(format);
        }
    }
    return found;
}

// Decides the layout from the original, --layout and the images present.
const layout* choose_layout(const command& cmd, const std::optional<std::string>& original, std::int64_t original_size,
                            const std::string& prefix, std::string& error) {
    const layout* by_original = nullptr;
    if (original) {
        by_original = find_layout(original_size);
        if (by_original == nullptr) {
            error = "the original " + *original + " is " + std::to_string(original_size) +
                    " bytes, the size of no layout (--no-like packs without it)";
            return nullptr;
        }
    }
    const layout* by_option = cmd.layout_name.empty() ? nullptr : layout_named(cmd.layout_name);
    if (by_original && by_option && by_original != by_option) {
        error = "--layout says " + std::string(by_option->name) + ", but the original " + *original + " is a " +
                std::string(by_original->name) + " file";
        return nullptr;
    }
    if (by_original || by_option) {
        return by_original ? by_original : by_option;
    }
    const std::vector<const layout*> found = layouts_of_images(prefix);
    if (found.size() == 1) {
        return found[0];
    }
    if (found.empty()) {
        error = "found no images named " + prefix + "... of any layout (torv names them " + prefix + "0.bmp, " +
                prefix + ".bmp or " + prefix + "000.bmp)";
    } else {
        error = "the images fit several layouts (";
        for (std::size_t k = 0; k < found.size(); ++k) {
            error += (k > 0 ? ", " : "") + std::string(found[k]->name);
        }
        error += "): say which with --layout";
    }
    return nullptr;
}

// The image files of the layout, in order; for a frame sequence, as many
// numbered frames as there are without a gap.
std::optional<std::vector<image_file>> collect_images(const layout& format, const std::string& prefix,
                                                      std::string& error) {
    std::vector<image_file> files;
    if (format.record_alignment != 0) {
        for (std::int32_t number = 0;; ++number) {
            const std::string name = output_name(prefix, format.images[0], number);
            const std::optional<image_file> file = find_image(name, error);
            if (!error.empty())
                return std::nullopt;
            if (!file) {
                if (number == 0) {
                    error = "missing image " + name + " (or its .png)";
                    return std::nullopt;
                }
                break;
            }
            files.push_back(*file);
        }
        return files;
    }
    for (const image_place& place : format.images) {
        const std::string name = output_name(prefix, place, 0);
        const std::optional<image_file> file = find_image(name, error);
        if (!error.empty())
            return std::nullopt;
        if (!file) {
            error = "missing image " + name + " (or its .png)";
            return std::nullopt;
        }
        files.push_back(*file);
    }
    return files;
}

int fail_with(const std::string& text) {
    say(text);
    return exit_failure;
}

}  // namespace

int run_pack(int argc, char** argv) {
    command cmd;
    if (const std::optional<int> status = parse(argc, argv, cmd)) {
        return *status;
    }
    if (!cmd.force && file_size_of(cmd.output)) {
        return fail_with(cmd.output + " exists (-f replaces it)");
    }
    const std::string prefix = name_prefix(cmd.filename, cmd.drive);

    // The original: named, or the file torv reads if it is there.
    std::optional<std::string> original_name;
    if (cmd.like) {
        original_name = cmd.like;
    } else if (!cmd.no_like && is_file(derive_input_name(cmd.filename))) {
        original_name = derive_input_name(cmd.filename);
    }
    input_stream original;
    if (original_name && !open_input(original, *original_name)) {
        return fail_with("cannot open the original " + *original_name);
    }

    std::string error;
    const layout* format = choose_layout(cmd, original_name, original.size, prefix, error);
    if (format == nullptr) {
        return fail_with(error);
    }
    const std::optional<std::vector<image_file>> files = collect_images(*format, prefix, error);
    if (!files) {
        return fail_with(error);
    }

    image_source images;
    images.count = files->size();
    images.name = [&](std::size_t k) { return (*files)[k].path; };
    images.load = [&](std::size_t k, std::size_t max_pixels) { return read_image((*files)[k], max_pixels); };

    pending_file output;
    error = begin_pending(output, cmd.output);
    if (!error.empty()) {
        return fail_with(error);
    }
    pack_options options;
    options.nearest = cmd.nearest;
    options.jobs = cmd.jobs != 0 ? cmd.jobs : std::max(1u, std::thread::hardware_concurrency());
    const pack_outcome outcome = pack(*format, images, original_name ? &original : nullptr, options,
                                      [&](std::span<const std::uint8_t> bytes) { write_pending(output, bytes); });
    // The original may be the file being replaced: let go of it first.
    close_input(original);
    if (!outcome.error.empty()) {
        return fail_with(outcome.error);
    }
    error = finish_pending(output);
    if (!error.empty()) {
        return fail_with(error);
    }
    if (!cmd.quiet) {
        for (const std::string& note : outcome.notes) {
            say(note);
        }
        std::printf("%s written%s\n", cmd.output.c_str(),
                    original_name ? (" (original: " + *original_name + ")").c_str() : "");
        for (const std::string& line : outcome.report) {
            std::printf("%s\n", line.c_str());
        }
    }
    return exit_success;
}

}  // namespace torv
