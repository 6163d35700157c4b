#include "io/file_failure.h"

#include <cstring>

namespace torv {

std::string system_reason(int error_number) {
    return error_number != 0 ? std::strerror(error_number) : std::string();
}

failure file_failure(code what, const std::string& name, std::string reason) {
    const std::string because = reason.empty() ? "" : ": " + reason;
    std::string words;
    switch (what) {
        case code::cannot_open:
        case code::not_a_file: words = "cannot open " + name + because; break;
        case code::cannot_read:
        case code::changed_while_read: words = "cannot read " + name + because; break;
        case code::cannot_list: words = "cannot list " + name + because; break;
        case code::cannot_create: words = "cannot create " + name + because; break;
        case code::cannot_write: words = "cannot write " + name + because; break;
        case code::exists: words = name + " exists"; break;
        case code::file_too_large: words = name + because; break;
        default: words = "cannot put " + name + " in place" + because; break;
    }
    failure made = failure_of(what, std::move(words), name);
    made.reason = std::move(reason);
    return made;
}

}  // namespace torv
