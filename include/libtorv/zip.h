// Zip archives in memory, each file deflated (or stored where deflating
// does not make it smaller): many images downloaded as one file, a project,
// a bundle of patches.
//
//   local header + name + data      for each file, in order
//   central directory entry + name  for each file, in order
//   end of central directory
//
// All numbers little-endian. An archive of 65,535 files or more, or one
// whose directory lies beyond 4 GiB, is zip64: each entry whose header
// lies beyond 4 GiB has its offset in a zip64 field, and the end is
//
//   zip64 end of central directory   the counts, size and offset in 64 bits
//   zip64 end locator                where that record lies
//   end of central directory         its fields 0xFFFF / 0xFFFFFFFF
//
// Each file itself is below 4 GiB.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "libtorv/result.h"

namespace libtorv {

struct zip_archive {
    std::vector<std::uint8_t> bytes;      // local headers and data not yet taken
    std::vector<std::uint8_t> directory;  // central directory entries so far
    std::uint64_t count = 0;
    std::uint64_t taken = 0;  // bytes handed out by take_zip_bytes
};

// Adds a file, deflated where that makes it smaller, or stored as it is
// (for PNGs and GIFs, deflated already).
enum class zip_storing : std::uint8_t { deflate, store };
result<> add_to_zip(zip_archive& zip, const std::string& name, std::span<const std::uint8_t> contents,
                    zip_storing how = zip_storing::deflate);

// The archive's bytes written since the last call, to be written out in
// order: an archive made file by file, that is never whole in memory.
std::vector<std::uint8_t> take_zip_bytes(zip_archive& zip);

// The rest of the archive (the whole of it if nothing was taken), its
// directory and end; `zip` is left empty.
std::vector<std::uint8_t> finish_zip(zip_archive& zip);

// A file of an archive, as its directory lists it.
struct zip_item {
    std::string name;        // '\\' read as '/', as some tools write it
    std::uint64_t size = 0;  // unpacked
    std::uint32_t crc32 = 0;
    bool deflated = false;
    std::size_t data_at = 0;  // its bytes in the archive
    std::size_t packed_size = 0;
};

// The files of a zip archive, zip64 or not (folders left out), each no
// larger than `max_file_bytes` and lying whole within the archive:
// not_an_image for what is no zip archive, bad_image for one that
// contradicts itself, unsupported_image for a file packed in another way
// than stored or deflated, or encrypted (named, with what to do),
// file_too_large for a file over the limit. Nothing is unpacked.
result<std::vector<zip_item>> list_zip(std::span<const std::uint8_t> archive, std::uint64_t max_file_bytes);

// One file of `archive` (listed by list_zip), unpacked and checked against
// its CRC32.
result<std::vector<std::uint8_t>> unzip_item(std::span<const std::uint8_t> archive, const zip_item& item);

// A file of an archive read back.
struct zip_entry {
    std::string name;
    std::vector<std::uint8_t> contents;
};

// Every file of a zip archive, as list_zip lists it, each unpacked.
result<std::vector<zip_entry>> read_zip(std::span<const std::uint8_t> archive, std::uint64_t max_file_bytes);

// Why `name` is no path to write a file at below a folder, or empty if it
// is one: an absolute path or a drive, a part ".." or "." or empty, a
// control character. Another program may write any name into a zip.
std::string unsafe_path_reason(std::string_view name);

}  // namespace libtorv
