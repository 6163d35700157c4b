// Every detected failure ends the run the same way: one fixed line on
// standard output, then exit status 1.
#pragma once

#include <string_view>

namespace torv {

inline constexpr std::string_view usage_message = "torv filename outdrive\n";
inline constexpr std::string_view no_memory_message = "insufficient memory!\n";

// Prints `text` on standard output, flushes it and ends the process with
// status 1.
[[noreturn]] void fail(std::string_view text);

// The messages that name a file: "<head>[<name>]\n".
[[noreturn]] void fail_open(std::string_view name);
[[noreturn]] void fail_create(std::string_view name);
[[noreturn]] void fail_write(std::string_view name);

}  // namespace torv
