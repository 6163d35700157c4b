// A project's manifest: what each source file of the game was, and which
// images were made of it, as JSON text (torv-project.json).
//
//   game folder: data/intro.bin, ...
//     -> project: torv-project.json, data/intro/intro000.png, ...
//
// Names are kept as the game folder's system gives them, byte for byte: one
// that is not UTF-8 (an old CD's "caf\xe9.bin") is written for people with
// U+FFFD in place of each byte that is not, and, beside it, byte for byte
// as hex digits ("path_bytes": "636166e92e62696e"), which is what is read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "libtorv/result.h"

namespace libtorv {

inline constexpr int project_format = 1;  // the project format this library writes and reads
inline constexpr std::string_view manifest_name = "torv-project.json";

enum class image_format : std::uint8_t { png, bmp };

struct project_image {
    std::string file;  // within its source's folder: "intro000.png"
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::string sha256;  // of the file as written
};

struct project_source {
    std::string path;  // within the game folder, '/' between folders: "data/intro.bin"
    std::int64_t size = 0;
    std::string layout;  // "frame_sequence", ...
    std::uint32_t crc32 = 0;
    std::string sha256;
    std::string folder;  // its images' folder within the project: "data/intro"
    std::vector<project_image> images;
    std::optional<project_image> animation;  // a frame sequence's GIF, if one was made
};

struct project_manifest {
    int format = project_format;
    std::string tool;  // the version of what made it: "1.1.0"
    image_format images = image_format::png;
    std::vector<project_source> sources;
};

// The manifest as JSON text; the same manifest gives the same bytes.
std::string manifest_json(const project_manifest& manifest);

// The manifest in `text`, every field checked for its type and range (a
// known layout, a size and images of that layout's, checksums of so many hex
// digits, names within their folders, no source or image twice): bad_project
// naming the field if it is no manifest of ours; project_version if its
// format is one this library does not read (newer, or older than it reads),
// with both versions named. Never throws but for memory.
result<project_manifest> read_manifest(std::string_view text);

// The folder a source's images go into: its path without ".bin" (any case),
// or with ".images" added where it has no such ending.
std::string project_folder_of(std::string_view path);

// What a game folder's file is to a project, by its name and size: a source
// (a name that ends in ".bin", in any case, and the size of a layout); a
// ".bin" file of no layout's size, left alone (and said so); or neither.
enum class game_file : std::uint8_t { source, other_size, unrelated };
game_file kind_of_game_file(std::string_view name, std::int64_t size);

// Sources (their paths in the game folder) that one project cannot hold
// together, each pair named: two whose images would share a folder, where
// names that differ only in case count as one (as on Windows and in zips).
std::vector<std::string> clashing_sources(const std::vector<std::string>& paths);

// True if `path` ('/' between its parts) stays within the folder it is
// relative to: not empty, no part empty, "." or "..", no NUL.
bool is_path_within(std::string_view path);

}  // namespace libtorv
