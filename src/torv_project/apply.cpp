// torv-project apply: every patch of a folder or a zip applied to its game
// file, one at a time (a patch, its game file and what it makes in memory at
// once, besides a zip's packed bytes), and the files made put in place all
// together, or none.
#include <algorithm>
#include <functional>
#include <map>
#include <memory>

#include "io/result.h"
#include "io/words.h"
#include "libtorv/project.h"
#include "libtorv/zip.h"
#include "torv_project/commands.h"
#include "torv_project/disk.h"
#include "torv_project/say.h"
#include "torv_project/writer.h"

namespace torv::project_cli {

using namespace libtorv;  // a front end of the library: its names are this file's

namespace {

constexpr std::string_view patch_ending = ".bps";

// The patches given, wherever they are.
struct patch_list {
    std::vector<std::string> names;  // relative, sorted
    std::vector<std::string> refused;
    std::function<result<bytes>(const std::string& name)> read;
};

// The patches of the folder: every plain file whose name ends in .bps, in
// any case. One that is a link or no file is refused, never passed over,
// and so are two for one game file.
patch_list find_patches(const fs::path& folder) {
    patch_list found;
    std::error_code failed;
    for (fs::recursive_directory_iterator entry(folder, failed), end; !failed && entry != end;
         entry.increment(failed)) {
        const std::string name = relative_name(entry->path(), folder);
        if (!torv::lower_case(name).ends_with(patch_ending))
            continue;
        const fs::file_status status = entry->symlink_status(failed);
        if (fs::is_symlink(status)) {
            found.refused.push_back(name + " is a link, which apply does not follow: put the patch itself there");
        } else if (fs::is_directory(status)) {
            found.refused.push_back(name + " is a folder, not a patch");
        } else if (!fs::is_regular_file(status)) {
            found.refused.push_back(name + " is not a plain file");
        } else if (const std::string why = unsafe_path_reason(target_of_patch(name)); !why.empty()) {
            found.refused.push_back(name + ": " + why + ", so it is no patch for a file of the game folder");
        } else {
            found.names.push_back(name);
        }
    }
    if (failed) {
        found.refused.push_back("cannot list " + folder.string() + ": " + failed.message());
    }
    found.read = [folder](const std::string& name) { return read_below(folder, name, largest_patch); };
    std::sort(found.names.begin(), found.names.end());
    std::map<std::string, std::string> targets;  // in lower case -> the patch for it
    for (const std::string& name : found.names) {
        const std::string target = name.substr(0, name.size() - patch_ending.size());
        const auto [taken, fresh] = targets.try_emplace(torv::lower_case(target), name);
        if (!fresh) {
            found.refused.push_back(taken->second + " and " + name + " are both patches for " + target + ": keep one");
        }
    }
    return found;
}

// The patches of a zip: read whole, each unpacked when its turn comes.
patch_list zipped_patches(const fs::path& file) {
    patch_list found;
    constexpr std::uint64_t largest_zip = largest_bundle_contents + (largest_bundle_contents >> 4);
    auto archive = std::make_shared<result<bytes>>(read_file(file, largest_zip));
    if (!*archive) {
        found.refused.push_back(file.string() + ": " + archive->error().words);
        return found;
    }
    const result<zip_patches> listed = patches_of_zip(**archive);
    if (!listed) {
        found.refused.push_back(file.string() + ": " + listed.error().words);
        return found;
    }
    found.names = listed->names;
    for (const std::string& why : listed->refused) found.refused.push_back(file.string() + ": " + why);
    found.read = [archive](const std::string& name) { return patch_of_zip(**archive, name); };
    return found;
}

// The file one patch makes of its game file, staged; or why not. `done`
// says what became of it.
result<> apply_one(const apply_command& cmd, const patch_list& patches, const std::string& name, file_set& set,
                   std::string& done) {
    const std::string target = target_of_patch(name);
    result<bytes> patch = patches.read(name);
    if (!patch)
        return torv::failure_of(patch.error().code, name + ": " + patch.error().words, name);
    const result<patch_facts> facts = facts_of_patch(*patch);
    if (!facts)
        return torv::failure_of(facts.error().code, name + ": " + facts.error().words, name);
    result<bytes> original = read_below(cmd.game, target, largest_patched_file);
    if (!original) {
        return torv::failure_of(original.error().code,
                                name + ": its game file " + target + " is not in " + cmd.game.string() +
                                    " as a plain file (" + original.error().words + ")",
                                name);
    }
    if (const std::vector<std::string> room = lacking_room(cmd.out, facts->target_size); !room.empty()) {
        return torv::failure_of(code::cannot_write, room.front(), target);
    }
    switch (match_of_patch(*facts, *original)) {
        case patch_match::target:
            done = target + ": already patched (it is what " + name + " makes), copied as it is";
            return stage(set, {cmd.out, target}, *original, true);
        case patch_match::source:
        case patch_match::other: break;
    }
    result<bytes> patched = apply_patch(*patch, *original);
    if (!patched) {
        const bool other_version = patched.error().code == code::wrong_source;
        return torv::failure_of(
            patched.error().code,
            name + ": " +
                (other_version ? "it is for another version of " + target + " (" + patched.error().words + ")"
                               : patched.error().words),
            name);
    }
    done = target + ": patched";
    return stage(set, {cmd.out, target}, *patched, true);
}

}  // namespace

int apply_patches(const apply_command& cmd) {
    const bool zipped = is_plain_file(cmd.patches);
    if (!zipped && !is_folder(cmd.patches))
        return fail_with(cmd.patches.string() + " is neither a folder of patches nor a zip of them");
    if (!is_folder(cmd.game))
        return fail_with(cmd.game.string() + " is not a folder");
    std::vector<std::pair<fs::path, std::string>> read = {{cmd.game, "game folder"}};
    if (!zipped)
        read.push_back({cmd.patches, "patch folder"});
    std::vector<std::string> refused = misplaced(cmd.out, "the output folder", read);
    if (zipped && lies_within(cmd.patches, cmd.out)) {
        refused.push_back("the zip " + cmd.patches.string() + " lies within the output folder " + cmd.out.string() +
                          ": put the output elsewhere");
    }
    const patch_list found = zipped ? zipped_patches(cmd.patches) : find_patches(cmd.patches);
    refused.insert(refused.end(), found.refused.begin(), found.refused.end());
    if (found.names.empty() && found.refused.empty()) {
        refused.push_back(cmd.patches.string() + " holds no .bps patch");
    }
    std::vector<destination> destinations;
    for (const std::string& name : found.names) destinations.push_back({cmd.out, target_of_patch(name)});
    const std::vector<std::string> unwritable = refused_destinations(destinations);
    refused.insert(refused.end(), unwritable.begin(), unwritable.end());
    if (!refused.empty()) {
        refused.push_back("nothing was written");
        return fail_with(refused);
    }

    file_set set;
    set.existing = cmd.force ? existing_entry::replace : existing_entry::refuse;
    std::vector<failure> failures;
    std::vector<std::string> report;
    for (const std::string& name : found.names) {
        std::string done;
        if (result<> applied = apply_one(cmd, found, name, set, done); !applied) {
            failures.push_back(applied.error());
        } else {
            report.push_back(done);
        }
    }
    if (!failures.empty()) {
        return fail_with(failures, "nothing was written");
    }
    if (const int placed = place_all(set); placed != exit_success) {
        return placed;
    }
    if (!cmd.quiet) {
        for (const std::string& line : report) print_line(line);
        print_line(counted(report.size(), "file", "files") + " in " + cmd.out.string() +
                   ": copy them over the game's files of the same names to play (keep the originals elsewhere)");
    }
    return exit_success;
}

}  // namespace torv::project_cli
