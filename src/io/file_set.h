// Files put in place together: all of them, or none. Each is written whole
// first, as it is made, beside where it goes (io/output_file.h); then the
// folders they need are made and each is put in place. If putting one in
// place fails, those put in place before it are taken back: a new file is
// removed, a replaced one gets its old contents back, and the folders made
// are removed. An interruption meanwhile waits until that is done.
//
//   file_set set;                                  // refuse, or replace
//   check_destination(out, "data/four.bin", ...);  // before anything is made
//   stage_file(set, out, "data/four.bin", parts);  // as each file is made
//   place_files(set);                              // all, or none
//
// Paths below the destination folder are '/'-separated and never go
// through a link: one there is refused, before anything is made.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "io/output_file.h"
#include "io/result.h"

namespace torv {

struct staged_file {
    output_file out;
    std::string kept_name;  // while the set is placed: the replaced file's old contents
};

struct file_set {
    existing_entry existing = existing_entry::refuse;
    std::vector<staged_file> files;
    std::vector<std::string> folders_made;  // while the set is placed, the outermost first
    std::uint64_t bytes = 0;                // staged so far
    std::size_t unnamed_held = 0;           // staged files that hold a handle for want of a name
    std::size_t named_up_to = 0;            // those before it have names, or are placed
    // The folder of the last file staged, and the nearest of it that is there
    // (files come a folder at a time: it is looked for once).
    std::string last_folder;
    std::string last_there;
    std::vector<std::string> folders_ready;  // while placing: folders made or found, the last few
};

// `folder` and `relative` joined: the name a file is put in place under.
std::string destination_name(const std::string& folder, const std::string& relative);

// Whether a file may go to `relative` below `folder`: no part of the way is a
// link or other than a folder, and the name itself is free (with `refuse`)
// or a file or link (with `replace`; never a folder). `folder` itself may be
// a link, and need not be there yet.
result<> check_destination(const std::string& folder, const std::string& relative, existing_entry existing);

// Whether the disk that `path` (a folder, or where one will be) is on has
// room for `bytes` more, where the system can tell: cannot_write, with the
// bytes needed and free, if not.
result<> check_room(const std::string& path, std::uint64_t bytes);

// Writes `parts` whole into a temporary for `relative` below `folder`, ready
// to be put in place with the others; no folder is made yet.
result<> stage_file(file_set& set, const std::string& folder, const std::string& relative,
                    std::span<const std::span<const std::uint8_t>> parts);

// Puts every staged file in place, the folders they need made first; on a
// failure takes back what was done, and its words say so.
result<> place_files(file_set& set);

}  // namespace torv
