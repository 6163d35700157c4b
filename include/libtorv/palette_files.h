// A game palette as the files paint programs load, so that a modder paints
// with exactly the colours the game can show: each 15-bit entry as torv
// writes it (levels x 8), all 256 in order.
//
//   .gpl  GIMP:        "GIMP Palette", "Name: ...", "Columns: 16", "#", then
//                      "  r   g   b\tIndex k" a line
//   .pal  JASC (Paint Shop Pro, GraphicsGale, Aseprite): "JASC-PAL", "0100",
//                      "256", then "r g b" a line, each line ending CR LF
//   .act  Adobe:       256 x (r, g, b) bytes, then the count (256) and the
//                      transparent entry (none: 0xFFFF), both big-endian
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "libtorv/types.h"

namespace libtorv {

enum class palette_format : std::uint8_t { gpl, pal, act };
inline constexpr palette_format palette_formats[] = {palette_format::gpl, palette_format::pal, palette_format::act};

// ".gpl", ".pal" or ".act".
std::string_view palette_extension(palette_format format);

// The file of `palette` in `format`; `name` is what GIMP shows (UTF-8,
// one line; the other formats have no name).
bytes palette_file(std::span<const std::uint16_t, 256> palette, palette_format format, std::string_view name);

}  // namespace libtorv
