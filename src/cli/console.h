// Text for the person at the terminal. Every message is UTF-8; a Windows
// console takes text as UTF-16 (its code page is not UTF-8 unless a user
// made it so), while pipes and files get the UTF-8 bytes as they are.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace torv::cli {

// The UTF-16 code units of UTF-8 text. A byte that does not begin or
// continue a well-formed sequence (and overlong forms, surrogates, values
// beyond U+10FFFF) becomes U+FFFD, so that any bytes can be shown.
std::u16string utf16_of(std::string_view utf8);

// A line as it may be printed: a name holding a newline or another control
// character never splits it or moves the cursor (each such byte as \xNN).
std::string printable(std::string_view text);

// Writes `text` to `stream` (stdout or stderr): on a Windows console as
// UTF-16, elsewhere as it is.
void write_text(std::FILE* stream, std::string_view text);

// True if the run can have the memory it needs at the least (`bytes`). Under
// a limit so tight that the runtime could not set aside memory for its own
// exceptions, no std::bad_alloc could even be thrown: a program asks here
// first, and says it has no memory without throwing.
bool memory_to_start(std::size_t bytes);

}  // namespace torv::cli
