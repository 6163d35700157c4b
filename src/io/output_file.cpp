#include "io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <vector>

#include "io/file_failure.h"
#include "io/interrupt.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <climits>
#endif

// Linux makes files with no name (O_TMPFILE) and links them in by their
// handle (/proc/self/fd): a killed run leaves nothing behind.
#if defined(__linux__) && defined(O_TMPFILE) && !defined(__EMSCRIPTEN__)
#define TORV_UNNAMED_TEMPORARIES 1
#endif

namespace torv {

namespace {

constexpr int max_name_tries = 100;

// What the final name holds before a write.
enum class name_holds : std::uint8_t {
    nothing,     // no entry of that name
    same_bytes,  // a plain file of one link, with the very bytes to write
    other,       // anything else
};

// The longest name the system takes for a file, without its terminating zero.
#if defined(_WIN32)
constexpr std::size_t longest_path = 259;  // MAX_PATH
#elif defined(PATH_MAX)
constexpr std::size_t longest_path = PATH_MAX - 1;
#else
constexpr std::size_t longest_path = 4095;
#endif

// A temporary's name: ".tv", 8 hex digits, "-", the process's number, ".tmp".
constexpr std::string_view temporary_start = ".tv";
constexpr std::string_view temporary_end = ".tmp";
constexpr std::size_t temporary_digits = 8;
constexpr std::size_t most_process_digits = 10;

failure file_failure_of(code what, const std::string& name, int error_number) {
    return file_failure(what, name, system_reason(error_number));
}

unsigned long this_process() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// The folder part of a name, with its separator: where the temporary goes.
std::string folder_of(const std::string& name) {
#ifdef _WIN32
    const std::size_t cut = name.find_last_of("/\\");
    if (cut == std::string::npos && name.size() >= 2 && name[1] == ':') {
        return name.substr(0, 2);  // "e:pic.bmp": the current folder of drive E:
    }
#else
    const std::size_t cut = name.rfind('/');
#endif
    return cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
}

std::size_t name_length_in_folder(const output_file& out) {
    const std::string final_folder = folder_of(out.final_name);
    return out.final_name.size() - final_folder.size();
}

#ifdef _WIN32

int create_exclusive(const std::string& name) {
    return _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}

bool entry_exists(const std::string& name) {
    return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int write_some(int handle, const std::uint8_t* data, std::size_t size) {
    const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30));
    return _write(handle, data, chunk);
}

int close_handle(int handle) {
    return _close(handle);
}

void keep_permissions(const output_file&) {}

std::string describe_last_error(DWORD code) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason.empty() ? "system error " + std::to_string(code) : reason;
}

result<> put_in_place(const output_file& out) {
    const DWORD flags =
        MOVEFILE_WRITE_THROUGH | (out.existing == existing_entry::replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExA(out.temp_name.c_str(), out.final_name.c_str(), flags)) {
        return {};
    }
    const DWORD error = GetLastError();
    const bool exists = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return file_failure(exists ? code::exists : code::cannot_place, out.final_name, describe_last_error(error));
}

// Windows: every write goes through the temporary.
name_holds holds_same_bytes(const std::string&, std::span<const std::span<const std::uint8_t>>) {
    return name_holds::other;
}

bool process_is_gone(unsigned long process) {
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process));
    if (handle == nullptr) {
        return GetLastError() == ERROR_INVALID_PARAMETER;
    }
    DWORD status = 0;
    const bool ended = GetExitCodeProcess(handle, &status) && status != STILL_ACTIVE;
    CloseHandle(handle);
    return ended;
}

void remove_stale_in(const std::string& folder) {
    WIN32_FIND_DATAA found{};
    const std::string pattern = folder + std::string(temporary_start) + "*" + std::string(temporary_end);
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        unsigned long process = 0;
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
            is_temporary_name(found.cFileName, &process) && process != this_process() && process_is_gone(process)) {
            DeleteFileA((folder + found.cFileName).c_str());
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

#else

int create_exclusive(const std::string& name) {
    // O_EXCL: a new entry, never one that is there, and never through a link.
    return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

bool entry_exists(const std::string& name) {
    struct stat status {};
    return lstat(name.c_str(), &status) == 0;
}

int close_handle(int handle) {
    return close(handle);
}

// A replaced file keeps who may read and write it.
void keep_permissions(const output_file& out) {
    struct stat status {};
    if (out.existing == existing_entry::replace && !out.name_was_free && stat(out.final_name.c_str(), &status) == 0 &&
        S_ISREG(status.st_mode)) {
        fchmod(out.handle, status.st_mode & 07777);
    }
}

// Puts the file in place only if nothing has the final name: atomically where
// the system can, else by a hard link (which refuses an existing name too).
int rename_no_replace(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return -1;
    }
#endif
    if (link(from, to) == 0) {
        unlink(from);
        return 0;
    }
    // A file system without hard links says so in one of these words (a new
    // file cannot have too many links otherwise).
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EMLINK) {
        return -1;
    }
    // A file system with neither: the best left is to look first.
    struct stat status {};
    if (lstat(to, &status) == 0) {
        errno = EEXIST;
        return -1;
    }
    return std::rename(from, to);
}

