// Buffered reading of the source file. Every function here is safe at the end
// of the file: reads simply come up short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "driver/context.h"

namespace torv {

// Opens `name` for binary reading and measures its size. Returns false if the
// file cannot be opened, or is a folder.
bool open_input(input_stream& in, const std::string& name);

// Takes over an open stream (for reading from memory, say) as the input.
void attach_input(input_stream& in, std::FILE* file);

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

}  // namespace torv
