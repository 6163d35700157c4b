// What torv-project writes, put in place all together or not at all
// (io/file_set.h): every destination checked before anything is made, each
// file written whole as soon as it is made, then all put in place; a failure
// on the way takes back what was placed and says so.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "io/file_set.h"
#include "torv_project/disk.h"

namespace torv::project_cli {

struct destination {
    fs::path folder;
    std::string relative;  // '/' between its parts
};

// A line for each destination that cannot be written: a link or a file on
// the way, a folder at its name.
std::vector<std::string> refused_destinations(const std::vector<destination>& destinations);

// A line if the disk of `folder` lacks room for `bytes`, where it can tell.
std::vector<std::string> lacking_room(const fs::path& folder, std::uint64_t bytes);

// Writes one file of the set; an entry of its name is refused (unless the
// set replaces), with the words that say -f replaces it when `force_words`.
libtorv::result<> stage(file_set& set, const destination& to, std::span<const std::uint8_t> contents, bool force_words);

// Puts the set in place: the status, with every line said on a failure.
int place_all(file_set& set);

}  // namespace torv::project_cli
