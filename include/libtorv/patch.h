// BPS patches: what turns a game's file into a rebuilt one, as common
// patchers apply them.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "libtorv/result.h"
#include "libtorv/types.h"

namespace libtorv {

// A BPS patch from `source` to `target`: standard BPS ("BPS1", the source's,
// the target's and the patch's CRC32; source-read, target-read, source-copy
// and target-copy actions), as common patchers apply it.
// `metadata` goes into the patch's header, where BPS keeps it for tools to
// show (ours: patch_metadata's JSON).
bytes bps_patch(std::span<const std::uint8_t> source, std::span<const std::uint8_t> target,
                std::string_view metadata = {});

// What a patch says of the file it is for and the file it makes.
struct patch_facts {
    std::uint64_t source_size = 0;
    std::uint32_t source_crc32 = 0;
    std::uint64_t target_size = 0;
    std::uint32_t target_crc32 = 0;
    std::string metadata;  // as the patch holds it; empty if none
};
result<patch_facts> facts_of_patch(std::span<const std::uint8_t> patch);

// What a file is to a patch, by its size and CRC32: the file it is for, the
// file it makes (patched already), or another.
enum class patch_match : std::uint8_t { source, target, other };
patch_match match_of_patch(const patch_facts& facts, std::span<const std::uint8_t> file);

// The file a patch makes of `source`, the source's size and CRC32 checked
// first: wrong_source for another file, bad_patch for a patch cut short or
// changed.
result<bytes> apply_patch(std::span<const std::uint8_t> patch, std::span<const std::uint8_t> source);

// ---------------------------------------------------------------------------
// A bundle: one zip for a whole mod, as people share it.
//
//   README.txt             what the mod is, its files, how to apply them
//   data/four.bin.bps      a patch for the game's file at data/four.bin
//   ...
//
// Each patch's metadata says the same in UTF-8 JSON:
//   {"title": "...", "author": "...", "description": "...", "file": "data/four.bin"}

// What a mod says of itself; each part may be empty.
struct patch_info {
    std::string title;
    std::string author;
    std::string description;
};

// The metadata of the patch for the game file at `path`; bad_argument if
// a part is not UTF-8 text.
result<std::string> patch_metadata(const patch_info& info, std::string_view path);

// A patch of a bundle: the game file's path within the game folder, and
// the patch.
struct bundled_patch {
    std::string path;
    bytes patch;
};

// The bundle of `patches` (each one's facts in the README); bad_argument
// for a part of `info` that is not UTF-8, or a path that is no path within
// a folder, or given twice.
result<bytes> patch_bundle(const patch_info& info, const std::vector<bundled_patch>& patches);

// The most a bundle may unpack to, all its patches together.
inline constexpr std::uint64_t largest_bundle_contents = std::uint64_t{1} << 30;

// The patches of a zip (a bundle, or any zip of .bps files), each entry
// whose name ends in ".bps" in any case, sorted by name; the rest (a
// README) left alone. Every entry that cannot be applied safely is refused
// by name, one line each: a path leading out of the folder or absolute,
// two patches for one game file, or patches unpacking to more than
// largest_bundle_contents. Nothing is unpacked.
struct zip_patches {
    std::vector<std::string> names;  // the entries' names
    std::vector<std::string> refused;
};
result<zip_patches> patches_of_zip(std::span<const std::uint8_t> archive);

// One patch of a zip, named as patches_of_zip names it, unpacked.
result<bytes> patch_of_zip(std::span<const std::uint8_t> archive, std::string_view name);

// The game file a patch of that name is for: its name without ".bps".
std::string target_of_patch(std::string_view name);

// ---------------------------------------------------------------------------
// Patches matched to the game's files, as a player gives them: a folder or
// loose files, patches perhaps renamed.

// A game file as listed, before anything of it is read.
struct listed_game_file {
    std::string path;  // '/' between folders; a bare name for a loose file
    std::uint64_t size = 0;
};

// A patch to match: the game file it names, and what it says.
struct patch_to_match {
    std::string target;  // target_of_patch of its name
    patch_facts facts;
};

// Where a patch goes.
struct patch_for_file {
    static constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::size_t file = none;                 // in the files listed, or none
    patch_match match = patch_match::other;  // other: of another version
    bool by_contents = false;                // found by its size and CRC32, not its path
};

// The CRC32 of listed file k, read when asked.
using crc32_reader = std::function<result<std::uint32_t>(std::size_t)>;

// Each patch matched to a file: the file at its path (in any case), or
// the one file of its name where no path is, whose size and CRC32 are the
// patch's source or target (else that file, of another version); where
// no file has its path, the file whose size and CRC32 are. CRC32s are
// asked only of files of a size a patch names. A failure of crc_of is
// passed on.
result<std::vector<patch_for_file>> match_patches(const std::vector<patch_to_match>& patches,
                                                  const std::vector<listed_game_file>& files,
                                                  const crc32_reader& crc_of);

}  // namespace libtorv
