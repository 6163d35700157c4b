// torv-project build: the sources whose images changed, packed again into
// the output folder, with their patches; every problem of every source said
// in one run, and all of it written, or nothing.
#include <algorithm>

#include "io/words.h"
#include "libtorv/project.h"
#include "torv_project/commands.h"
#include "torv_project/disk.h"
#include "torv_project/say.h"
#include "torv_project/writer.h"

namespace torv::project_cli {

using namespace libtorv;  // a front end of the library: its names are this file's

namespace {

// Where --patch-file's zip goes.
destination patch_file_destination(const fs::path& file) {
    return {file.parent_path().empty() ? fs::path(".") : file.parent_path(), file.filename().string()};
}

// OUT_DIR and PATCH_DIR against the folders the build reads, both ways.
std::vector<std::string> misplaced_folders(const build_command& cmd) {
    const std::vector<std::pair<fs::path, std::string>> read = {{cmd.game, "game folder"}, {cmd.project, "project"}};
    std::vector<std::string> lines = misplaced(cmd.out, "the output folder", read);
    if (cmd.patch_file) {
        for (const auto& [folder, what] : read) {
            if (lies_within(cmd.patch_file->parent_path().empty() ? fs::path(".") : cmd.patch_file->parent_path(),
                            folder)) {
                lines.push_back("the patch file " + cmd.patch_file->string() + " lies within the " + what + " " +
                                folder.string() + ": put it elsewhere");
            }
        }
    }
    if (cmd.patches) {
        const std::vector<std::string> more = misplaced(*cmd.patches, "the patch folder", read);
        lines.insert(lines.end(), more.begin(), more.end());
    }
    return lines;
}

// Where the build may write: each source it may write, and its patch.
std::vector<destination> destinations_of(const build_command& cmd, const project_manifest& manifest,
                                         const project_status& status, std::uint64_t& bytes) {
    std::vector<destination> found;
    for (std::size_t k = 0; k < manifest.sources.size(); ++k) {
        const project_source& source = manifest.sources[k];
        if (!has_changes(status.sources[k]) && !cmd.copy_unchanged) {
            continue;
        }
        found.push_back({cmd.out, source.path});
        bytes += static_cast<std::uint64_t>(source.size);
        if (cmd.patches && has_changes(status.sources[k])) {
            found.push_back({*cmd.patches, source.path + ".bps"});
        }
    }
    if (cmd.patch_file) {
        found.push_back(patch_file_destination(*cmd.patch_file));
    }
    return found;
}

build_settings settings_of(const build_command& cmd) {
    build_settings settings;
    settings.nearest = cmd.nearest;
    settings.fit = cmd.fit;
    settings.copy_unchanged = cmd.copy_unchanged;
    settings.patches = cmd.patches.has_value() || cmd.patch_file.has_value();
    // Patches say what the mod is when it is said, or when they go into a
    // bundle; plain --patch patches stay as they always were.
    const bool described = !cmd.info.title.empty() || !cmd.info.author.empty() || !cmd.info.description.empty();
    if (settings.patches && (described || cmd.patch_file)) {
        settings.info = cmd.info;
    }
    settings.jobs = jobs_for(cmd.jobs);
    return settings;
}

// The mod as one zip, staged with the rest; the line that says so.
result<std::string> stage_bundle(const build_command& cmd, std::vector<bundled_patch>& bundled, file_set& set) {
    if (bundled.empty()) {
        return cmd.patch_file->string() + ": not written, as no file changed";
    }
    // The sources were built on several threads: the bundle is the same
    // whatever their order.
    std::sort(bundled.begin(), bundled.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    result<bytes> zip = patch_bundle(cmd.info, bundled);
    if (!zip)
        return std::move(zip).error();
    if (result<> staged = stage(set, patch_file_destination(*cmd.patch_file), *zip, true); !staged)
        return std::move(staged).error();
    return cmd.patch_file->string() + ": " + counted(bundled.size(), "patch", "patches") + " and README.txt, " +
           grouped(static_cast<std::int64_t>(zip->size())) + " bytes";
}

}  // namespace

int build_into(const build_command& cmd, build_result& built, std::vector<fs::path>* placed) {
    const result<project_manifest> manifest = open_project(cmd.project);
    if (!manifest)
        return fail_with(manifest.error().words);
    if (!is_folder(cmd.game)) {
        return fail_with(cmd.game.string() + " is not a folder");
    }
    if (std::vector<std::string> refused = misplaced_folders(cmd); !refused.empty()) {
        refused.push_back("nothing was written");
        return fail_with(refused);
    }
    const build_settings settings = settings_of(cmd);
    const project_status status = status_of_project(*manifest, project_on_disk(cmd.project), settings.jobs);
    std::uint64_t bytes_out = 0;
    std::vector<std::string> refused = refused_destinations(destinations_of(cmd, *manifest, status, bytes_out));
    const std::vector<std::string> room = lacking_room(cmd.out, bytes_out);
    refused.insert(refused.end(), room.begin(), room.end());
    if (!refused.empty()) {
        refused.push_back("nothing was written");
        return fail_with(refused);
    }

    file_set set;
    set.existing = cmd.force ? existing_entry::replace : existing_entry::refuse;
    std::vector<bundled_patch> bundled;
    built = build_project(*manifest, status, project_on_disk(cmd.project), game_on_disk(cmd.game), settings,
                          [&](build_output&& made) -> result<> {
                              const fs::path& folder = made.patch ? cmd.patches.value_or(cmd.out) : cmd.out;
                              if (result<fs::path> at = below(folder, made.path); placed && at)
                                  placed->push_back(*at);
                              if (!made.patch)
                                  return stage(set, {cmd.out, made.path}, made.contents, true);
                              if (cmd.patch_file)
                                  bundled.push_back({target_of_patch(made.path), made.contents});
                              if (cmd.patches)
                                  return stage(set, {*cmd.patches, made.path}, made.contents, true);
                              return {};
                          });
    if (built.failures.empty() && cmd.patch_file) {
        if (result<std::string> line = stage_bundle(cmd, bundled, set); line) {
            built.report.push_back(*line);
        } else {
            built.failures.push_back(std::move(line).error());
        }
    }
    if (!built.failures.empty()) {
        return fail_with(built.failures, "nothing was written");
    }
    return place_all(set);
}

int build_game(const build_command& cmd) {
    build_result built;
    if (const int status = build_into(cmd, built); status != exit_success) {
        return status;
    }
    if (!cmd.quiet) {
        for (const std::string& line : built.report) print_line(line);
        print_line(counted(built.unchanged, "source", "sources") + " unchanged" + (built.copied > 0 ? ", copied" : ""));
    }
    return exit_success;
}

}  // namespace torv::project_cli