result<> put_in_place(const output_file& out) {
    const int done = out.existing == existing_entry::replace
                         ? std::rename(out.temp_name.c_str(), out.final_name.c_str())
                         : rename_no_replace(out.temp_name.c_str(), out.final_name.c_str());
    if (done == 0) {
        return {};
    }
    const int error_number = errno;
    return file_failure_of(error_number == EEXIST ? code::exists : code::cannot_place, out.final_name, error_number);
}

// True if `name` is a plain file with no other link that holds exactly the
// bytes of `parts`. A link at the name is not followed (it is replaced), and
// a FIFO is not waited for.
name_holds holds_same_bytes(const std::string& name, std::span<const std::span<const std::uint8_t>> parts) {
    std::size_t total = 0;
    for (const auto part : parts) total += part.size();
    const int handle = open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) {
        return errno == ENOENT ? name_holds::nothing : name_holds::other;
    }
    struct stat status {};
    bool same = fstat(handle, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1 &&
                static_cast<std::uint64_t>(status.st_size) == total;
    // The file in one read, into a buffer kept from one file to the next.
    thread_local std::vector<std::uint8_t> held;
    if (same) {
        held.resize(total);
        std::size_t got = 0;
        while (got < total) {
            const ssize_t read_now = read(handle, held.data() + got, total - got);
            if (read_now < 0 && errno == EINTR)
                continue;
            if (read_now <= 0)
                break;
            got += static_cast<std::size_t>(read_now);
        }
        same = got == total;
    }
    for (std::size_t k = 0, at = 0; same && k < parts.size(); at += parts[k].size(), ++k) {
        same = std::equal(parts[k].begin(), parts[k].end(), held.begin() + static_cast<std::ptrdiff_t>(at));
    }
    close(handle);
    return same ? name_holds::same_bytes : name_holds::other;
}

bool process_is_gone(unsigned long process) {
#ifdef __EMSCRIPTEN__
    (void)process;
    return false;  // no processes to ask about
#else
    return kill(static_cast<pid_t>(process), 0) != 0 && errno == ESRCH;
#endif
}

void remove_stale_in(const std::string& folder) {
    DIR* listing = opendir(folder.empty() ? "." : folder.c_str());
    if (listing == nullptr) {
        return;
    }
    while (const dirent* found = readdir(listing)) {
        unsigned long process = 0;
        if (!is_temporary_name(found->d_name, &process) || process == this_process()) {
            continue;
        }
        const std::string path = folder + found->d_name;
        struct stat status {};
        if (lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid() &&
            process_is_gone(process)) {
            unlink(path.c_str());
        }
    }
    closedir(listing);
}

#endif

#ifdef TORV_UNNAMED_TEMPORARIES

// Whether files with no name can be linked in here: /proc must be there.
bool unnamed_temporaries_work() {
    static const bool works = access("/proc/self/fd", X_OK) == 0;
    return works;
}

int create_unnamed(const std::string& folder) {
    return open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
}

