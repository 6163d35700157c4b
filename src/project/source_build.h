// One source built from its project, with every failure its images meet:
// what the library's build (libtorv/project.h) runs for each source.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "libtorv/project.h"

namespace libtorv {

struct source_build_input {
    const project_source& source;
    const source_status& status;
    std::span<const std::uint8_t> original;
    const project_folder& folder;
    const pack_settings& settings;
};

struct source_build {
    std::optional<built_source> built;
    std::vector<failure> failures;  // each a line: every image that failed, or why the source cannot be built
};

source_build build_source(const source_build_input& in);

}  // namespace libtorv
