// BPS patches: what turns a game's file into a rebuilt one, as common
// patchers apply them.
#pragma once

#include <cstdint>
#include <span>

#include "libtorv/result.h"
#include "libtorv/types.h"

namespace libtorv {

// A BPS patch from `source` to `target`: standard BPS ("BPS1", the source's,
// the target's and the patch's CRC32; source-read, target-read, source-copy
// and target-copy actions), as common patchers apply it.
bytes bps_patch(std::span<const std::uint8_t> source, std::span<const std::uint8_t> target);

// What a patch says of the file it is for and the file it makes.
struct patch_facts {
    std::uint64_t source_size = 0;
    std::uint32_t source_crc32 = 0;
    std::uint64_t target_size = 0;
    std::uint32_t target_crc32 = 0;
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

}  // namespace libtorv
