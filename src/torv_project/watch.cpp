// torv-project watch: a build after every change to the project, as build
// makes it, until Ctrl-C. The project is looked at a few times a second
// (the same on every system, links not followed); a change is taken once
// every file has been still for a moment, so that saves arriving together
// make one build and a file still being written is not read half-way.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <thread>

#include "io/digest.h"
#include "io/words.h"
#include "torv_project/commands.h"
#include "torv_project/disk.h"
#include "torv_project/say.h"

namespace torv::project_cli {

using namespace libtorv;  // a front end of the library: its names are this file's

namespace {

using clock = std::chrono::steady_clock;

// What the project's files look like: each one's size and time, by path.
struct file_look {
    std::uintmax_t size = 0;
    fs::file_time_type time{};
    friend bool operator==(const file_look&, const file_look&) = default;
};
using project_look = std::map<std::string, file_look>;

project_look look_at(const fs::path& project) {
    project_look look;
    std::error_code failed;
    for (fs::recursive_directory_iterator entry(project, failed), end; !failed && entry != end;
         entry.increment(failed)) {
        std::error_code each;
        if (!entry->is_regular_file(each) || entry->is_symlink(each))
            continue;
        const file_look seen{entry->file_size(each), entry->last_write_time(each)};
        if (!each)
            look[relative_name(entry->path(), project)] = seen;
    }
    return look;
}

std::string time_of_day() {
    const std::time_t now = std::time(nullptr);
    char text[16] = "";
    if (const std::tm* local = std::localtime(&now))
        std::strftime(text, sizeof text, "%H:%M:%S", local);
    return text;
}

// What a build wrote that the next build does not write again is a
// source back as it was: its file goes, if it still holds what was written.
struct written_files {
    std::map<fs::path, std::uint32_t> crc32s;

    void replace_with(const std::vector<fs::path>& placed) {
        std::map<fs::path, std::uint32_t> now;
        for (const fs::path& file : placed) {
            if (result<bytes> contents = read_file(file, largest_patch); contents)
                now[file] = crc32_of(*contents);
        }
        for (const auto& [file, crc] : crc32s) {
            if (now.contains(file))
                continue;
            if (result<bytes> contents = read_file(file, largest_patch); contents && crc32_of(*contents) == crc) {
                std::error_code ignored;
                fs::remove(file, ignored);
            }
        }
        crc32s = std::move(now);
    }
};

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += (out.empty() ? "" : "; ") + line;
    return out;
}

// One build, and its line: the sources written with the room each used.
void build_now(const watch_command& cmd, written_files& written) {
    build_result built;
    std::vector<fs::path> placed;
    const auto started = clock::now();
    if (build_into(cmd.build, built, &placed) != exit_success) {
        print_line(time_of_day() + " the build above failed: " + cmd.build.out.string() + " keeps the last good one");
        std::fflush(stdout);
        return;
    }
    written.replace_with(placed);
    std::vector<std::string> sources;
    for (const std::string& line : built.report) {
        if (!line.ends_with(" bytes") || line.find(".bps: ") == std::string::npos)
            sources.push_back(line);
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - started).count();
    print_line(time_of_day() + " " +
               (sources.empty() ? std::string("nothing changed: ") + cmd.build.out.string() + " holds no source"
                                : joined(sources)) +
               " (" + grouped(took) + " ms)");
    std::fflush(stdout);  // each line as it happens, to a pipe too
}

}  // namespace

int watch_project(const watch_command& cmd) {
    if (!is_folder(cmd.build.project)) {
        return fail_with(cmd.build.project.string() + " is not a folder");
    }
    print_line("watching " + cmd.build.project.string() + ": a build into " + cmd.build.out.string() +
               " after every change (Ctrl-C ends)");
    std::fflush(stdout);
    const auto settle = std::chrono::milliseconds(cmd.settle_ms);
    written_files written;
    project_look seen = look_at(cmd.build.project);
    std::optional<project_look> built;
    auto changed_at = clock::now() - settle;
    for (;;) {
        const project_look now = look_at(cmd.build.project);
        if (now != seen) {
            seen = now;
            changed_at = clock::now();
        } else if (now != built && clock::now() - changed_at >= settle) {
            build_now(cmd, written);
            // What the build read is what was still before it: a change
            // made while it ran is built next, once still.
            built = now;
            if (const project_look after = look_at(cmd.build.project); after != now) {
                seen = after;
                changed_at = clock::now();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(cmd.poll_ms));
    }
}

}  // namespace torv::project_cli
