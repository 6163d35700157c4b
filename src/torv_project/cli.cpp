#include "torv_project/cli.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <future>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/console.h"
#include "format/layouts.h"
#include "io/file_failure.h"
#include "io/input.h"
#include "io/interrupt.h"
#include "io/output_file.h"
#include "io/words.h"
#include "libtorv/pack.h"
#include "libtorv/project.h"
#include "libtorv/unpack.h"

#ifndef TORV_VERSION
#define TORV_VERSION "unknown"
#endif

namespace torv {

namespace {

namespace fs = std::filesystem;
using namespace libtorv;  // a front end of the library: its names are this file's

constexpr int exit_success = 0;
constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

// ---------------------------------------------------------------------------
// Words for the terminal.

// A line as it may be printed: control characters in names never split it.
std::string printable(const std::string& text) {
    std::string out;
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
    cli::write_text(stderr, "torv-project: " + printable(text) + "\n");
}

void print_line(const std::string& text) {
    cli::write_text(stdout, printable(text) + "\n");
}

int fail_with(const std::string& text) {
    say(text);
    return exit_failure;
}

// Every failure of a run, one line each, and its status.
int fail_with(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) say(line);
    return exit_failure;
}

std::string describe(const failure& why) {
    return why.code == code::exists ? why.file + " exists (-f replaces it)" : why.words;
}

// ---------------------------------------------------------------------------
// Folders and files.

// A path within a folder, '/' between its parts, as the manifest keeps it.
std::string relative_name(const fs::path& path, const fs::path& folder) {
    return path.lexically_relative(folder).generic_string();
}

fs::path within(const fs::path& folder, const std::string& relative) {
    return folder / fs::path(relative).make_preferred();
}

bool lower_ends_with(const std::string& name, std::string_view ending) {
    if (name.size() < ending.size())
        return false;
    for (std::size_t k = 0; k < ending.size(); ++k) {
        if (std::tolower(static_cast<unsigned char>(name[name.size() - ending.size() + k])) != ending[k])
            return false;
    }
    return true;
}

result<bytes> read_file(const fs::path& path, std::uint64_t limit) {
    result<whole_file> read = read_whole_file(path.string(), limit);
    if (!read)
        return std::move(read).error();
    if (static_cast<std::uint64_t>(read->size) > limit) {
        failure why = file_failure(code::file_too_large, path.string(),
                                   "it is " + grouped(static_cast<std::int64_t>(read->size)) + " bytes");
        why.needed = read->size;
        return why;
    }
    return std::move(read->bytes);
}

// The largest file a project has: an image, a GIF of thousands of frames.
constexpr std::uint64_t largest_project_file = std::uint64_t{1} << 30;

std::uint64_t largest_layout_size() {
    std::int64_t largest = 0;
    for (const layout* format : all_layouts) largest = std::max(largest, format->file_size);
    return static_cast<std::uint64_t>(largest);
}

bool is_folder(const fs::path& path) {
    std::error_code failed;
    return fs::is_directory(fs::symlink_status(path, failed));
}

// The canonical form of a folder that may not be there yet.
fs::path canonical_of(const fs::path& path) {
    std::error_code failed;
    fs::path made = fs::weakly_canonical(fs::absolute(path, failed), failed);
    return failed ? fs::absolute(path).lexically_normal() : made;
}

// True if `inner` is `outer` or a folder below it.
bool lies_within(const fs::path& inner, const fs::path& outer) {
    const fs::path a = canonical_of(inner);
    const fs::path b = canonical_of(outer);
    auto i = a.begin();
    for (auto o = b.begin(); o != b.end(); ++o, ++i) {
        if (o->empty())
            continue;  // a trailing separator
        if (i == a.end() || *i != *o)
            return false;
    }
    return true;
}

// Makes the folders of `file` within `top`, refusing one that is reached
// through a link out of it.
result<> make_folders_for(const fs::path& file, const fs::path& top) {
    std::error_code failed;
    fs::create_directories(file.parent_path(), failed);
    if (failed) {
        return file_failure(code::cannot_create, file.parent_path().string(), failed.message());
    }
    if (!lies_within(file.parent_path(), top)) {
        return file_failure(code::cannot_create, file.string(), "a link leads it out of " + top.string());
    }
    return {};
}

result<> write_new_file(const fs::path& path, std::span<const std::uint8_t> contents, const fs::path& top,
                        existing_entry existing) {
    if (result<> made = make_folders_for(path, top); !made)
        return made;
    const std::span<const std::uint8_t> parts[] = {contents};
    return write_whole_file(path.string(), parts, existing);
}

// A manifest's project: its folder and what it says.
struct project {
    fs::path folder;
    project_manifest manifest;
};

result<project> open_project(const fs::path& folder) {
    const fs::path manifest_path = folder / std::string(manifest_name);
    result<bytes> text = read_file(manifest_path, largest_project_file);
    if (!text) {
        if (text.error().code == code::cannot_open && !fs::exists(fs::symlink_status(manifest_path))) {
            return failure_of(code::bad_project, folder.string() + " has no " + std::string(manifest_name) +
                                                     ": it is no project, or its unpacking did not finish");
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
    return project{folder, std::move(*read)};
}

// The project files of a source, by their names within its folder.
image_folder folder_of_source(const fs::path& folder) {
    image_folder files;
    files.has = [folder](const std::string& name) {
        std::error_code failed;
        return fs::is_regular_file(fs::symlink_status(folder / name, failed));
    };
    files.read = [folder](const std::string& name, std::uint64_t max_bytes) -> result<bytes> {
        return read_file(folder / name, max_bytes);
    };
    return files;
}

// ---------------------------------------------------------------------------
// unpack

struct unpack_command {
    fs::path game;
    fs::path project;
    bool bmp = false;
    bool gif = false;
    unsigned jobs = 0;
    bool quiet = false;
};

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

int unpack_game(const unpack_command& cmd) {
    if (!is_folder(cmd.game)) {
        return fail_with(cmd.game.string() + " is not a folder");
    }
    if (fs::exists(fs::symlink_status(cmd.project))) {
        std::error_code failed;
        if (!is_folder(cmd.project) || !fs::is_empty(cmd.project, failed)) {
            return fail_with(cmd.project.string() + " is there and not an empty folder: a project goes into a new one");
        }
    }
    if (lies_within(cmd.project, cmd.game)) {
        return fail_with("the project " + cmd.project.string() + " would lie within the game folder " +
                         cmd.game.string());
    }
    result<game_sources> found = find_sources(cmd.game);
    if (!found)
        return fail_with(found.error().words);
    std::map<std::string, std::string> folders;  // images' folder -> source, for two sources of one folder
    for (const std::string& source : found->sources) {
        const auto [taken, fresh] = folders.try_emplace(project_folder_of(source), source);
        if (!fresh) {
            return fail_with(taken->second + " and " + source + " would share the folder " + taken->first +
                             ": rename one of them");
        }
    }
    std::error_code failed;
    fs::create_directories(cmd.project, failed);
    if (failed)
        return fail_with("cannot create " + cmd.project.string() + ": " + failed.message());

    const unsigned jobs = cmd.jobs != 0 ? cmd.jobs : std::max(1u, std::thread::hardware_concurrency());
    project_manifest manifest;
    manifest.tool = TORV_VERSION;
    manifest.images = cmd.bmp ? image_format::bmp : image_format::png;
    std::size_t images = 0;
    // Each folder is made and checked once, not once for each of its images.
    std::set<fs::path> folders_made;
    auto write_image = [&](const fs::path& path, std::span<const std::uint8_t> contents) -> result<> {
        if (!folders_made.contains(path.parent_path())) {
            if (result<> made = make_folders_for(path, cmd.project); !made)
                return made;
            folders_made.insert(path.parent_path());
        }
        const std::span<const std::uint8_t> parts[] = {contents};
        return write_whole_file(path.string(), parts, existing_entry::refuse);
    };
    for (const std::string& name : found->sources) {
        result<bytes> file = read_file(within(cmd.game, name), largest_layout_size());
        if (!file)
            return fail_with(file.error().words);
        const fs::path folder = within(cmd.project, project_folder_of(name));
        result<project_source> unpacked =
            unpack_to_project(name, *file, manifest.images, cmd.gif, jobs,
                              [&](const project_file& made) { return write_image(folder / made.name, made.contents); });
        if (!unpacked)
            return fail_with(describe(unpacked.error()));
        images += unpacked->images.size();
        if (!cmd.quiet) {
            print_line(name + ": " + unpacked->layout + ", " + counted(unpacked->images.size(), "image", "images") +
                       (unpacked->animation ? " and " + unpacked->animation->file : std::string()));
        }
        manifest.sources.push_back(std::move(*unpacked));
    }
    // The manifest last, whole: a project without one is unfinished.
    const std::string text = manifest_json(manifest);
    const std::span<const std::uint8_t> parts[] = {{reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}};
    if (result<> written =
            write_whole_file((cmd.project / std::string(manifest_name)).string(), parts, existing_entry::refuse);
        !written) {
        return fail_with(describe(written.error()));
    }
    if (!cmd.quiet) {
        print_line(counted(manifest.sources.size(), "source", "sources") + ", " + counted(images, "image", "images") +
                   " in " + cmd.project.string() + " (as " + (cmd.bmp ? "BMP" : "PNG") + ")");
        if (!found->other_sizes.empty()) {
            print_line("left alone, being the size of no layout: " +
                       counted(found->other_sizes.size(), "file", "files") + " (" + listed(found->other_sizes) + ")");
        }
        if (found->links > 0) {
            print_line("not followed: " + counted(found->links, "link", "links"));
        }
    }
    return exit_success;
}

// ---------------------------------------------------------------------------
// status

// What changed in a project, source by source.
struct source_state {
    const project_source* source = nullptr;
    std::vector<std::string> changed;
    std::vector<std::string> missing;  // with the reason
};

std::vector<source_state> states_of(const project& open, unsigned jobs) {
    std::vector<source_state> states;
    for (const project_source& source : open.manifest.sources) {
        const fs::path folder = within(open.folder, source.folder);
        source_state state{&source, {}, {}};
        const auto found = image_states(
            source, [&](const std::string& name) { return read_file(folder / name, largest_project_file); }, jobs);
        for (std::size_t k = 0; k < found.size(); ++k) {
            const std::string& file = source.images[k].file;
            switch (found[k].first) {
                case image_state::unchanged: break;
                case image_state::changed: state.changed.push_back(file); break;
                case image_state::missing: state.missing.push_back(file + " is missing"); break;
                case image_state::unreadable: state.missing.push_back(file + ": " + found[k].second); break;
            }
        }
        states.push_back(std::move(state));
    }
    return states;
}

// The project's files that the manifest does not name.
std::vector<std::string> unnamed_files(const project& open) {
    std::vector<std::string> named = {std::string(manifest_name)};
    for (const project_source& source : open.manifest.sources) {
        for (const project_image& image : source.images) named.push_back(source.folder + "/" + image.file);
        if (source.animation)
            named.push_back(source.folder + "/" + source.animation->file);
    }
    std::sort(named.begin(), named.end());
    std::vector<std::string> others;
    std::error_code failed;
    for (fs::recursive_directory_iterator entry(open.folder, failed), end; !failed && entry != end;
         entry.increment(failed)) {
        if (fs::is_directory(entry->symlink_status(failed)))
            continue;
        const std::string name = relative_name(entry->path(), open.folder);
        if (!std::binary_search(named.begin(), named.end(), name))
            others.push_back(name);
    }
    std::sort(others.begin(), others.end());
    return others;
}

// The manifest's sources whose game file is not the one the project was made
// from (or is not there), each with why.
std::vector<std::string> changed_originals(const project& open, const fs::path& game,
                                           const std::vector<std::string>& checked_elsewhere = {}) {
    std::vector<std::string> lines;
    for (const project_source& source : open.manifest.sources) {
        if (std::find(checked_elsewhere.begin(), checked_elsewhere.end(), source.path) != checked_elsewhere.end()) {
            continue;
        }
        result<bytes> file = read_file(within(game, source.path), largest_layout_size());
        if (!file) {
            lines.push_back(source.path + " is not in " + game.string() + " (" + file.error().words + ")");
        } else if (static_cast<std::int64_t>(file->size()) != source.size || sha256_of(*file) != source.sha256) {
            lines.push_back(game.string() + ": " + source.path + " is not the file the project was made from");
        }
    }
    return lines;
}

int show_status(const fs::path& folder, const std::optional<fs::path>& game) {
    result<project> open = open_project(folder);
    if (!open)
        return fail_with(open.error().words);
    bool any = false;
    std::size_t images = 0;
    for (const source_state& state : states_of(*open, std::max(1u, std::thread::hardware_concurrency()))) {
        images += state.source->images.size();
        if (!state.changed.empty()) {
            print_line(state.source->path + ": " + counted(state.changed.size(), "image", "images") +
                       " changed: " + listed(state.changed));
            any = true;
        }
        for (const std::string& missing : state.missing) {
            print_line(state.source->path + ": " + missing);
            any = true;
        }
    }
    for (const std::string& other : unnamed_files(*open)) {
        print_line("ignored, not in the manifest: " + other);
        any = true;
    }
    if (game) {
        for (const std::string& line : changed_originals(*open, *game)) {
            print_line(line);
            any = true;
        }
    }
    if (!any) {
        print_line("no changes: " + counted(open->manifest.sources.size(), "source", "sources") + ", " +
                   counted(images, "image", "images") + " as they were unpacked");
    }
    return exit_success;
}

// ---------------------------------------------------------------------------
// build and apply

// Files to put in place, all or none.
struct planned_file {
    fs::path path;
    bytes contents;
};

// Checks that none of the files is there (unless `force`), then writes them
// all; on a failure, says which ones are in place.
int write_all_or_nothing(const std::vector<planned_file>& files, const fs::path& top, bool force) {
    std::vector<std::string> there;
    for (const planned_file& file : files) {
        if (!force && fs::exists(fs::symlink_status(file.path)))
            there.push_back(file.path.string() + " exists (-f replaces it)");
    }
    if (!there.empty())
        return fail_with(there);
    for (std::size_t k = 0; k < files.size(); ++k) {
        const result<> written = write_new_file(files[k].path, files[k].contents, top,
                                                force ? existing_entry::replace : existing_entry::refuse);
        if (!written) {
            std::vector<std::string> lines = {describe(written.error())};
            if (k > 0)
                lines.push_back("written before it: " + counted(k, "file", "files"));
            return fail_with(lines);
        }
    }
    return exit_success;
}

struct build_command {
    fs::path project_folder;
    fs::path game;
    fs::path out;
    std::optional<fs::path> patches;
    bool nearest = false;
    bool copy_unchanged = false;
    bool force = false;
    unsigned jobs = 0;
    bool quiet = false;
};

// OUT_DIR (or PATCH_DIR) may not lie within the folders a run reads.
std::vector<std::string> misplaced(const fs::path& out, const char* what,
                                   std::initializer_list<std::pair<fs::path, const char*>> read) {
    std::vector<std::string> lines;
    for (const auto& [folder, name] : read) {
        if (lies_within(out, folder)) {
            lines.push_back(std::string(what) + " " + out.string() + " lies within the " + name + " " +
                            folder.string() + ": choose one outside it");
        }
    }
    return lines;
}

int build_game(const build_command& cmd) {
    result<project> open = open_project(cmd.project_folder);
    if (!open)
        return fail_with(open.error().words);
    std::vector<std::string> refused =
        misplaced(cmd.out, "the output folder", {{cmd.game, "game folder"}, {cmd.project_folder, "project"}});
    if (cmd.patches) {
        const std::vector<std::string> more =
            misplaced(*cmd.patches, "the patch folder", {{cmd.game, "game folder"}, {cmd.project_folder, "project"}});
        refused.insert(refused.end(), more.begin(), more.end());
    }
    // Every original must be the file the project was made from: those of
    // sources to build are checked as they are built (reading each once).
    const unsigned jobs = cmd.jobs != 0 ? cmd.jobs : std::max(1u, std::thread::hardware_concurrency());
    const std::vector<source_state> states = states_of(*open, jobs);
    std::vector<std::string> to_build;
    for (const source_state& state : states) {
        if (!state.changed.empty())
            to_build.push_back(state.source->path);
    }
    if (!refused.empty()) {
        refused.push_back("nothing was written");
        return fail_with(refused);
    }
    // The other originals are read and hashed on a thread of their own while
    // the sources are built; nothing is written before both are done.
    std::future<std::vector<std::string>> originals =
        std::async(std::launch::async, [&] { return changed_originals(*open, cmd.game, to_build); });

    pack_settings settings;
    settings.nearest = cmd.nearest;
    settings.jobs = jobs;
    std::vector<planned_file> outputs;
    std::vector<planned_file> patches;
    std::vector<std::string> failures;
    std::vector<std::string> report;
    std::size_t unchanged = 0;
    for (const source_state& state : states) {
        const project_source& source = *state.source;
        if (!state.missing.empty()) {
            for (const std::string& missing : state.missing) failures.push_back(source.path + ": " + missing);
            continue;
        }
        result<bytes> original = read_file(within(cmd.game, source.path), largest_layout_size());
        if (!original) {
            failures.push_back(original.error().words);
            continue;
        }
        if (state.changed.empty()) {
            ++unchanged;
            if (cmd.copy_unchanged)
                outputs.push_back({within(cmd.out, source.path), std::move(*original)});
            continue;
        }
        result<built_source> built = build_from_project(
            source, *original, state.changed, folder_of_source(within(open->folder, source.folder)), settings);
        if (!built) {
            failures.push_back(built.error().words);
            continue;
        }
        report.push_back(build_line(source, state.changed, *built));
        if (built->same_as_original) {
            ++unchanged;
            if (cmd.copy_unchanged)
                outputs.push_back({within(cmd.out, source.path), std::move(*original)});
            continue;
        }
        if (cmd.patches) {
            bytes patch = bps_patch(*original, built->packed);
            report.push_back(source.path + ".bps: " + grouped(static_cast<std::int64_t>(patch.size())) + " bytes");
            patches.push_back({within(*cmd.patches, source.path + ".bps"), std::move(patch)});
        }
        outputs.push_back({within(cmd.out, source.path), std::move(built->packed)});
    }
    const std::vector<std::string> changed = originals.get();
    failures.insert(failures.begin(), changed.begin(), changed.end());
    if (!failures.empty()) {
        failures.push_back("nothing was written");
        return fail_with(failures);
    }
    std::vector<planned_file> all = std::move(outputs);
    const std::size_t files_out = all.size();
    for (planned_file& patch : patches) all.push_back(std::move(patch));
    std::vector<std::string> there;
    for (std::size_t k = 0; k < all.size(); ++k) {
        if (!cmd.force && fs::exists(fs::symlink_status(all[k].path))) {
            there.push_back(all[k].path.string() + " exists (-f replaces it)");
        }
    }
    if (!there.empty()) {
        there.push_back("nothing was written");
        return fail_with(there);
    }
    for (std::size_t k = 0; k < all.size(); ++k) {
        const fs::path& top = k < files_out ? cmd.out : *cmd.patches;
        const std::vector<planned_file> one = {std::move(all[k])};
        if (const int status = write_all_or_nothing(one, top, cmd.force); status != exit_success) {
            return status;
        }
    }
    if (!cmd.quiet) {
        for (const std::string& line : report) print_line(line);
        print_line(counted(unchanged, "source", "sources") + " unchanged" +
                   (cmd.copy_unchanged && unchanged > 0 ? ", copied" : ""));
    }
    return exit_success;
}

struct apply_command {
    fs::path patches;
    fs::path game;
    fs::path out;
    bool force = false;
    bool quiet = false;
};

int apply_patches(const apply_command& cmd) {
    if (!is_folder(cmd.patches))
        return fail_with(cmd.patches.string() + " is not a folder");
    std::vector<std::string> refused =
        misplaced(cmd.out, "the output folder", {{cmd.game, "game folder"}, {cmd.patches, "patch folder"}});
    if (!refused.empty())
        return fail_with(refused);
    std::vector<std::string> names;
    std::error_code failed;
    for (fs::recursive_directory_iterator entry(cmd.patches, failed), end; !failed && entry != end;
         entry.increment(failed)) {
        if (fs::is_regular_file(entry->symlink_status(failed)) && lower_ends_with(entry->path().string(), ".bps")) {
            names.push_back(relative_name(entry->path(), cmd.patches));
        }
    }
    if (failed)
        return fail_with("cannot list " + cmd.patches.string() + ": " + failed.message());
    if (names.empty())
        return fail_with(cmd.patches.string() + " holds no .bps patch");
    std::sort(names.begin(), names.end());
    std::vector<planned_file> outputs;
    std::vector<std::string> failures;
    for (const std::string& name : names) {
        const std::string target = name.substr(0, name.size() - 4);
        result<bytes> patch = read_file(within(cmd.patches, name), largest_project_file);
        if (!patch) {
            failures.push_back(patch.error().words);
            continue;
        }
        result<bytes> original = read_file(within(cmd.game, target), largest_project_file);
        if (!original) {
            failures.push_back(name + ": its game file " + target + " is not in " + cmd.game.string() + " (" +
                               original.error().words + ")");
            continue;
        }
        result<bytes> patched = apply_patch(*patch, *original);
        if (!patched) {
            failures.push_back(name + ": " +
                               (patched.error().code == code::wrong_source
                                    ? "it is for another version of " + target + " (" + patched.error().words + ")"
                                    : patched.error().words));
            continue;
        }
        outputs.push_back({within(cmd.out, target), std::move(*patched)});
    }
    if (!failures.empty()) {
        failures.push_back("nothing was written");
        return fail_with(failures);
    }
    if (const int status = write_all_or_nothing(outputs, cmd.out, cmd.force); status != exit_success) {
        return status;
    }
    if (!cmd.quiet) {
        for (const planned_file& file : outputs) print_line(relative_name(file.path, cmd.out) + ": patched");
        print_line(counted(outputs.size(), "file", "files") + " patched into " + cmd.out.string());
    }
    return exit_success;
}

// ---------------------------------------------------------------------------
// The command line.

int run_command(int argc, char** argv) {
    CLI::App app{
        "torv-project: a whole game's image data files as a project of editable images, built back "
        "where they changed, and BPS patches of what changed"};
    app.set_version_flag("-V,--version", std::string("torv-project ") + TORV_VERSION);
    app.require_subcommand(1);
    app.name("torv-project");

    unpack_command unpack;
    std::string game_dir, project_dir, out_dir, patch_dir;
    CLI::App* unpacking = app.add_subcommand("unpack", "writes every source of GAME_DIR as images into PROJECT_DIR");
    unpacking->add_option("GAME_DIR", game_dir, "the game's folder")->required();
    unpacking->add_option("PROJECT_DIR", project_dir, "a new or empty folder for the project")->required();
    unpacking->add_flag("--bmp", unpack.bmp, "the images as BMP files (default: indexed PNG)");
    unpacking->add_flag("--gif", unpack.gif, "each frame sequence also as <stem>.gif, 12 frames a second");
    unpacking->add_option("-j,--jobs", unpack.jobs, "threads (default: all cores)")->check(CLI::Range(1, 1024));
    unpacking->add_flag("-q,--quiet", unpack.quiet, "no report");

    std::string status_project, status_game;
    CLI::App* status = app.add_subcommand("status", "lists what changed in PROJECT_DIR");
    status->add_option("PROJECT_DIR", status_project, "the project")->required();
    status->add_option("GAME_DIR", status_game, "the game's folder, to check its files against the project's");

    build_command build;
    std::string build_project, build_game_dir, build_out, build_patches;
    CLI::App* building = app.add_subcommand("build", "packs every source whose images changed into OUT_DIR");
    building->add_option("PROJECT_DIR", build_project, "the project")->required();
    building->add_option("GAME_DIR", build_game_dir, "the game's folder, with the files the project was made from")
        ->required();
    building->add_option("OUT_DIR", build_out, "where the rebuilt files go, by their paths in GAME_DIR")->required();
    building->add_flag("--nearest", build.nearest, "colours the palette lacks go to the nearest entry");
    building->add_option("--patch", build_patches, "also a BPS patch of each rebuilt file, as PATCH_DIR/<path>.bps");
    building->add_flag("--copy-unchanged", build.copy_unchanged, "copy the unchanged sources into OUT_DIR too");
    building->add_flag("-f,--force", build.force, "replace files in OUT_DIR (and PATCH_DIR)");
    building->add_option("-j,--jobs", build.jobs, "threads for compressing (default: all cores)")
        ->check(CLI::Range(1, 1024));
    building->add_flag("-q,--quiet", build.quiet, "no report");

    apply_command apply;
    std::string apply_patches_dir, apply_game, apply_out;
    CLI::App* applying = app.add_subcommand("apply", "applies every .bps of PATCH_DIR to its file of GAME_DIR");
    applying->add_option("PATCH_DIR", apply_patches_dir, "the patches, by the paths of their files")->required();
    applying->add_option("GAME_DIR", apply_game, "the game's folder")->required();
    applying->add_option("OUT_DIR", apply_out, "where the patched files go")->required();
    applying->add_flag("-f,--force", apply.force, "replace files in OUT_DIR");
    applying->add_flag("-q,--quiet", apply.quiet, "no report");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& asked) {
        return app.exit(asked);
    } catch (const CLI::CallForAllHelp& asked) {
        return app.exit(asked);
    } catch (const CLI::CallForVersion& asked) {
        return app.exit(asked);
    } catch (const CLI::ParseError& wrong) {
        say(std::string(wrong.what()) + " (try 'torv-project --help')");
        return exit_usage;
    }
    if (unpacking->parsed()) {
        unpack.game = game_dir;
        unpack.project = project_dir;
        return unpack_game(unpack);
    }
    if (status->parsed()) {
        return show_status(status_project,
                           status_game.empty() ? std::optional<fs::path>() : std::optional<fs::path>(status_game));
    }
    if (building->parsed()) {
        build.project_folder = build_project;
        build.game = build_game_dir;
        build.out = build_out;
        if (!build_patches.empty())
            build.patches = fs::path(build_patches);
        return build_game(build);
    }
    apply.patches = apply_patches_dir;
    apply.game = apply_game;
    apply.out = apply_out;
    return apply_patches(apply);
}

}  // namespace

int run_project(int argc, char** argv) {
    constexpr std::size_t least_memory = 4 << 20;
    if (!cli::memory_to_start(least_memory)) {
        return fail_with("out of memory");
    }
    install_interrupt_cleanup();
    try {
        return run_command(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail_with("out of memory");
    }
}

}  // namespace torv
