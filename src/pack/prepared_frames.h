// Frames of a frame sequence prepared on one worker (read, fitted, compared
// with the original's, compressed) and carried as bytes to the worker that
// packs them: workers of a page share no memory.
//
//   batch:  "tvpf" | version (1 byte) | frames of the packing (u32)
//           | entries (u32) | entry ...
//   entry:  frame number (u32) | what (1 byte: 0 kept, 1 edited, 2 zero,
//           3 failed)
//     kept, edited, zero:  re-encoded (1 byte) | header (u32 size, bytes)
//                          | block (u32 size, bytes) | notes (u32 count,
//                          each u32 size, bytes)
//     failed:              the failure (code, words, file, reason, pixel,
//                          colour, size, needed, room); a batch ends at it
//
// Numbers are little-endian. Reading checks every size against what is left,
// so damaged bytes are refused, never read past.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "io/result.h"

namespace torv {

// What a frame is, decided once when it is prepared; the planner and the
// writer of the records go by it.
enum class frame_kind : std::uint8_t {
    // The original's record (one that is not padding), unchanged: its bytes
    // are copied, wherever it lands; given more room its block is
    // stretched. With a block re-encoded (`shrunk`) it can give up room.
    kept,
    // Changed: a block compressed anew. Where its original record stood, it
    // may keep that span in place, so that the records after it keep theirs.
    edited,
    // Colour 0 everywhere with an all-zero palette, standing for no record
    // of the original that must stay: zero padding at the end of the file,
    // else a record of the zero block.
    zero,
};

struct prepared_frame {
    std::size_t number = 0;
    frame_kind kind = frame_kind::edited;
    bool re_encoded = false;           // a kept frame whose block was re-encoded (held if smaller)
    std::vector<std::uint8_t> header;  // the record's plain part: its palette, as stored
    std::vector<std::uint8_t> block;   // an edited frame's block; a kept frame's, re-encoded and smaller
    std::vector<std::string> notes;    // what a person should know
};

struct prepared_batch {
    std::size_t frames_in_packing = 0;  // how many frames the packing has in all
    std::vector<prepared_frame> frames;
    // The frame whose preparing failed, and why: the batch ends before it.
    std::optional<std::size_t> failed_frame;
    std::optional<failure> why;
};

std::vector<std::uint8_t> batch_bytes(const prepared_batch& batch);

// The batch in `bytes`; bad_argument if they are no batch of this version.
result<prepared_batch> read_batch(std::span<const std::uint8_t> bytes);

}  // namespace torv
