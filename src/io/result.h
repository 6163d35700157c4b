// The library's one way to fail (libtorv/result.h), as every layer here uses
// it, and the making of a failure.
#pragma once

#include <string>
#include <utility>

#include "libtorv/result.h"

namespace torv {

using libtorv::code;
using libtorv::failure;
using libtorv::result;

// A failure of `what`, in `words`, about `file` (if any).
inline failure failure_of(code what, std::string words, std::string file = {}) {
    failure made;
    made.code = what;
    made.words = std::move(words);
    made.file = std::move(file);
    return made;
}

}  // namespace torv
