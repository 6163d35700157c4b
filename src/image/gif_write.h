// Writes indexed images as the frames of an animated GIF (through giflib):
// each frame with its own palette as a local colour table, so that every
// frame's colours are exact, shown for the given hundredths of a second, the
// animation looping for ever.
//
//   "GIF89a", logical screen (no global colour table)
//   "NETSCAPE2.0" application extension: loop for ever
//   each frame: graphic control extension (its delay), image descriptor
//     with a 256-entry local colour table, the LZW-compressed indices
//   trailer
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "image/image.h"
#include "image/palette.h"
#include "io/result.h"

namespace torv {

struct gif_file;  // giflib's, while the animation is written

struct gif_animation {
    gif_animation();
    gif_animation(const gif_animation&) = delete;
    gif_animation& operator=(const gif_animation&) = delete;
    ~gif_animation();

    std::function<void(std::span<const std::uint8_t>)> out;
    std::unique_ptr<gif_file> file;
    bool out_of_memory = false;  // `out` could not take what giflib wrote
};

// Starts an animation of `width` x `height` frames, written to `out`.
// unsupported_image in a build without giflib.
result<> begin_gif(gif_animation& gif, std::int32_t width, std::int32_t height,
                   std::function<void(std::span<const std::uint8_t>)> out);

// Adds a frame shown for `delay` hundredths of a second.
result<> add_gif_frame(gif_animation& gif, const indexed_image& image, const rgb15_palette& palette,
                       std::uint16_t delay);

// Ends the animation.
result<> end_gif(gif_animation& gif);

// The delay of frame `k` at `per_second` frames a second, in hundredths:
// the hundredths fall where the frames do (at 12: 8, 9, 8, 8, 9, 8, ...).
std::uint16_t gif_delay(std::size_t k, unsigned per_second);

}  // namespace torv
