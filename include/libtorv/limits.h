// How large the files that libtorv and its front ends read may be: each
// limit stated once. A file past its limit is refused from its size, before
// it is read, so that no file makes a run take memory out of all measure.
#pragma once

#include <cstdint>

namespace libtorv {

// An image file may hold more than its pixels (headers, a colour table, four
// bytes a pixel, PNG's framing); beyond this, for an image of `width` x
// `height` pixels, it is refused unread.
constexpr std::uint64_t largest_image_file(std::int64_t width, std::int64_t height) {
    constexpr std::uint64_t file_bytes_per_pixel = 5;
    constexpr std::uint64_t file_overhead = 1 << 20;
    const std::int64_t pixels = width > 0 && height > 0 ? width * height : 0;
    return static_cast<std::uint64_t>(pixels) * file_bytes_per_pixel + file_overhead;
}

// The largest file a patch may make, or be applied to: far above any
// layout's files.
inline constexpr std::uint64_t largest_patched_file = std::uint64_t{1} << 28;

// The largest patch: every byte of the largest file given, and its actions.
inline constexpr std::uint64_t largest_patch = largest_patched_file + (largest_patched_file >> 3) + (1 << 20);

// The largest manifest: hundreds of thousands of images.
inline constexpr std::uint64_t largest_manifest = std::uint64_t{256} << 20;

}  // namespace libtorv
