// Buffered reading of the source file. Every function here is safe at the end
// of the file: reads simply come up short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "io/file_failure.h"

namespace torv {

struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

// The source file, read through a buffer of our own so that the decoder can
// take one byte at a time without a library call per byte; or bytes already
// in memory, read the same way.
struct input_stream {
    static constexpr std::size_t buffer_size = 64 * 1024;

    file_handle file;
    std::int64_t size = -1;        // measured when opened; -1 if unknown
    std::int64_t origin = 0;       // file offset of buffer[0]
    std::int64_t file_offset = 0;  // where the file itself stands; -1 if unknown
    std::size_t pos = 0;           // next byte to hand out
    std::size_t len = 0;           // valid bytes in buffer
    std::unique_ptr<std::uint8_t[]> buffer;
    std::span<const std::uint8_t> memory;  // the bytes read when there is no file
};

// Opens `name` for binary reading and measures its size. Returns false if the
// file cannot be opened, or is a folder.
bool open_input(input_stream& in, const std::string& name);

// Takes over an open stream as the input.
void attach_input(input_stream& in, std::FILE* file);

// Reads `bytes` (which must outlive the stream's use) as the input.
void attach_memory(input_stream& in, std::span<const std::uint8_t> bytes);

// A file read whole, once: what it held when it was read.
struct whole_file {
    std::vector<std::uint8_t> bytes;
    std::int64_t size = -1;  // its size when opened
};

// Reads the file `name` whole if it holds at most `limit` bytes (a larger one
// is only measured). A read that fails, or a file that changes size while it
// is read, is a failure.
file_result read_whole_file(const std::string& name, std::uint64_t limit, whole_file& out);

void close_input(input_stream& in);

// Moves to an absolute offset. Offsets past the end are allowed; reads there
// come up empty.
void seek_input(input_stream& in, std::int64_t offset);

// The offset of the next byte to be read.
inline std::int64_t tell_input(const input_stream& in) {
    return in.origin + static_cast<std::int64_t>(in.pos);
}

// Refills the buffer from the current offset; returns the bytes now buffered.
std::size_t refill_input(input_stream& in);

// The next byte, or -1 at the end of the file.
inline int read_byte(input_stream& in) {
    if (in.pos == in.len && refill_input(in) == 0) {
        return -1;
    }
    return in.buffer[in.pos++];
}

// Reads up to dest.size() bytes; returns how many came.
std::size_t read_span(input_stream& in, std::span<std::uint8_t> dest);

// Reads dest.size() bytes from `offset`; what the file does not hold becomes
// 0. Returns how many bytes came from the file.
std::size_t read_at(input_stream& in, std::int64_t offset, std::span<std::uint8_t> dest);

}  // namespace torv
