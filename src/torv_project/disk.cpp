#include "torv_project/disk.h"

#include <algorithm>

#include "format/layouts.h"
#include "io/file_failure.h"
#include "io/input.h"
#include "io/words.h"

namespace torv::project_cli {

namespace {

using libtorv::bytes;
using libtorv::code;
using libtorv::result;

// The canonical form of a folder that may not be there yet.
fs::path canonical_of(const fs::path& path) {
    std::error_code failed;
    fs::path made = fs::weakly_canonical(fs::absolute(path, failed), failed);
    return failed ? fs::absolute(path).lexically_normal() : made;
}

#ifdef _WIN32
// Characters no part of a Windows name may hold: each would be read as
// something else.
constexpr std::string_view not_in_windows_names = "\\:*?\"<>|";
#endif

bool is_link(const fs::path& path) {
    std::error_code failed;
    return fs::is_symlink(fs::symlink_status(path, failed));
}

}  // namespace

std::string relative_name(const fs::path& path, const fs::path& folder) {
    return path.lexically_relative(folder).generic_string();
}

result<fs::path> below(const fs::path& folder, const std::string& relative) {
#ifdef _WIN32
    for (const char c : relative) {
        if (static_cast<unsigned char>(c) < 0x20 || not_in_windows_names.find(c) != std::string_view::npos) {
            return file_failure(code::cannot_open, relative, "Windows has no file of that name");
        }
    }
#endif
    fs::path made = folder;
    try {
        std::size_t from = 0;
        while (from <= relative.size()) {
            const std::size_t to = std::min(relative.find('/', from), relative.size());
            made /= fs::path(relative.substr(from, to - from));
            from = to + 1;
        }
    } catch (const std::exception&) {
        // A name this system cannot take (bytes that are not UTF-8, on Windows).
        return file_failure(code::cannot_open, relative, "this system has no file of that name");
    }
    return made;
}

bool is_folder(const fs::path& path) {
    std::error_code failed;
    return fs::is_directory(fs::status(path, failed));
}

bool is_plain_file(const fs::path& path) {
    std::error_code failed;
    return fs::is_regular_file(fs::status(path, failed));
}

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

std::vector<std::string> misplaced(const fs::path& folder, const std::string& what,
                                   const std::vector<std::pair<fs::path, std::string>>& read) {
    std::vector<std::string> lines;
    for (const auto& [other, name] : read) {
        if (lies_within(folder, other)) {
            lines.push_back(what + " " + folder.string() + " lies within the " + name + " " + other.string() +
                            ": choose one outside it");
        } else if (lies_within(other, folder)) {
            lines.push_back(what + " " + folder.string() + " holds the " + name + " " + other.string() +
                            ": choose one outside it");
        }
    }
    return lines;
}

result<bytes> read_file(const fs::path& path, std::uint64_t limit) {
    result<whole_file> read = read_whole_file(path.string(), limit);
    if (!read)
        return std::move(read).error();
    if (static_cast<std::uint64_t>(read->size) > limit) {
        libtorv::failure why = file_failure(code::file_too_large, path.string(),
                                            "it is " + grouped(static_cast<std::int64_t>(read->size)) + " bytes");
        why.needed = read->size;
        return why;
    }
    return std::move(read->bytes);
}

result<bytes> read_below(const fs::path& top, const std::string& relative, std::uint64_t limit) {
    result<fs::path> path = below(top, relative);
    if (!path)
        return path.error();
    fs::path at = top;
    for (const fs::path& part : fs::path(*path).lexically_relative(top)) {
        at /= part;
        if (is_link(at)) {
            return file_failure(code::not_a_file, path->string(),
                                relative_name(at, top) + " is a link, which torv-project does not follow");
        }
    }
    return read_file(*path, limit);
}

libtorv::project_folder project_on_disk(const fs::path& folder) {
    libtorv::project_folder files;
    files.list = [folder](const std::string& name) -> result<std::vector<libtorv::folder_entry>> {
        std::vector<libtorv::folder_entry> entries;
        result<fs::path> path = below(folder, name);
        if (!path)
            return path.error();
        std::error_code failed;
        if (!fs::exists(fs::symlink_status(*path, failed))) {
            return entries;  // a folder that is not there holds nothing
        }
        if (is_link(*path)) {
            return file_failure(code::cannot_list, path->string(), "it is a link, which torv-project does not follow");
        }
        for (fs::directory_iterator entry(*path, failed), end; !failed && entry != end; entry.increment(failed)) {
            libtorv::folder_entry found;
            found.name = entry->path().filename().string();
            const fs::file_status status = entry->symlink_status(failed);
            if (failed)
                break;
            using kind = libtorv::folder_entry::kind;
            found.type = fs::is_symlink(status)        ? kind::link
                         : fs::is_directory(status)    ? kind::folder
                         : fs::is_regular_file(status) ? kind::file
                                                       : kind::other;
            if (found.type == kind::file) {
                found.size = static_cast<std::int64_t>(entry->file_size(failed));
                if (failed)
                    break;
            }
            entries.push_back(std::move(found));
        }
        if (failed) {
            return file_failure(code::cannot_list, path->string(), failed.message());
        }
        return entries;
    };
    files.read = [folder](const std::string& path, std::uint64_t max_bytes) {
        return read_below(folder, path, max_bytes);
    };
    return files;
}

libtorv::game_reader game_on_disk(const fs::path& game) {
    return [game](const std::string& path) -> result<bytes> {
        result<bytes> file = read_below(game, path, largest_source_file());
        if (!file) {
            libtorv::failure why = std::move(file).error();
            why.words = path + " is not in " + game.string() + " as a plain file (" + why.words + ")";
            return why;
        }
        return file;
    };
}

std::vector<std::string> all_files(const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code failed;
    for (fs::recursive_directory_iterator entry(folder, failed), end; !failed && entry != end;
         entry.increment(failed)) {
        if (!fs::is_directory(entry->symlink_status(failed)))
            found.push_back(relative_name(entry->path(), folder));
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::uint64_t largest_source_file() {
    std::int64_t largest = 0;
    for (const layout* format : all_layouts) largest = std::max(largest, format->file_size);
    return static_cast<std::uint64_t>(largest);
}

}  // namespace torv::project_cli
