// PNG files as editors save them, written with libpng, for the tests that
// put a PNG in place of a BMP. Builds without libpng write none.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace torv::test {

// An indexed PNG of an 8-bit BMP as torv writes it (colour table and rows),
// or nothing where this build has no libpng.
std::optional<std::vector<std::uint8_t>> png_of_bmp(const std::vector<std::uint8_t>& bmp);

}  // namespace torv::test
