// The folders torv-project works in, on disk: where each lies against the
// others, files read below a folder through no link, and a project's and a
// game's files as the library takes them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "libtorv/project.h"

namespace torv::project_cli {

namespace fs = std::filesystem;

// A path within a folder, '/' between its parts, as the manifest keeps it.
std::string relative_name(const fs::path& path, const fs::path& folder);

// `relative` ('/' between its parts) below `folder`. On Windows, a part
// the system would read as something else (a drive, a stream, a separator)
// is refused.
libtorv::result<fs::path> below(const fs::path& folder, const std::string& relative);

bool is_folder(const fs::path& path);
bool is_plain_file(const fs::path& path);  // through a link, as a name given on the command line

// True if `inner` is `outer` or lies below it, each with its links resolved.
bool lies_within(const fs::path& inner, const fs::path& outer);

// A folder a run writes into must neither lie within nor hold the folders it
// reads: a line for each that it does, naming both.
std::vector<std::string> misplaced(const fs::path& folder, const std::string& what,
                                   const std::vector<std::pair<fs::path, std::string>>& read);

// The plain file at `path` whole, if it holds at most `limit` bytes.
libtorv::result<libtorv::bytes> read_file(const fs::path& path, std::uint64_t limit);

// The plain file `relative` below `top`, reached through no link: a link
// anywhere on the way is refused (not_a_file), as unpack never follows one.
libtorv::result<libtorv::bytes> read_below(const fs::path& top, const std::string& relative, std::uint64_t limit);

// The project's files in `folder`, for the library.
libtorv::project_folder project_on_disk(const fs::path& folder);

// The game's files in `game`, each read through no link.
libtorv::game_reader game_on_disk(const fs::path& game);

// Every file below `folder`, relative, links not followed (a link is listed
// as what it is).
std::vector<std::string> all_files(const fs::path& folder);

// The largest file any layout has.
std::uint64_t largest_source_file();

}  // namespace torv::project_cli
