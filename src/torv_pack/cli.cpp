#include "torv_pack/cli.h"

#include <getopt.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/console.h"
#include "format/layouts.h"
#include "format/names.h"
#include "image/png_read.h"
#include "io/file_failure.h"
#include "io/input.h"
#include "io/interrupt.h"
#include "io/output_file.h"
#include "libtorv/pack.h"
#include "libtorv/types.h"

#ifndef TORV_VERSION
#define TORV_VERSION "unknown"
#endif

namespace torv {

namespace {

constexpr int exit_success = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

struct command {
    std::string filename;
    std::string drive;
    std::string output;
    bool force = false;
    std::optional<std::string> like;  // the original named with --like
    bool no_like = false;
    std::string layout_name;
    bool nearest = false;
    bool fit = false;
    unsigned jobs = 0;
    bool quiet = false;
};

void say(const std::string& text) {
    cli::write_text(stderr, "torv-pack: " + cli::printable(text) + "\n");
}

void print_line(const std::string& text) {
    cli::write_text(stdout, cli::printable(text) + "\n");
}

void print_help() {
    std::printf(
        "usage: torv-pack [options] -o FILE filename outdrive\n"
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
        "      --fit          whatever the images are, the best the game can show:\n"
        "                     colours chosen for pictures the palette cannot take,\n"
        "                     pixels changed as little as makes a block fit\n"
        "  -j, --jobs N       threads for compressing (default: all cores)\n"
        "  -q, --quiet        no report\n"
        "  -h, --help         this text\n"
        "  -V, --version      the version\n"
        "\n%s",
        png_supported() ? "" : "This build reads BMP files only: convert PNG images to BMP first.\n");
}

// Parses the command line; an exit status if the run ends here.
std::optional<int> parse(int argc, char** argv, command& cmd) {
    enum { opt_like = 256, opt_no_like, opt_layout, opt_nearest, opt_fit };
    static const option options[] = {
        {"output", required_argument, nullptr, 'o'},
        {"force", no_argument, nullptr, 'f'},
        {"like", required_argument, nullptr, opt_like},
        {"no-like", no_argument, nullptr, opt_no_like},
        {"layout", required_argument, nullptr, opt_layout},
        {"nearest", no_argument, nullptr, opt_nearest},
        {"fit", no_argument, nullptr, opt_fit},
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
            case opt_fit: cmd.fit = true; break;
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

// The images as files in the folders their names say.
libtorv::image_folder files_on_disk(const std::string& prefix) {
    libtorv::image_folder folder;
    folder.has = is_file;
    folder.read = [](const std::string& name, std::uint64_t max_bytes) -> result<libtorv::bytes> {
        result<whole_file> read = read_whole_file(name, max_bytes);
        if (!read) {
            return std::move(read).error();
        }
        if (static_cast<std::uint64_t>(read->size) > max_bytes) {
            failure why = file_failure(code::file_too_large, name);
            why.needed = read->size;
            return why;
        }
        return std::move(read->bytes);
    };
    // The folder the prefix names, each entry spelt as the prefix spells it.
    folder.each_name = [prefix](const std::function<void(const std::string&)>& visit) -> result<> {
        namespace fs = std::filesystem;
        const fs::path pattern(prefix);
        const std::string stem = pattern.filename().string();
        const std::string spelt = prefix.substr(0, prefix.size() - stem.size());
        const fs::path where = pattern.has_parent_path() ? pattern.parent_path() : fs::path(".");
        std::error_code failed;
        for (fs::directory_iterator entry(where, failed), end; !failed && entry != end; entry.increment(failed)) {
            visit(spelt + entry->path().filename().string());
        }
        if (failed) {
            return file_failure(code::cannot_list, where.string(), failed.message());
        }
        return {};
    };
    return folder;
}

// A failure in torv-pack's words: the library's, and for an output that is
// there, how to replace it.
std::string describe(const failure& why) {
    return why.code == code::exists ? why.file + " exists (-f replaces it)" : why.words;
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

// The original, read once, whole, so that what is packed is what it held at
// that moment; one larger than any layout's files is only measured (and
// then refused by its size).
result<whole_file> read_original(const std::string& name) {
    result<whole_file> read = read_whole_file(name, largest_layout_size());
    if (!read) {
        failure why = std::move(read).error();
        const bool opening = why.code == code::cannot_open || why.code == code::not_a_file;
        why.words = (opening ? "cannot open the original " : "cannot read the original ") + name +
                    (why.reason.empty() ? "" : ": " + why.reason);
        return why;
    }
    return read;
}

int pack_files(int argc, char** argv) {
    command cmd;
    if (const std::optional<int> status = parse(argc, argv, cmd)) {
        return *status;
    }
    // Created first: an output that is there already ends the run before any
    // work, and one that appears meanwhile is still never replaced.
    output_file output;
    if (const result<> begun =
            begin_output(output, cmd.output, cmd.force ? existing_entry::replace : existing_entry::refuse);
        !begun) {
        return fail_with(describe(begun.error()));
    }
    const std::string prefix = name_prefix(cmd.filename, cmd.drive);

    // The original: named, or the file torv reads if it is there.
    const std::string torvs_input = derive_input_name(cmd.filename);
    std::optional<std::string> original_name;
    if (cmd.like) {
        original_name = cmd.like;
    } else if (!cmd.no_like && is_file(torvs_input)) {
        original_name = torvs_input;
    } else if (!cmd.no_like) {
        // Said even with -q: the file then differs from the game's outside
        // the images too, and nothing else would show it.
        say("note: no original: " + torvs_input +
            " is not there, so the file is packed without one and differs from the game's outside the images too"
            " (--like FILE names the original, --no-like says there is none)");
    }
    whole_file original_bytes;
    if (original_name) {
        result<whole_file> read = read_original(*original_name);
        if (!read) {
            return fail_with(read.error().words);
        }
        original_bytes = std::move(*read);
    }

    const libtorv::original_file original{original_name.value_or(""), original_bytes.bytes, original_bytes.size};
    libtorv::pack_settings settings;
    settings.layout = cmd.layout_name;
    settings.nearest = cmd.nearest;
    settings.fit = cmd.fit;
    settings.jobs = cmd.jobs != 0 ? cmd.jobs : std::max(1u, std::thread::hardware_concurrency());
    const result<libtorv::pack_result> packed =
        libtorv::pack_images(prefix, files_on_disk(prefix), original_name ? &original : nullptr, settings,
                             [&](std::span<const std::uint8_t> bytes) { write_output(output, bytes); });
    if (!packed) {
        return fail_with(packed.error().words);
    }
    if (const result<> placed = finish_output(output); !placed) {
        return fail_with(describe(placed.error()));
    }
    if (!cmd.quiet) {
        for (const std::string& note : packed->notes) {
            say(note);
        }
        print_line(cmd.output + " written" + (original_name ? " (original: " + *original_name + ")" : ""));
        for (const std::string& line : packed->report) {
            print_line(line);
        }
    }
    return exit_success;
}

}  // namespace

int run_pack(int argc, char** argv) {
    // An original and a few images at the least.
    constexpr std::size_t least_memory = 4 << 20;
    if (!cli::memory_to_start(least_memory)) {
        return fail_with("out of memory");
    }
    install_interrupt_cleanup();
    // Whatever the run had under way (its temporary file above all) is
    // cleaned up on the way out here.
    try {
        return pack_files(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail_with("out of memory");
    }
}

}  // namespace torv
