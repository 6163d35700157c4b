// A file written beside its final name and put in its place only when it is
// complete: a failed run leaves no output behind and the file of that name,
// if there was one, untouched.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace torv {

struct pending_file {
    std::string final_name;
    std::string temp_name;
    std::FILE* file = nullptr;
    bool failed = false;

    pending_file() = default;
    pending_file(const pending_file&) = delete;
    pending_file& operator=(const pending_file&) = delete;
    // Removes the temporary file unless it was put in place.
    ~pending_file();
};

// Creates the temporary file for `final_name`; an error message, or empty.
std::string begin_pending(pending_file& pending, const std::string& final_name);

// Appends `bytes`; a failure is remembered and reported by finish_pending.
void write_pending(pending_file& pending, std::span<const std::uint8_t> bytes);

// Closes the temporary file and puts it in place of `final_name`; an error
// message, or empty.
std::string finish_pending(pending_file& pending);

}  // namespace torv
