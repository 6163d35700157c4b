// Several edited images sharing a palette or a block: what they lose is
// spread so that their qualities are as even as may be. Both searches (the
// colours chosen, the change that fits the room) weigh each image anew
// until its PSNR is near the others'.
//
//   an image d dB below the others' mean counts 10^(d / 10) times more:
//   at the margin its squared error goes as 1 / its weight
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace torv::evenness {

// How far apart the qualities may be (dB of PSNR), and how many times the
// search is run anew to bring them nearer.
inline constexpr double even_enough_db = 0.5;
inline constexpr int rounds = 3;
// Beyond this, a difference is not to be seen: above it, an image needs no
// evening (its PSNR counts as this).
inline constexpr double invisible_db = 50;

inline double seen(double psnr) {
    return std::min(invisible_db, psnr);
}

inline double spread_of(const std::vector<double>& psnr) {
    if (psnr.empty())
        return 0;
    const auto [low, high] = std::minmax_element(psnr.begin(), psnr.end());
    return *high - *low;
}

// The factor each image's weight is multiplied by for the next round.
inline std::vector<double> reweighing(const std::vector<double>& psnr) {
    double mean = 0;
    for (const double q : psnr) mean += q / static_cast<double>(psnr.size());
    std::vector<double> factors;
    for (const double q : psnr) factors.push_back(std::pow(10.0, (mean - q) / 10));
    return factors;
}

}  // namespace torv::evenness
