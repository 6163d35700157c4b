// Failures of files (opening, reading, writing, putting in place), worded
// once for every front end: "cannot open pics.bin: No such file or
// directory". The code, the file and the system's reason travel with the
// words, so that a front end can say it its own way.
#pragma once

#include <string>

#include "io/result.h"

namespace torv {

// A failure of the file `name` (one of the file codes of libtorv::code),
// with the system's `reason` if it gave one.
failure file_failure(code what, const std::string& name, std::string reason = {});

// The system's words for an errno value.
std::string system_reason(int error_number);

}  // namespace torv
