// torv-project unpack: every source of a game folder as images in a new
// project, with its manifest; all of it, or nothing.
#include <algorithm>
#include <thread>

#include "io/file_failure.h"
#include "io/words.h"
#include "libtorv/project.h"
#include "torv_project/commands.h"
#include "torv_project/say.h"
#include "torv_project/writer.h"

#ifndef TORV_VERSION
#define TORV_VERSION "unknown"
#endif

namespace torv::project_cli {

namespace {

using namespace libtorv;  // a front end of the library: its names are this file's

// The sources of a game folder: every plain file, not reached through a
// link, whose name ends in .bin and whose size is one of the layouts'.
struct game_sources {
    std::vector<std::string> sources;  // relative, sorted
    std::vector<std::string> other_sizes;
    std::size_t links = 0;
};

result<game_sources> find_sources(const fs::path& game) {
    game_sources found;
    std::error_code failed;
    fs::recursive_directory_iterator entry(game, fs::directory_options::none, failed), end;
    for (; !failed && entry != end; entry.increment(failed)) {
        const fs::file_status status = entry->symlink_status(failed);
        if (failed)
            break;
        if (fs::is_symlink(status)) {
            ++found.links;
            continue;
        }
        if (!fs::is_regular_file(status)) {
            continue;
        }
        const std::string file_name = entry->path().filename().string();
        if (kind_of_game_file(file_name, 0) == game_file::unrelated) {
            continue;  // no size asked of a file of another name
        }
        const auto size = static_cast<std::int64_t>(entry->file_size(failed));
        if (failed)
            break;
        const std::string name = relative_name(entry->path(), game);
        (kind_of_game_file(file_name, size) == game_file::source ? found.sources : found.other_sizes).push_back(name);
    }
    if (failed) {
        return file_failure(code::cannot_list, game.string(), failed.message());
    }
    std::sort(found.sources.begin(), found.sources.end());
    std::sort(found.other_sizes.begin(), found.other_sizes.end());
    return found;
}

// Why the project folder cannot take a project, if it cannot.
std::vector<std::string> unfit_project_folder(const unpack_command& cmd) {
    std::error_code failed;
    if (fs::exists(fs::symlink_status(cmd.project, failed)) &&
        (!is_folder(cmd.project) || !fs::is_empty(cmd.project, failed))) {
        return {cmd.project.string() +
                " is there and not an empty folder: unpack makes a project in a new or empty folder"};
    }
    return misplaced(cmd.project, "the project", {{cmd.game, "game folder"}});
}

void report(const unpack_command& cmd, const project_manifest& manifest, const game_sources& found) {
    std::size_t images = 0;
    for (const project_source& source : manifest.sources) {
        images += source.images.size();
        print_line(source.path + ": " + source.layout + ", " + counted(source.images.size(), "image", "images") +
                   (source.animation ? " and " + source.animation->file : std::string()));
    }
    print_line(counted(manifest.sources.size(), "source", "sources") + ", " + counted(images, "image", "images") +
               " in " + cmd.project.string() + " (as " + (cmd.bmp ? "BMP" : "PNG") + ")");
    if (!found.other_sizes.empty()) {
        print_line("left alone, being the size of no layout: " + counted(found.other_sizes.size(), "file", "files") +
                   " (" + listed(found.other_sizes) + ")");
    }
    if (found.links > 0) {
        print_line("not followed: " + counted(found.links, "link", "links"));
    }
}

}  // namespace

int unpack_game(const unpack_command& cmd) {
    if (!is_folder(cmd.game)) {
        return fail_with(cmd.game.string() + " is not a folder");
    }
    if (const std::vector<std::string> unfit = unfit_project_folder(cmd); !unfit.empty()) {
        return fail_with(unfit);
    }
    result<game_sources> found = find_sources(cmd.game);
    if (!found)
        return fail_with(found.error().words);
    if (std::vector<std::string> clashes = clashing_sources(found->sources); !clashes.empty()) {
        clashes.push_back("nothing was written");
        return fail_with(clashes);
    }
    project_manifest manifest;
    manifest.tool = TORV_VERSION;
    manifest.images = cmd.bmp ? image_format::bmp : image_format::png;
    unpack_settings settings;
    settings.images = manifest.images;
    settings.gif = cmd.gif;
    settings.palettes = cmd.palettes;
    settings.jobs = jobs_for(cmd.jobs);
    file_set set;  // refuses what is there: the project is new
    for (const std::string& name : found->sources) {
        result<bytes> file = read_below(cmd.game, name, largest_source_file());
        if (!file)
            return fail_with({file.error().words, "nothing was written"});
        const std::string folder = project_folder_of(name);
        result<project_source> unpacked = unpack_to_project(name, *file, settings, [&](const project_file& made) {
            return stage(set, {cmd.project, folder + "/" + made.name}, made.contents, false);
        });
        if (!unpacked)
            return fail_with({unpacked.error().words, "nothing was written"});
        manifest.sources.push_back(std::move(*unpacked));
    }
    // The manifest last, and only one that reads back.
    const std::string text = manifest_json(manifest);
    if (const result<project_manifest> again = read_manifest(text); !again) {
        return fail_with({"the manifest made does not read back (" + again.error().words + ")", "nothing was written"});
    }
    const std::span<const std::uint8_t> bytes_of_text(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    if (result<> staged = stage(set, {cmd.project, std::string(manifest_name)}, bytes_of_text, false); !staged) {
        return fail_with({staged.error().words, "nothing was written"});
    }
    if (const int status = place_all(set); status != exit_success) {
        return status;
    }
    if (!cmd.quiet) {
        report(cmd, manifest, *found);
    }
    return exit_success;
}

unsigned jobs_for(unsigned asked) {
    return asked != 0 ? asked : std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace torv::project_cli
