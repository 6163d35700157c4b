// libtorv for a whole game at once: a project of editable images made from
// the game's source files, with a manifest that says what each file was and
// held; the sources rebuilt from the project where its images changed; and
// BPS patches that turn a game's file into the rebuilt one.
//
//   game folder: data/intro.bin, ...
//     -> project: torv-project.json (the manifest), data/intro/intro000.png, ...
//   project (edited) + game folder
//     -> rebuilt sources, and their patches (data/intro.bin.bps)
//
// Nothing here prints, reads or writes files: the bytes come in and go out
// through the caller (torv-project does files; the page does zips).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "libtorv/result.h"
#include "libtorv/types.h"

namespace libtorv {

// ---------------------------------------------------------------------------
// Checksums and patches.

// The CRC32 of bytes (as zip, PNG and BPS keep it) and their SHA-256, as 64
// lower-case hex digits.
std::uint32_t crc32_of(std::span<const std::uint8_t> data);
std::string sha256_of(std::span<const std::uint8_t> data);

// A BPS patch from `source` to `target`: standard BPS ("BPS1", the source's,
// the target's and the patch's CRC32; source-read, target-read, source-copy
// and target-copy actions), as common patchers apply it.
bytes bps_patch(std::span<const std::uint8_t> source, std::span<const std::uint8_t> target);

// What a patch says of the file it is for and the file it makes.
struct patch_facts {
    std::uint64_t source_size = 0;
    std::uint32_t source_crc32 = 0;
    std::uint64_t target_size = 0;
    std::uint32_t target_crc32 = 0;
};
result<patch_facts> facts_of_patch(std::span<const std::uint8_t> patch);

// The file a patch makes of `source`, the source's size and CRC32 checked
// first: wrong_source for another file, bad_patch for a patch cut short or
// changed.
result<bytes> apply_patch(std::span<const std::uint8_t> patch, std::span<const std::uint8_t> source);

// ---------------------------------------------------------------------------
// The manifest.

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

// The manifest in `text`: bad_project if it is no manifest of ours;
// project_version if its format is one this library does not read (newer,
// or older than it reads), with both versions named.
result<project_manifest> read_manifest(std::string_view text);

// The folder a source's images go into: its path without ".bin" (any case).
std::string project_folder_of(std::string_view path);

// What a game folder's file is to a project, by its name and size: a source
// (a name that ends in ".bin", in any case, and the size of a layout); a
// ".bin" file of no layout's size, left alone (and said so); or neither.
enum class game_file : std::uint8_t { source, other_size, unrelated };
game_file kind_of_game_file(std::string_view name, std::int64_t size);

// ---------------------------------------------------------------------------
// Unpacking and building.

// A file of the project, within its source's folder.
struct project_file {
    std::string name;
    bytes contents;
};

// Makes the project files of the source file held in `file` (its path
// within the game folder `path`): each image named as torv names it with an
// empty drive, as an indexed PNG with its full palette or a BMP, and with
// `gif` a frame sequence's frames as <stem>.gif (12 frames a second, each
// with its own palette). Each file is handed to `put` as it is made, in the
// order of the images; `jobs` threads make them (the files are the same for
// every number). Gives the source's manifest entry, or the first failure of
// `put`. no_layout for a file of the size of no layout. `file_sha256` is
// the file's SHA-256 (64 lower-case hex digits) where the caller has it
// already (a page has the browser's, far quicker than WebAssembly's), or
// empty; bad_argument for anything else.
result<project_source> unpack_to_project(std::string_view path, std::span<const std::uint8_t> file, image_format images,
                                         bool gif, unsigned jobs,
                                         const std::function<result<>(const project_file&)>& put,
                                         std::string_view file_sha256 = {});

// What became of an image of the project since it was unpacked.
enum class image_state : std::uint8_t { unchanged, changed, missing, unreadable };

// The state of each image of `source`, from the files in its folder:
// `read(name)` gives a file's bytes or why not (cannot_open and the like for
// a file that is missing); it is called on `jobs` threads at once.
std::vector<std::pair<image_state, std::string>> image_states(
    const project_source& source, const std::function<result<bytes>(const std::string& name)>& read, unsigned jobs = 1);

// A source rebuilt from its project: the packed file, what packing said, and
// whether it is the original's bytes after all (images re-saved without a
// change to what they show).
struct built_source {
    bytes packed;
    pack_result packing;
    bool same_as_original = false;
};

// Packs the images of `source` from `files` (its folder's project files, by
// name) into a file of its layout, as torv-pack packs them with `original`
// (which must be the file the project was made from: original_changed if it
// is not). The images in `changed` are read from their files; the others,
// unchanged, are the original's. The packed file is decoded again and every
// image compared with the project's: a difference is a failure.
result<built_source> build_from_project(const project_source& source, std::span<const std::uint8_t> original,
                                        const std::vector<std::string>& changed, const image_folder& files,
                                        const pack_settings& settings);

// What a build says of a source it built from the images in `changed`:
// "data/four.bin: 1 image changed (four2.png); block: 12,345 of 56,789
// bytes", or, for images saved again without a change to what they show,
// that nothing is written.
std::string build_line(const project_source& source, const std::vector<std::string>& changed,
                       const built_source& built);

}  // namespace libtorv
