// Zip archives in memory, each file deflated (or stored where deflating
// does not make it smaller), for downloading many images as one file.
//
//   local header + name + data      for each file, in order
//   central directory entry + name  for each file, in order
//   end of central directory
//
// All numbers little-endian; no zip64, so the archive stays below 4 GiB
// (what would not fit is a file_too_large failure).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "libtorv/result.h"

namespace torv::web {

struct zip_archive {
    std::vector<std::uint8_t> bytes;      // local headers and data so far
    std::vector<std::uint8_t> directory;  // central directory entries so far
    std::uint16_t count = 0;
};

// Adds a file, deflated where that makes it smaller, or stored as it is
// (for PNGs and GIFs, deflated already).
enum class zip_storing : std::uint8_t { deflate, store };
libtorv::result<> add_to_zip(zip_archive& zip, const std::string& name, std::span<const std::uint8_t> contents,
                             zip_storing how = zip_storing::deflate);

// The whole archive; `zip` is left empty.
std::vector<std::uint8_t> finish_zip(zip_archive& zip);

// A file of an archive read back.
struct zip_entry {
    std::string name;
    std::vector<std::uint8_t> contents;
};

// Every file of a zip archive (stored or deflated, without zip64 or
// encryption), each checked against its CRC32 and no larger than
// `max_file_bytes`: not_an_image for what is no zip archive, bad_image for
// one that contradicts itself, file_too_large for a file over the limit.
libtorv::result<std::vector<zip_entry>> read_zip(std::span<const std::uint8_t> archive, std::uint64_t max_file_bytes);

}  // namespace torv::web
