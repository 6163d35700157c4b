// How near a picture shown is to the one given: the figures a person can
// weigh what a change cost by. Both are 8-bit sRGB pixels, row-major.
//
//   PSNR        peak signal to noise over the three channels, in dB (more
//               is nearer; identical pictures are infinitely near)
//   SSIM        structural similarity of their lightness (Wang, Bovik,
//               Sheikh and Simoncelli, 2004): an 11-pixel Gaussian window
//               (sigma 1.5), over the pixels the whole window covers; 1 is
//               the same
//   OKLab mean  the mean difference a pixel shows, in OKLab (image/oklab.h):
//               0.01 is about what an eye can just tell apart side by side
#pragma once

#include <cstdint>
#include <span>

#include "image/palette.h"

namespace torv {

struct picture_quality {
    double psnr = 0;
    double ssim = 0;
    double oklab_mean = 0;
};

picture_quality quality_of(std::span<const rgb8> given, std::span<const rgb8> shown, std::int32_t width,
                           std::int32_t height);

// The PSNR alone, for searches that weigh many candidates.
double psnr_of(std::span<const rgb8> given, std::span<const rgb8> shown);

}  // namespace torv
