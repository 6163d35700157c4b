#include "io/file_set.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "io/file_failure.h"
#include "io/interrupt.h"
#include "io/words.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace torv {

namespace {

// Unnamed temporaries each hold a handle until they are put in place; past
// so many (half of what the system lets a process open, at most this many),
// the oldest are given names so that their handles can close.
constexpr std::size_t most_handles_held = 4096;
constexpr std::size_t least_handles_held = 64;

std::size_t handles_to_hold() {
#ifdef _WIN32
    return least_handles_held;
#else
    static const std::size_t held = [] {
        struct rlimit limit {};
        if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return most_handles_held;
        return std::clamp<std::size_t>(static_cast<std::size_t>(limit.rlim_cur / 2), least_handles_held,
                                       most_handles_held);
    }();
    return held;
#endif
}

enum class entry_kind : std::uint8_t { none, folder, file, link, other };

#ifdef _WIN32

entry_kind kind_of(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return entry_kind::none;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return entry_kind::link;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? entry_kind::folder : entry_kind::file;
}

bool make_folder(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool folder_was_there() {
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

void remove_folder(const std::string& path) {
    RemoveDirectoryA(path.c_str());
}

bool keep_by_link(const std::string& from, const std::string& to) {
    return CreateHardLinkA(to.c_str(), from.c_str(), nullptr) != 0;
}

bool move_over(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool remove_entry(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0;
}

std::string last_reason() {
    return "system error " + std::to_string(GetLastError());
}

#else

entry_kind kind_of(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return entry_kind::none;
    }
    if (S_ISLNK(status.st_mode)) {
        return entry_kind::link;
    }
    if (S_ISDIR(status.st_mode)) {
        return entry_kind::folder;
    }
    return S_ISREG(status.st_mode) ? entry_kind::file : entry_kind::other;
}

bool make_folder(const std::string& path) {
    return mkdir(path.c_str(), 0777) == 0;
}

bool folder_was_there() {
    return errno == EEXIST;
}

void remove_folder(const std::string& path) {
    rmdir(path.c_str());
}

bool keep_by_link(const std::string& from, const std::string& to) {
    return link(from.c_str(), to.c_str()) == 0;
}

bool move_over(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool remove_entry(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

std::string last_reason() {
    return system_reason(errno);
}

#endif

bool is_separator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// The folder that holds `path`: "" for a bare name.
std::string parent_of(const std::string& path) {
    std::size_t cut = path.size();
    while (cut > 0 && !is_separator(path[cut - 1])) --cut;
    while (cut > 1 && is_separator(path[cut - 1])) --cut;  // "a//b": "a"
    if (cut == 1 && is_separator(path[0])) {
        return path.substr(0, 1);
    }
    return cut == 0 ? std::string() : path.substr(0, cut);
}

// `path` and the folders above it that are not there, the outermost first,
// up to the nearest one that is there (which is returned too, as `there`).
std::vector<std::string> missing_folders(const std::string& path, std::string& there) {
    std::vector<std::string> missing;
    std::string at = path;
    while (!at.empty() && kind_of(at) == entry_kind::none) {
        missing.insert(missing.begin(), at);
        const std::string up = parent_of(at);
        if (up == at)
            break;
        at = up;
    }
    there = at;
    return missing;
}

std::string with_separator(const std::string& folder) {
    return folder.empty() || is_separator(folder.back()) ? folder : folder + "/";
}

failure refused_at(const std::string& name, const std::string& reason) {
    return file_failure(code::cannot_create, name, reason);
}

// Makes the folders `file` needs, noting each made in `set`.
result<> make_folders_for(file_set& set, const std::string& file) {
    constexpr std::size_t folders_remembered = 8;
    const std::string needed = parent_of(file);
    if (std::find(set.folders_ready.begin(), set.folders_ready.end(), needed) != set.folders_ready.end()) {
        return {};  // made or found for a file before
    }
    if (set.folders_ready.size() == folders_remembered) {
        set.folders_ready.erase(set.folders_ready.begin());
    }
    set.folders_ready.push_back(needed);
    std::string there;
    for (const std::string& folder : missing_folders(parent_of(file), there)) {
        if (make_folder(folder)) {
            set.folders_made.push_back(folder);
        } else if (!folder_was_there() || kind_of(folder) != entry_kind::folder) {
            return refused_at(folder, last_reason());
        }
    }
    // Made meanwhile by another, as a link: nothing is written through it.
    for (std::string at = parent_of(file); !at.empty() && at != there; at = parent_of(at)) {
        if (kind_of(at) != entry_kind::folder) {
            return refused_at(file, at + " is a link or no folder, and is never written through");
        }
    }
    return {};
}

struct taken_back {
    std::size_t removed = 0;
    std::size_t restored = 0;
    std::vector<std::string> not_taken_back;
};

// Gives the file at `name` its old contents, kept as `kept`.
bool restore(const std::string& kept, const std::string& name) {
    return move_over(kept, name);
}

// Takes back the first `count` files of the set, and the folders made.
taken_back take_back(file_set& set, std::size_t count) {
    taken_back done;
    for (std::size_t k = count; k-- > 0;) {
        staged_file& file = set.files[k];
        const std::string& name = file.out.final_name;
        const bool ok = file.kept_name.empty() ? remove_entry(name) : restore(file.kept_name, name);
        if (!ok) {
            done.not_taken_back.push_back(name + " (" + last_reason() + ")");
        } else if (file.kept_name.empty()) {
            ++done.removed;
        } else {
            ++done.restored;
            file.kept_name.clear();
        }
    }
    for (auto folder = set.folders_made.rbegin(); folder != set.folders_made.rend(); ++folder) {
        remove_folder(*folder);
    }
    set.folders_made.clear();
    return done;
}

std::string said(const taken_back& done) {
    std::string text;
    if (done.removed + done.restored > 0) {
        text += "; " + counted(done.removed + done.restored, "file", "files") + " put in place before it " +
                (done.removed + done.restored == 1 ? "was" : "were") + " taken back";
        if (done.restored > 0) {
            text += " (" + counted(done.restored, "replaced file", "replaced files") + " given " +
                    (done.restored == 1 ? "its" : "their") + " old contents again)";
        }
    }
    if (!done.not_taken_back.empty()) {
        text += "; could not be taken back: " + listed(done.not_taken_back);
    }
    return text;
}

// Keeps the old contents of a file about to be replaced under a name of its
// own beside it: a second link where the system has them, else the file
// itself moved there (the name is empty for a moment).
result<> keep_old_contents(staged_file& file) {
    const std::string& name = file.out.final_name;
    const entry_kind kind = kind_of(name);
    if (kind == entry_kind::none) {
        return {};
    }
    if (kind == entry_kind::folder) {
        return refused_at(name, "it is a folder");
    }
    const std::string folder = with_separator(parent_of(name));
    const std::string kept = temporary_name(folder, name.size() - folder.size());
    if (!keep_by_link(name, kept) && !move_over(name, kept)) {
        return file_failure(code::cannot_place, name, "its old contents could not be kept: " + last_reason());
    }
    file.kept_name = kept;
    return {};
}

}  // namespace

std::string destination_name(const std::string& folder, const std::string& relative) {
    return with_separator(folder) + relative;
}

result<> check_destination(const std::string& folder, const std::string& relative, existing_entry existing) {
    const std::string name = destination_name(folder, relative);
    const entry_kind top = folder.empty() ? entry_kind::folder : kind_of(folder);
    if (top == entry_kind::file || top == entry_kind::other) {
        return refused_at(name, folder + " is a file, not a folder");
    }
    if (top == entry_kind::none) {
        std::string there;
        missing_folders(folder, there);
        if (!there.empty() && kind_of(there) != entry_kind::folder && kind_of(there) != entry_kind::link) {
            return refused_at(name, there + " is a file, not a folder");
        }
        return {};
    }
    std::string at = with_separator(folder);
    for (std::size_t from = 0; from < relative.size();) {
        const std::size_t to = std::min(relative.find('/', from), relative.size());
        at += relative.substr(from, to - from);
        const bool last = to == relative.size();
        const entry_kind kind = kind_of(at);
        if (kind == entry_kind::none) {
            return {};
        }
        if (!last && kind == entry_kind::link) {
            return refused_at(name, at + " is a link, and nothing is written through one");
        }
        if (!last && kind != entry_kind::folder) {
            return refused_at(name, at + " is a file, not a folder");
        }
        if (last && existing == existing_entry::refuse) {
            return file_failure(code::exists, name);
        }
        if (last && kind == entry_kind::folder) {
            return refused_at(name, "it is a folder");
        }
        if (last && kind == entry_kind::other) {
            return refused_at(name, "it is no plain file");
        }
        at += '/';
        from = to + 1;
    }
    return {};
}

result<> check_room(const std::string& path, std::uint64_t bytes) {
    std::string there;
    missing_folders(path, there);
    const std::string disk_of = there.empty() ? std::string(".") : there;
    std::uint64_t free_bytes = 0;
#if defined(_WIN32)
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExA(disk_of.c_str(), &available, nullptr, nullptr)) {
        return {};
    }
    free_bytes = available.QuadPart;
#elif defined(__EMSCRIPTEN__)
    return {};  // the system does not say
#else
    struct statvfs disk {};
    if (statvfs(disk_of.c_str(), &disk) != 0) {
        return {};
    }
    free_bytes = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
#endif
    if (free_bytes >= bytes) {
        return {};
    }
    failure why = file_failure(code::cannot_write, path,
                               "the disk has room for " + grouped(static_cast<std::int64_t>(free_bytes)) +
                                   " bytes, and " + grouped(static_cast<std::int64_t>(bytes)) + " are to be written");
    why.needed = static_cast<std::int64_t>(bytes);
    why.room = static_cast<std::int64_t>(free_bytes);
    return why;
}

result<> stage_file(file_set& set, const std::string& folder, const std::string& relative,
                    std::span<const std::span<const std::uint8_t>> parts) {
    const std::string name = destination_name(folder, relative);
    const std::string parent = parent_of(name);
    if (parent != set.last_folder || set.files.empty()) {
        missing_folders(parent, set.last_there);
        set.last_folder = parent;
    }
    const std::string& there = set.last_there;
    staged_file& staged = set.files.emplace_back();
    output_file& out = staged.out;
    // Refusing, the name's being free is checked as the file is begun.
    out.name_was_free = set.existing == existing_entry::refuse || kind_of(name) == entry_kind::none;
    result<> done = begin_output(out, name, set.existing, there.empty() ? std::string("./") : with_separator(there));
    if (done) {
        write_output(out, parts);
        done = complete_output(out);
    }
    if (!done) {
        set.files.pop_back();
        return done;
    }
    for (const auto part : parts) set.bytes += part.size();
    set.unnamed_held += out.unnamed ? 1 : 0;
    for (; set.unnamed_held > handles_to_hold(); ++set.named_up_to) {
        output_file& oldest = set.files[set.named_up_to].out;
        if (oldest.unnamed) {
            if (result<> named = name_output(oldest); !named)
                return named;
            --set.unnamed_held;
        }
    }
    return {};
}

result<> place_files(file_set& set) {
    const interrupts_held hold;
    for (std::size_t k = 0; k < set.files.size(); ++k) {
        staged_file& file = set.files[k];
        result<> placed = make_folders_for(set, file.out.final_name);
        if (placed && set.existing == existing_entry::replace) {
            placed = keep_old_contents(file);
        }
        if (placed) {
            placed = place_output(file.out);
        }
        if (!placed) {
            if (!file.kept_name.empty() && restore(file.kept_name, file.out.final_name)) {
                file.kept_name.clear();
            }
            failure why = std::move(placed).error();
            why.words += said(take_back(set, k));
            return why;
        }
    }
    for (staged_file& file : set.files) {
        if (!file.kept_name.empty()) {
            remove_entry(file.kept_name);
            file.kept_name.clear();
        }
    }
    set.folders_made.clear();
    return {};
}

}  // namespace torv
