#include "pack/cli.h"

#include <getopt.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "format/layouts.h"
#include "format/names.h"
#include "image/bmp_read.h"
#include "image/png_read.h"
#include "io/input.h"
#include "io/interrupt.h"
#include "io/output_file.h"
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

// A line as it may be printed: a name holding a newline or another control
// character must not split it or move the cursor.
std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

void say(const std::string& text) {
    std::fprintf(stderr, "torv-pack: %s\n", printable(text).c_str());
}

void print_line(const std::string& text) {
    std::printf("%s\n", printable(text).c_str());
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
            default: {
                // A short option unknown inside a word leaves optind on that
                // word; a long one has moved past it.
                const std::string which =
                    optopt != 0 ? std::string("-") + static_cast<char>(optopt) : std::string(argv[optind - 1]);
                return usage("unknown option " + which + " (a file name that starts with '-' goes after '--')");
            }
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

// What the first image of a layout, if it is there, says about the layout.
struct first_image_probe {
    bool fits = false;    // there, of the layout's size
    std::string why_not;  // there (or something of its name is), but it does not count: why
};

first_image_probe probe_first_image(const layout& format, const std::string& prefix) {
    std::string error;
    const image_place& first = format.images[0];
    const std::optional<image_file> file = find_image(output_name(prefix, first, 0), error);
    if (!error.empty()) {
        return {false, error};
    }
    if (!file) {
        return {};
    }
    const picture_read read = read_image(*file, image_bytes(first));
    if (read.image.width == first.width && read.image.height == first.height) {
        return {true, {}};
    }
    if (read.image.width > 0 && read.image.height > 0) {
        return {false, file->path + " is " + std::to_string(read.image.width) + "x" +
                           std::to_string(read.image.height) + ", the size of no layout's first image"};
    }
    return {false, file->path + ": " + read.error};
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
    std::vector<const layout*> found;
    std::vector<std::string> reasons;  // why what was there does not count, each once
    for (const layout* format : all_layouts) {
        const first_image_probe probe = probe_first_image(*format, prefix);
        if (probe.fits) {
            found.push_back(format);
        } else if (!probe.why_not.empty() &&
                   std::find(reasons.begin(), reasons.end(), probe.why_not) == reasons.end()) {
            reasons.push_back(probe.why_not);
        }
    }
    if (found.size() == 1) {
        return found[0];
    }
    if (found.empty()) {
        error = "found no images named " + prefix + "... of any layout (torv names them " + prefix + "0.bmp, " +
                prefix + ".bmp or " + prefix + "000.bmp)";
        for (const std::string& reason : reasons) {
            error += "; " + reason;
        }
    } else {
        error = "the images fit several layouts (";
        for (std::size_t k = 0; k < found.size(); ++k) {
            error += (k > 0 ? ", " : "") + std::string(found[k]->name);
        }
        error += "): say which with --layout";
    }
    return nullptr;
}

// The largest number of a frame image torv would name under `prefix` that
// the folder holds (as BMP or PNG), or -1. Only the largest is kept, so any
// number of files takes the same memory.
std::int64_t largest_frame_number(const layout& format, const std::string& prefix) {
    namespace fs = std::filesystem;
    const fs::path pattern(prefix);
    const fs::path folder = pattern.has_parent_path() ? pattern.parent_path() : fs::path(".");
    const std::string stem = pattern.filename().string();
    constexpr std::size_t max_digits = 9;
    std::int64_t largest = -1;
    std::error_code failed;
    for (fs::directory_iterator entry(folder, failed), end; !failed && entry != end; entry.increment(failed)) {
        const std::string name = entry->path().filename().string();
        if (name.size() <= stem.size() + 4 || name.compare(0, stem.size(), stem) != 0) {
            continue;
        }
        const std::string digits = name.substr(stem.size(), name.size() - stem.size() - 4);
        if (digits.empty() || digits.size() > max_digits ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const std::int32_t number = std::stoi(digits);
        // Only the names torv writes: "0100" is not frame 100.
        const std::string bmp = fs::path(output_name(prefix, format.images[0], number)).filename().string();
        const std::string png = bmp.substr(0, bmp.size() - 4) + ".png";
        if ((name == bmp || name == png) && number > largest) {
            largest = number;
        }
    }
    return largest;
}

// The frames of a sequence: numbered from 0 without a gap, and no more than
// the file has records for.
std::optional<std::vector<image_file>> collect_frames(const layout& format, const std::string& prefix,
                                                      std::string& error) {
    const auto max_frames = static_cast<std::size_t>(format.file_size / format.record_alignment);
    auto frame_name = [&](std::int64_t number) {
        return output_name(prefix, format.images[0], static_cast<std::int32_t>(number));
    };
    std::vector<image_file> files;
    for (std::size_t number = 0;; ++number) {
        const std::string name = frame_name(static_cast<std::int64_t>(number));
        const std::optional<image_file> file = find_image(name, error);
        if (!error.empty())
            return std::nullopt;
        if (!file) {
            break;
        }
        if (number == max_frames) {
            const std::int64_t last = std::max(largest_frame_number(format, prefix), static_cast<std::int64_t>(number));
            error = "the " + std::to_string(last + 1) + " frames " + frame_name(0) + " to " + frame_name(last) +
                    " do not fit: a " + std::string(format.name) + " file holds at most " + std::to_string(max_frames) +
                    " frames";
            return std::nullopt;
        }
        files.push_back(*file);
    }
    const std::string missing = frame_name(static_cast<std::int64_t>(files.size()));
    if (files.empty()) {
        error = "missing image " + missing + " (or its .png)";
        return std::nullopt;
    }
    const std::int64_t last = largest_frame_number(format, prefix);
    if (last >= static_cast<std::int64_t>(files.size())) {
        error = "missing frame " + missing + " (or its .png), though later frames are there, up to " +
                frame_name(last) + ": every frame from " + frame_name(0) + " on is needed";
        return std::nullopt;
    }
    return files;
}

// The image files of the layout, in order.
std::optional<std::vector<image_file>> collect_images(const layout& format, const std::string& prefix,
                                                      std::string& error) {
    if (is_record_walk(format)) {
        return collect_frames(format, prefix, error);
    }
    std::vector<image_file> files;
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

// A file that could not be read or written, in torv-pack's words.
std::string describe(const file_failure& failure) {
    const std::string because = failure.reason.empty() ? "" : ": " + failure.reason;
    switch (failure.step) {
        case file_step::open: return "cannot open " + failure.name + because;
        case file_step::read: return "cannot read " + failure.name + because;
        case file_step::create: return "cannot create " + failure.name + because;
        case file_step::write: return "cannot write " + failure.name + because;
        case file_step::exists: return failure.name + " exists (-f replaces it)";
        case file_step::place: break;
    }
    return "cannot put " + failure.name + " in place" + because;
}

int fail_with(const std::string& text) {
    say(text);
    return exit_failure;
}

// The largest file of any layout: an original larger than this is measured,
// never read.
std::uint64_t largest_layout_size() {
    std::int64_t largest = 0;
    for (const layout* format : all_layouts) {
        largest = std::max(largest, format->file_size);
    }
    return static_cast<std::uint64_t>(largest);
}

int pack_files(int argc, char** argv) {
    command cmd;
    if (const std::optional<int> status = parse(argc, argv, cmd)) {
        return *status;
    }
    // Created first: an output that is there already ends the run before any
    // work, and one that appears meanwhile is still never replaced.
    output_file output;
    if (const file_result failed =
            begin_output(output, cmd.output, cmd.force ? existing_entry::replace : existing_entry::refuse)) {
        return fail_with(describe(*failed));
    }
    const std::string prefix = name_prefix(cmd.filename, cmd.drive);

    // The original: named, or the file torv reads if it is there. It is read
    // once, whole, so that what is packed is what it held at that moment.
    std::optional<std::string> original_name;
    if (cmd.like) {
        original_name = cmd.like;
    } else if (!cmd.no_like && is_file(derive_input_name(cmd.filename))) {
        original_name = derive_input_name(cmd.filename);
    }
    whole_file original_bytes;
    input_stream original;
    if (original_name) {
        if (const file_result failed = read_whole_file(*original_name, largest_layout_size(), original_bytes)) {
            return fail_with(
                (failed->step == file_step::open ? "cannot open the original " : "cannot read the original ") +
                *original_name + (failed->reason.empty() ? "" : ": " + failed->reason));
        }
        attach_memory(original, original_bytes.bytes);
    }

    std::string error;
    const layout* format = choose_layout(cmd, original_name, original_bytes.size, prefix, error);
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

    pack_options options;
    options.nearest = cmd.nearest;
    options.jobs = cmd.jobs != 0 ? cmd.jobs : std::max(1u, std::thread::hardware_concurrency());
    const pack_outcome outcome = pack(*format, images, original_name ? &original : nullptr, options,
                                      [&](std::span<const std::uint8_t> bytes) { write_output(output, bytes); });
    if (!outcome.error.empty()) {
        return fail_with(outcome.error);
    }
    if (const file_result failed = finish_output(output)) {
        return fail_with(describe(*failed));
    }
    if (!cmd.quiet) {
        for (const std::string& note : outcome.notes) {
            say(note);
        }
        print_line(cmd.output + " written" + (original_name ? " (original: " + *original_name + ")" : ""));
        for (const std::string& line : outcome.report) {
            print_line(line);
        }
    }
    return exit_success;
}

}  // namespace

int run_pack(int argc, char** argv) {
    install_interrupt_cleanup();
    // Whatever the run had under way (its temporary file above all) is
    // cleaned up on the way out here.
    try {
        return pack_files(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail_with("out of memory");
    } catch (const std::system_error& failure) {
        return fail_with(std::string("the system refused: ") + failure.what());
    }
}

}  // namespace torv
