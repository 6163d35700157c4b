// The byte source every reader of a source file takes: a file, read through
// a buffer of our own (so that the decoder can take one byte at a time
// without a library call per byte, and memory stays small whatever the
// file's size), or bytes already in memory, read in place. Every function
// here is safe at the end: reads simply come up short. Readers use these
// functions, never the fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "io/result.h"

namespace torv {

struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

struct input_stream {
    static constexpr std::size_t buffer_size = 64 * 1024;

    file_handle file;
    std::unique_ptr<std::uint8_t[]> storage;  // the file's buffer
    std::span<const std::uint8_t> memory;     // the bytes, when there is no file
    std::int64_t size = -1;                   // measured when opened; -1 if unknown
    const std::uint8_t* window = nullptr;     // the bytes at hand: the buffer, or memory
    std::int64_t origin = 0;                  // the offset of window[0]
    std::int64_t file_offset = 0;             // where the file itself stands; -1 if unknown
    std::size_t pos = 0;                      // next byte to hand out
    std::size_t len = 0;                      // bytes at hand
};

// Opens `name` for binary reading and measures its size. Only a plain file
// is read: a folder, a FIFO or a device is refused (without waiting for a
// FIFO's writer), as not_a_file.
result<input_stream> open_input(const std::string& name);

// Reads `bytes` (which must outlive the stream's use) as the input.
void attach_memory(input_stream& in, std::span<const std::uint8_t> bytes);

// A file read whole, once: what it held when it was read.
struct whole_file {
    std::vector<std::uint8_t> bytes;
    std::int64_t size = -1;  // its size when opened
};

// Reads the plain file `name` whole if it holds at most `limit` bytes (a
// larger one is only measured: its bytes are left empty). A read that
// fails, or a file that changes size while it is read, is a failure.
result<whole_file> read_whole_file(const std::string& name, std::uint64_t limit);

void close_input(input_stream& in);

// Moves to an absolute offset. Offsets past the end are allowed; reads there
// come up empty.
void seek_input(input_stream& in, std::int64_t offset);

// The offset of the next byte to be read.
inline std::int64_t tell_input(const input_stream& in) {
    return in.origin + static_cast<std::int64_t>(in.pos);
}

// The size of the input: a file's as measured when opened (-1 if it could
// not be), or the memory's.
inline std::int64_t input_size(const input_stream& in) {
    return in.size;
}

// Refills the buffer from the current offset; returns the bytes now at hand.
std::size_t refill_input(input_stream& in);

// The next byte, or -1 at the end of the file.
inline int read_byte(input_stream& in) {
    if (in.pos == in.len && refill_input(in) == 0) {
        return -1;
    }
    return in.window[in.pos++];
}

// The bytes at hand from the current offset, without taking them: at least
// one unless the input has ended; from memory, all the rest of it. Taking
// some of them is consume().
inline std::span<const std::uint8_t> buffered_bytes(input_stream& in) {
    if (in.pos == in.len) {
        refill_input(in);
    }
    return {in.window + in.pos, in.len - in.pos};
}

// Takes `count` of the bytes buffered_bytes() showed.
inline void consume(input_stream& in, std::size_t count) {
    in.pos += count;
}

// Reads up to dest.size() bytes; returns how many came.
std::size_t read_span(input_stream& in, std::span<std::uint8_t> dest);

// Reads dest.size() bytes from `offset`; what the file does not hold becomes
// 0. Returns how many bytes came from the file.
std::size_t read_at(input_stream& in, std::int64_t offset, std::span<std::uint8_t> dest);

}  // namespace torv
