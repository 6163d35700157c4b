// torv-project status: what changed in a project, what keeps it from being
// built, and (given the game folder) whether its game files are the ones it
// was made from.
#include "io/result.h"
#include "io/words.h"
#include "libtorv/project.h"
#include "torv_project/commands.h"
#include "torv_project/disk.h"
#include "torv_project/say.h"

namespace torv::project_cli {

using namespace libtorv;  // a front end of the library: its names are this file's

namespace {

// A manifest's project: its folder and what it says.
result<project_manifest> read_project(const fs::path& folder) {
    const fs::path manifest_path = folder / std::string(manifest_name);
    result<bytes> text = read_file(manifest_path, largest_manifest);
    if (!text) {
        std::error_code failed;
        if (text.error().code == code::cannot_open && !fs::exists(fs::symlink_status(manifest_path, failed))) {
            return torv::failure_of(code::bad_project,
                                    folder.string() + " has no " + std::string(manifest_name) +
                                        ": it is no project, or its unpacking did not finish",
                                    manifest_path.string());
        }
        return std::move(text).error();
    }
    result<project_manifest> read =
        read_manifest(std::string_view(reinterpret_cast<const char*>(text->data()), text->size()));
    if (!read) {
        failure why = std::move(read).error();
        why.words = folder.string() + ": " + why.words;
        return why;
    }
    return read;
}

}  // namespace

result<project_manifest> open_project(const fs::path& folder) {
    return read_project(folder);
}

int show_status(const status_command& cmd) {
    const result<project_manifest> manifest = open_project(cmd.project);
    if (!manifest)
        return fail_with(manifest.error().words);
    const project_status status = status_of_project(*manifest, project_on_disk(cmd.project), jobs_for(0));
    bool any = false;
    auto tell = [&](const std::string& line) {
        print_line(line);
        any = true;
    };
    std::size_t images = 0;
    for (std::size_t k = 0; k < status.sources.size(); ++k) {
        const project_source& source = manifest->sources[k];
        const source_status& state = status.sources[k];
        images += source.images.size();
        if (!cmd.quiet && !state.changed.empty()) {
            std::vector<std::string> files;
            for (const std::size_t image : state.changed) files.push_back(state.files[image]);
            tell(source.path + ": " + counted(files.size(), "image", "images") + " changed: " + listed(files));
        }
        if (!cmd.quiet && !state.added.empty()) {
            tell(source.path + ": " + counted(state.added.size(), "frame", "frames") +
                 " added after the last: " + listed(state.added));
        }
        for (const failure& problem : state.problems) tell(problem.words);
        if (!cmd.quiet) {
            for (const std::string& other : state.others) {
                tell("left alone, not an image: " + source.folder + "/" + other);
            }
        }
    }
    if (!cmd.quiet) {
        for (const std::string& other : files_outside_sources(*manifest, all_files(cmd.project))) {
            tell("ignored, not in the manifest: " + other);
        }
    }
    if (cmd.game) {
        const game_reader game = game_on_disk(*cmd.game);
        for (const project_source& source : manifest->sources) {
            const result<bytes> file = game(source.path);
            if (!file) {
                tell(file.error().words);
            } else if (static_cast<std::int64_t>(file->size()) != source.size || sha256_of(*file) != source.sha256) {
                tell(cmd.game->string() + ": " + source.path + " is not the file the project was made from");
            }
        }
    }
    if (!any && !cmd.quiet) {
        print_line("no changes: " + counted(manifest->sources.size(), "source", "sources") + ", " +
                   counted(images, "image", "images") + " as they were unpacked");
    }
    return exit_success;
}

}  // namespace torv::project_cli
