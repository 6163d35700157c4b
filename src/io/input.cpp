#include "io/input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace torv {

namespace {

std::int64_t measure_size(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const long end = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    return end;
}

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

}  // namespace

bool open_input(input_stream& in, const std::string& name) {
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    // Some systems open a folder for reading; none can be read as a file.
    struct stat status {};
    if (fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
        std::fclose(file);
        return false;
    }
    in.file.reset(file);
    in.memory = {};
    // Our own buffer does the buffering; the library's would only copy twice.
    std::setvbuf(file, nullptr, _IONBF, 0);
    in.storage = std::make_unique<std::uint8_t[]>(input_stream::buffer_size);
    in.window = in.storage.get();
    in.size = measure_size(file);
    in.origin = 0;
    in.file_offset = 0;  // measuring the size went back to the start
    in.pos = 0;
    in.len = 0;
    return true;
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

file_result read_whole_file(const std::string& name, std::uint64_t limit, whole_file& out) {
    input_stream in;
    if (!open_input(in, name)) {
        return file_failure{file_step::open, name, std::strerror(errno)};
    }
    out.size = in.size;
    if (in.size < 0) {
        return file_failure{file_step::read, name, "its size cannot be measured"};
    }
    if (static_cast<std::uint64_t>(in.size) > limit) {
        return std::nullopt;
    }
    out.bytes.resize(static_cast<std::size_t>(in.size));
    const std::size_t got = std::fread(out.bytes.data(), 1, out.bytes.size(), in.file.get());
    const bool failed = std::ferror(in.file.get()) != 0;
    if (got != out.bytes.size() || std::fgetc(in.file.get()) != EOF) {
        return file_failure{file_step::read, name,
                            failed ? std::string(std::strerror(errno))
                                   : "it changed while it was read (" + std::to_string(got) + " of " +
                                         std::to_string(in.size) + " bytes came)"};
    }
    return std::nullopt;
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
