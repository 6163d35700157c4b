// Writing an output file whole, in one go, or not at all.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace torv {

// Creates (or replaces) the file `name` and writes `parts` to it one after
// the other, in as few system calls as the system allows. A file that cannot
// be created ends the run with "file create errror."; a write or close that
// fails removes the file and ends the run with "file write error.".
void write_output_file(const std::string& name, std::span<const std::span<const std::uint8_t>> parts);

}  // namespace torv
