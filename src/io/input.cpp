#include "io/input.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "io/file_failure.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace torv {

namespace {

// Positions the underlying file at `offset`; false if it refuses.
bool seek_file(std::FILE* file, std::int64_t offset) {
    if (offset < 0 || offset > static_cast<std::int64_t>(LONG_MAX)) {
        return false;
    }
    return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}

// Memory is read in place: all the rest of it is at hand at once.
std::size_t refill_from_memory(input_stream& in) {
    if (in.origin < 0 || static_cast<std::uint64_t>(in.origin) >= in.memory.size()) {
        return 0;
    }
    const auto from = static_cast<std::size_t>(in.origin);
    in.window = in.memory.data() + from;
    in.len = in.memory.size() - from;
    return in.len;
}

#ifdef _WIN32
using file_status = struct _stat64;
inline int status_of(int handle, file_status& status) {
    return _fstat64(handle, &status);
}
inline bool is_folder(const file_status& status) {
    return (status.st_mode & _S_IFMT) == _S_IFDIR;
}
inline bool is_plain(const file_status& status) {
    return (status.st_mode & _S_IFMT) == _S_IFREG;
}
inline bool is_fifo(const file_status& status) {
    return (status.st_mode & _S_IFMT) == _S_IFIFO;
}
#else
using file_status = struct stat;
inline int status_of(int handle, file_status& status) {
    return fstat(handle, &status);
}
inline bool is_folder(const file_status& status) {
    return S_ISDIR(status.st_mode);
}
inline bool is_plain(const file_status& status) {
    return S_ISREG(status.st_mode);
}
inline bool is_fifo(const file_status& status) {
    return S_ISFIFO(status.st_mode);
}
#endif

std::string kind_of(const file_status& status) {
    if (is_folder(status))
        return "it is a folder";
    if (is_fifo(status))
        return "it is a FIFO, not a plain file";
    return "it is a device, not a plain file";
}

// Opens the file for reading without waiting: a FIFO with no writer would
// block a plain open for ever.
int open_without_waiting(const std::string& name) {
#ifdef _WIN32
    return _open(name.c_str(), _O_RDONLY | _O_BINARY);
#else
    return open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
#endif
}

// Reads from here on as any file: blocking, buffered by us.
std::FILE* as_stream(int handle) {
#ifdef _WIN32
    return _fdopen(handle, "rb");
#else
    const int flags = fcntl(handle, F_GETFL);
    if (flags >= 0) {
        fcntl(handle, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fdopen(handle, "rb");
#endif
}

void close_handle(int handle) {
#ifdef _WIN32
    _close(handle);
#else
    close(handle);
#endif
}

}  // namespace

result<input_stream> open_input(const std::string& name) {
    const int handle = open_without_waiting(name);
    if (handle < 0) {
        const int error_number = errno;
#ifdef _WIN32
        // Windows refuses to open a folder at all: say what it is.
        const DWORD attributes = GetFileAttributesA(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return file_failure(code::not_a_file, name, "it is a folder");
        }
#endif
        return file_failure(code::cannot_open, name, system_reason(error_number));
    }
    file_status status{};
    if (status_of(handle, status) != 0) {
        const int error_number = errno;
        close_handle(handle);
        return file_failure(code::cannot_open, name, system_reason(error_number));
    }
    if (!is_plain(status)) {
        close_handle(handle);
        return file_failure(code::not_a_file, name, kind_of(status));
    }
    std::FILE* file = as_stream(handle);
    if (file == nullptr) {
        const int error_number = errno;
        close_handle(handle);
        return file_failure(code::cannot_open, name, system_reason(error_number));
    }
    input_stream in;
    in.file.reset(file);
    // Our own buffer does the buffering; the library's would only copy twice.
    std::setvbuf(file, nullptr, _IONBF, 0);
    in.storage = std::make_unique<std::uint8_t[]>(input_stream::buffer_size);
    in.window = in.storage.get();
    in.size = static_cast<std::int64_t>(status.st_size);
    return in;
}

void attach_memory(input_stream& in, std::span<const std::uint8_t> bytes) {
    in.file.reset();
    in.storage.reset();
    in.memory = bytes;
    in.window = bytes.data();
    in.size = static_cast<std::int64_t>(bytes.size());
    in.origin = 0;
    in.file_offset = 0;
    in.pos = 0;
    in.len = 0;
}

result<whole_file> read_whole_file(const std::string& name, std::uint64_t limit) {
    result<input_stream> opened = open_input(name);
    if (!opened) {
        return std::move(opened).error();
    }
    input_stream& in = *opened;
    whole_file out;
    out.size = in.size;
    if (static_cast<std::uint64_t>(in.size) > limit) {
        return out;
    }
    out.bytes.resize(static_cast<std::size_t>(in.size));
    const std::size_t got = std::fread(out.bytes.data(), 1, out.bytes.size(), in.file.get());
    if (std::ferror(in.file.get()) != 0) {
        return file_failure(code::cannot_read, name, system_reason(errno));
    }
    if (got != out.bytes.size()) {
        return file_failure(
            code::changed_while_read, name,
            "it changed while it was read (" + std::to_string(got) + " of " + std::to_string(in.size) + " bytes came)");
    }
    if (std::fgetc(in.file.get()) != EOF) {
        return file_failure(code::changed_while_read, name,
                            "it grew while it was read (it had " + std::to_string(in.size) + " bytes when opened)");
    }
    return out;
}

void close_input(input_stream& in) {
    in.memory = {};
    in.file.reset();
    in.storage.reset();
    in.window = nullptr;
    in.pos = 0;
    in.len = 0;
}

void seek_input(input_stream& in, std::int64_t offset) {
    if (offset >= in.origin && offset <= in.origin + static_cast<std::int64_t>(in.len)) {
        in.pos = static_cast<std::size_t>(offset - in.origin);
        return;
    }
    in.origin = offset;
    in.pos = 0;
    in.len = 0;
}

std::size_t refill_input(input_stream& in) {
    in.origin += static_cast<std::int64_t>(in.len);
    in.pos = 0;
    in.len = 0;
    if (!in.file) {
        return refill_from_memory(in);
    }
    // Reading straight on needs no seek; only a jump away from the buffer does.
    if (in.file_offset != in.origin) {
        if (!seek_file(in.file.get(), in.origin)) {
            in.file_offset = -1;
            return 0;
        }
        in.file_offset = in.origin;
    }
    in.len = std::fread(in.storage.get(), 1, input_stream::buffer_size, in.file.get());
    in.file_offset += static_cast<std::int64_t>(in.len);
    return in.len;
}

std::size_t read_span(input_stream& in, std::span<std::uint8_t> dest) {
    std::size_t done = 0;
    while (done < dest.size()) {
        if (in.pos == in.len && refill_input(in) == 0) {
            break;
        }
        const std::size_t take = std::min(in.len - in.pos, dest.size() - done);
        std::memcpy(dest.data() + done, in.window + in.pos, take);
        in.pos += take;
        done += take;
    }
    return done;
}

std::size_t read_at(input_stream& in, std::int64_t offset, std::span<std::uint8_t> dest) {
    seek_input(in, offset);
    const std::size_t got = read_span(in, dest);
    std::fill(dest.begin() + static_cast<std::ptrdiff_t>(got), dest.end(), std::uint8_t{0});
    return got;
}

}  // namespace torv
