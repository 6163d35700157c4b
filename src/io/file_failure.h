// What went wrong with a file, as a value: the layers below the programs
// report failures this way and never print or end the run themselves. Each
// program words them as its users expect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace torv {

enum class file_step : std::uint8_t {
    open,    // the file could not be opened for reading
    read,    // reading it failed or came up short
    create,  // the file (or its temporary) could not be created
    write,   // writing or closing it failed
    exists,  // an entry of that name is there and may not be replaced
    place,   // the finished file could not be put in place
};

struct file_failure {
    file_step step;
    std::string name;    // the file as the caller named it
    std::string reason;  // the system's words for the cause, if it gave any
};

using file_result = std::optional<file_failure>;  // nothing on success

}  // namespace torv