// Gives the file of `handle` the name `name`, which nothing may have; -1 with
// errno otherwise.
int link_unnamed(int handle, const std::string& name) {
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", handle);
    return linkat(AT_FDCWD, path, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
}

#else

bool unnamed_temporaries_work() {
    return false;
}

int create_unnamed(const std::string&) {
    errno = ENOTSUP;
    return -1;
}

int link_unnamed(int, const std::string&) {
    errno = ENOTSUP;
    return -1;
}

#endif

// Writes all of `data`, however the system splits it; false on an error.
bool write_all(output_file& out, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
#ifdef _WIN32
        const int written = write_some(out.handle, data, size);
#else
        const ssize_t written = write(out.handle, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
#endif
        if (written <= 0) {
            out.write_error = written < 0 ? errno : ENOSPC;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Gives `out` a temporary name of its own in its folder: `make(name)` makes
// the entry (creating the file, or linking it in), -1 with errno if it
// cannot; a name taken meanwhile is tried again with another.
result<> claim_temporary_name(output_file& out, const std::function<int(const std::string&)>& make) {
    for (int attempt = 0; attempt < max_name_tries; ++attempt) {
        const std::string name = temporary_name(out.temp_folder, name_length_in_folder(out));
        // Registered before it is made, so that no moment leaves it behind
        // on an interruption. (One that comes just as the name turns out to
        // be taken would remove another's file of the same random name: a
        // chance not worth two system calls a file.)
        out.cleanup_slot = remove_on_interrupt(name.c_str());
        if (make(name) >= 0) {
            out.temp_name = name;
            return {};
        }
        const int error_number = errno;
        forget_on_interrupt(out.cleanup_slot);
        out.cleanup_slot = no_cleanup_slot;
        if (error_number != EEXIST) {
            return file_failure_of(code::cannot_create, out.final_name, error_number);
        }
    }
    return file_failure_of(code::cannot_create, out.final_name, EEXIST);
}

// Creates a named temporary for `out` in its folder, open on out.handle.
result<> create_named(output_file& out) {
    result<> made = claim_temporary_name(out, [&](const std::string& name) {
        out.handle = create_new_file(name);
        return out.handle;
    });
    if (made)
        close_on_interrupt(out.cleanup_slot, out.handle);
    return made;
}

int close_output_handle(output_file& out) {
    close_on_interrupt(out.cleanup_slot, -1);
    const int closed = close_handle(out.handle);
    out.handle = -1;
    return closed;
}

}  // namespace

int create_new_file(const std::string& name) {
    return create_exclusive(name);
}

std::string temporary_name(const std::string& folder, std::size_t final_length) {
    static std::uint64_t counter = 0;
    std::uint64_t x = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                      (++counter * 0x9E3779B97F4A7C15ULL) ^ reinterpret_cast<std::uintptr_t>(&counter);
    // splitmix64's finaliser: every input bit moves every output bit.
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    x ^= x >> 31;
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(x));
    const std::string usual = std::string(temporary_start) + std::string(digits, temporary_digits) + "-" +
                              std::to_string(this_process()) + std::string(temporary_end);
    if (folder.size() + usual.size() <= longest_path || final_length >= usual.size()) {
        return folder + usual;
    }
    const std::size_t length = std::max<std::size_t>(final_length, 1);
    return length == 1 ? folder + digits[0] : folder + "." + std::string(digits, std::min<std::size_t>(length - 1, 16));
}

bool is_temporary_name(std::string_view name, unsigned long* process) {
    if (!name.starts_with(temporary_start) || !name.ends_with(temporary_end)) {
        return false;
    }
    name.remove_prefix(temporary_start.size());
    name.remove_suffix(temporary_end.size());
    if (name.size() < temporary_digits + 2 || name.size() > temporary_digits + 1 + most_process_digits ||
        name[temporary_digits] != '-') {
        return false;
    }
    const std::string_view hex = name.substr(0, temporary_digits);
    const std::string_view number = name.substr(temporary_digits + 1);
    if (hex.find_first_not_of("0123456789abcdef") != std::string_view::npos ||
        number.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    unsigned long value = 0;
    for (const char digit : number) value = value * 10 + static_cast<unsigned long>(digit - '0');
    if (process != nullptr) {
        *process = value;
    }
    return true;
}

void remove_stale_temporaries(const std::string& folder) {
    static std::mutex guard;
    static std::set<std::string> done;
    {
        const std::lock_guard<std::mutex> lock(guard);
        if (!done.insert(folder).second) {
            return;
        }
    }
    remove_stale_in(folder);
}

output_file::output_file(output_file&& other) noexcept
    : final_name(std::move(other.final_name)),
      temp_folder(std::move(other.temp_folder)),
      temp_name(std::move(other.temp_name)),
      existing(other.existing),
      handle(other.handle),
      unnamed(other.unnamed),
      placed(other.placed),
      write_error(other.write_error),
      name_was_free(other.name_was_free),
      cleanup_slot(other.cleanup_slot) {
    other.temp_name.clear();
    other.handle = -1;
    other.cleanup_slot = no_cleanup_slot;
}

output_file::~output_file() {
    if (handle >= 0) {
        close_output_handle(*this);
    }
    if (!temp_name.empty() && !placed) {
        std::remove(temp_name.c_str());
    }
    forget_on_interrupt(cleanup_slot);
}

result<> begin_output(output_file& out, const std::string& final_name, existing_entry existing,
                      const std::string& temp_folder) {
    out.final_name = final_name;
    out.existing = existing;
    out.temp_folder = temp_folder.empty() ? folder_of(final_name) : temp_folder;
    if (existing == existing_entry::refuse && entry_exists(final_name)) {
        return file_failure(code::exists, final_name);
    }
    remove_stale_temporaries(out.temp_folder);
    if (unnamed_temporaries_work()) {
        out.handle = create_unnamed(out.temp_folder);
        if (out.handle >= 0) {
            out.unnamed = true;
            return {};
        }
        // A file system without unnamed files: a named temporary, which says
        // why if it cannot be made either.
    }
    return create_named(out);
}

void write_output(output_file& out, std::span<const std::uint8_t> bytes) {
    if (out.handle >= 0 && out.write_error == 0) {
        write_all(out, bytes.data(), bytes.size());
    }
}

#ifdef _WIN32

void write_output(output_file& out, std::span<const std::span<const std::uint8_t>> parts) {
    // One write for the whole file: the parts laid out one after the other.
    std::vector<std::uint8_t> whole;
    for (const auto part : parts) {
        whole.insert(whole.end(), part.begin(), part.end());
    }
    write_output(out, whole);
}

#else

// The parts leave in gathered writes, straight from where they lie.
void write_output(output_file& out, std::span<const std::span<const std::uint8_t>> parts) {
    if (out.handle < 0 || out.write_error != 0) {
        return;
    }
    std::vector<iovec> vectors;
    vectors.reserve(parts.size());
    for (const auto part : parts) {
        if (!part.empty()) {
            vectors.push_back({const_cast<std::uint8_t*>(part.data()), part.size()});
        }
    }
    iovec* next = vectors.data();
    std::size_t count = vectors.size();
    while (count > 0) {
        const ssize_t written = writev(out.handle, next, static_cast<int>(std::min<std::size_t>(count, IOV_MAX)));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            out.write_error = written < 0 ? errno : ENOSPC;
            return;
        }
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= next->iov_len) {
            left -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<std::uint8_t*>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
}

#endif

result<> complete_output(output_file& out) {
    if (out.handle < 0) {
        return out.temp_name.empty() ? file_failure(code::cannot_create, out.final_name) : result<>();
    }
    keep_permissions(out);
    // A file with no name keeps its handle: it is how the file is reached.
    if (!out.unnamed && close_output_handle(out) != 0 && out.write_error == 0) {
        out.write_error = errno;
    }
    if (out.write_error != 0) {
        return file_failure_of(code::cannot_write, out.final_name, out.write_error);
    }
    return {};
}

result<> name_output(output_file& out) {
    if (!out.unnamed) {
        return {};
    }
    result<> named = claim_temporary_name(out, [&](const std::string& name) { return link_unnamed(out.handle, name); });
    if (named) {
        out.unnamed = false;
        close_output_handle(out);
    }
    return named;
}

result<> place_output(output_file& out) {
    // A file with no name is linked in under the final name where nothing
    // has it (as a name was free, it most often still is); replacing, it
    // takes a name first and is renamed over the final one.
    if (out.unnamed && (out.existing == existing_entry::refuse || out.name_was_free)) {
        if (link_unnamed(out.handle, out.final_name) == 0) {
            close_output_handle(out);
            out.unnamed = false;
            out.placed = true;
            return {};
        }
        const int error_number = errno;
        if (out.existing == existing_entry::refuse || error_number != EEXIST) {
            return file_failure_of(error_number == EEXIST ? code::exists : code::cannot_place, out.final_name,
                                   error_number);
        }
    }
    // Replacing: a name first, then renamed over the final name at once.
    if (result<> named = name_output(out); !named) {
        return named;
    }
    result<> placed = put_in_place(out);
    if (placed) {
        out.temp_name.clear();
        out.placed = true;
        forget_on_interrupt(out.cleanup_slot);
        out.cleanup_slot = no_cleanup_slot;
    }
    return placed;
}

result<> finish_output(output_file& out) {
    if (result<> completed = complete_output(out); !completed) {
        return completed;
    }
    return place_output(out);
}

result<> write_whole_file(const std::string& final_name, std::span<const std::span<const std::uint8_t>> parts,
                          existing_entry existing) {
    const name_holds held =
        existing == existing_entry::replace ? holds_same_bytes(final_name, parts) : name_holds::other;
    if (held == name_holds::same_bytes) {
        return {};
    }
    output_file out;
    out.name_was_free = held == name_holds::nothing;
    if (result<> begun = begin_output(out, final_name, existing); !begun) {
        return begun;
    }
    write_output(out, parts);
    return finish_output(out);
}

}  // namespace torv
