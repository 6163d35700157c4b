// BPS patches: what turns a source file into a target file, as common
// patchers (browser ones included) apply them.
//
//   "BPS1"
//   number  source size
//   number  target size
//   number  metadata size, then that many bytes of metadata (ours: UTF-8 JSON)
//   actions, until the target is whole; each a number (length - 1) << 2 | kind:
//     0 source read   the next `length` bytes of the source, at the target's offset
//     1 target read   `length` bytes that follow in the patch
//     2 source copy   then a signed number: a move of the source cursor; `length`
//                     bytes from there (the cursor moves past them)
//     3 target copy   the same, from the target written so far (it may overlap
//                     what it writes)
//   u32     the source's CRC32, the target's, then the patch's (all before it)
//
// A number is 7 bits a byte, least significant first, the last byte with its
// top bit set; each byte but the last also adds one more to what follows, so
// that every number has one way of being written. A signed number keeps its
// sign in bit 0. All u32 little-endian.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/result.h"
#include "libtorv/limits.h"

namespace torv {

struct bps_facts {
    std::uint64_t source_size = 0;
    std::uint64_t target_size = 0;
    std::uint32_t source_crc32 = 0;
    std::uint32_t target_crc32 = 0;
    std::string metadata;  // as the patch holds it
};

// A patch from `source` to `target`: unchanged stretches read from the
// source where they stand, or copied from where they moved to; what repeats
// copied from the target; the rest given; `metadata` in the header.
// Deterministic.
std::vector<std::uint8_t> bps_encode(std::span<const std::uint8_t> source, std::span<const std::uint8_t> target,
                                     std::string_view metadata = {});

// What a patch says of its source and target: bad_patch if it is cut short,
// or its own CRC32 is not what it holds.
result<bps_facts> bps_facts_of(std::span<const std::uint8_t> patch);

// The target the patch makes of `source`: bad_patch as above or if its
// actions go outside the files, wrong_source if `source` is not the file it
// was made for (its size or CRC32), and bad_patch if what it makes is not
// the target it names.
result<std::vector<std::uint8_t>> bps_apply(std::span<const std::uint8_t> patch, std::span<const std::uint8_t> source);

}  // namespace torv
