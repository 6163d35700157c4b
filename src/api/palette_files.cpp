// libtorv/palette_files.h: the game's palettes as paint programs' files.
#include "libtorv/palette_files.h"

#include "image/palette.h"

namespace libtorv {

namespace {

constexpr std::string_view gpl_magic = "GIMP Palette\n";
constexpr std::string_view jasc_head = "JASC-PAL\r\n0100\r\n256\r\n";
constexpr int gpl_columns = 16;
constexpr std::uint16_t act_count = 256;
constexpr std::uint16_t act_no_transparent_entry = 0xFFFF;

// A name on one line, as GIMP reads its "Name:" line.
std::string one_line(std::string_view name) {
    std::string out;
    for (const char c : name) out += (c == '\n' || c == '\r') ? ' ' : c;
    return out;
}

std::string padded(unsigned value) {
    std::string text = std::to_string(value);
    return std::string(3 - text.size(), ' ') + text;
}

void append(bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

void put_u16be(bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

}  // namespace

std::string_view palette_extension(palette_format format) {
    switch (format) {
        case palette_format::gpl: return ".gpl";
        case palette_format::pal: return ".pal";
        case palette_format::act: break;
    }
    return ".act";
}

bytes palette_file(std::span<const std::uint16_t, 256> palette, palette_format format, std::string_view name) {
    bytes out;
    switch (format) {
        case palette_format::gpl:
            append(out, gpl_magic);
            append(out, "Name: " + one_line(name) + "\nColumns: " + std::to_string(gpl_columns) + "\n#\n");
            for (std::size_t k = 0; k < palette.size(); ++k) {
                const torv::rgb8 colour = torv::rgb8_of(palette[k]);
                append(out, padded(colour.red) + " " + padded(colour.green) + " " + padded(colour.blue) + "\tIndex " +
                                std::to_string(k) + "\n");
            }
            break;
        case palette_format::pal:
            append(out, jasc_head);
            for (const std::uint16_t entry : palette) {
                const torv::rgb8 colour = torv::rgb8_of(entry);
                append(out, std::to_string(colour.red) + " " + std::to_string(colour.green) + " " +
                                std::to_string(colour.blue) + "\r\n");
            }
            break;
        case palette_format::act:
            for (const std::uint16_t entry : palette) {
                const torv::rgb8 colour = torv::rgb8_of(entry);
                out.insert(out.end(), {colour.red, colour.green, colour.blue});
            }
            put_u16be(out, act_count);
            put_u16be(out, act_no_transparent_entry);
            break;
    }
    return out;
}

}  // namespace libtorv
