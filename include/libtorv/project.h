// libtorv for a whole game at once: a project of editable images made from
// the game's source files (its manifest: libtorv/manifest.h); what changed in
// it; and the sources rebuilt from it where its images changed, with BPS
// patches (libtorv/patch.h) that turn a game's file into the rebuilt one.
//
//   game folder: data/intro.bin, ...
//     -> project: torv-project.json, data/intro/intro000.png, ...
//   project (edited) + game folder
//     -> status: what changed, what is missing, what is refused
//     -> build: the rebuilt sources and their patches (data/intro.bin.bps),
//        every failure of every source, or nothing
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

#include "libtorv/checksums.h"
#include "libtorv/limits.h"
#include "libtorv/manifest.h"
#include "libtorv/patch.h"
#include "libtorv/result.h"
#include "libtorv/types.h"

namespace libtorv {

// ---------------------------------------------------------------------------
// Unpacking.

struct unpack_settings {
    image_format images = image_format::png;  // indexed PNGs with their full palette, or BMPs as torv writes them
    bool gif = false;                         // a frame sequence's frames also as <stem>.gif, 12 frames a second
    // Each distinct palette the images use, once, as <stem>-palette<N> .gpl,
    // .pal and .act (libtorv/palette_files.h; no number if there is one),
    // and <stem>-palettes.txt saying which images use which.
    bool palettes = false;
    unsigned jobs = 1;  // threads; the files are the same for every number
    // The file's SHA-256 (64 lower-case hex digits) where the caller has it
    // already (a page has the browser's, far quicker than WebAssembly's), or
    // empty; bad_argument for anything else.
    std::string file_sha256;
};

// True for the files unpack_settings::palettes writes beside the images of
// the source whose images are named `prefix`NNN ("intro" for intro.bin).
bool is_palette_file(std::string_view prefix, std::string_view name);

// A file of the project, within its source's folder.
struct project_file {
    std::string name;
    bytes contents;
};

// Makes the project files of the source file held in `file` (its path
// within the game folder `path`): each image named as torv names it with an
// empty drive. Each file is handed to `put` as it is made, in the order of
// the images. Gives the source's manifest entry, or the first failure of
// `put`; no_layout for a file of the size of no layout.
result<project_source> unpack_to_project(std::string_view path, std::span<const std::uint8_t> file,
                                         const unpack_settings& settings,
                                         const std::function<result<>(const project_file&)>& put);

// ---------------------------------------------------------------------------
// What changed.

// An entry of a folder of the project.
struct folder_entry {
    enum class kind : std::uint8_t { file, link, folder, other };
    std::string name;
    kind type = kind::file;
    std::int64_t size = 0;  // a file's
};

// The project's files, wherever the front end keeps them. Paths are
// relative to the project, '/' between folders.
struct project_folder {
    // The entries of a folder (a source's), or why it cannot be listed; a
    // folder that is not there has none.
    std::function<result<std::vector<folder_entry>>(const std::string& folder)> list;
    // The bytes of a file; one larger than `max_bytes` is refused unread
    // (file_too_large).
    std::function<result<bytes>(const std::string& path, std::uint64_t max_bytes)> read;
};

// What became of the images of one source.
struct source_status {
    // Per image of the manifest, the file in the folder that holds it now:
    // its own name, or the other kind's ("four1.bmp" for "four1.png"), or
    // empty if there is none.
    std::vector<std::string> files;
    std::vector<std::size_t> changed;  // the images whose files differ from what was unpacked
    std::vector<std::string> added;    // frames after the original's last, by file name, in order
    std::vector<failure> problems;     // what keeps it from being built, one line each
    std::vector<std::string> others;   // files of its folder that are no image, left alone
};

struct project_status {
    std::vector<source_status> sources;  // one a source of the manifest, in its order
};

// Each source's images against its folder, read on `jobs` threads. An image
// is found under its own name or as the other kind of file (a BMP in a PNG
// project, or a PNG in a BMP one), whatever its content; a file that is an
// image of no place, an editor's own file, a link, or an image file far
// larger than its image could be is a problem, named.
project_status status_of_project(const project_manifest& manifest, const project_folder& folder, unsigned jobs = 1);

// True if a source has anything to build: an image changed or added.
bool has_changes(const source_status& status);

// The files of a project (`paths`, all of them) that are neither its
// manifest nor directly in a source's folder.
std::vector<std::string> files_outside_sources(const project_manifest& manifest, const std::vector<std::string>& paths);

// ---------------------------------------------------------------------------
// Building.

struct build_settings {
    bool nearest = false;            // colours the palettes lack go to the nearest entry
    bool fit = false;                // any picture made the best the palettes and room allow (pack_settings::fit)
    bool copy_unchanged = false;     // the unchanged sources are handed out too
    bool patches = false;            // a BPS patch of each rebuilt source too
    std::optional<patch_info> info;  // what the mod is, in each patch's metadata (patch_metadata)
    unsigned jobs = 1;               // threads; the files are the same for every number
    option_words words;              // for the messages
};

// A file a build makes: a source rebuilt (or copied), by its path in the
// game folder, or its patch ("data/intro.bin.bps").
struct build_output {
    std::string path;
    bool patch = false;
    bytes contents;
};

struct build_result {
    std::vector<std::string> report;  // a line a source built (as build_line) and a line a patch
    std::size_t unchanged = 0;        // sources with nothing to write
    std::size_t copied = 0;           // of those, handed out as they were
    std::vector<failure> failures;    // every failure of every source: if any, nothing may be written
};

// Reads a game's file by its path in the game folder: the file the project
// was made from.
using game_reader = std::function<result<bytes>(const std::string& path)>;

// Builds each source with an image changed or added, as torv-pack packs it
// with its game file as the original: the file made is decoded again and
// every image compared with the project's. Every other source's game file
// is checked to be the one the project was made from (original_changed).
// Each file made is handed to `put` as soon as it is made (a failure of `put`
// is one of the build's). Goes on past a failing source to report every
// problem of every source.
build_result build_project(const project_manifest& manifest, const project_status& status, const project_folder& folder,
                           const game_reader& game, const build_settings& settings,
                           const std::function<result<>(build_output&&)>& put);

// A source rebuilt from its project: the packed file, what packing said, and
// whether it is the original's bytes after all (images re-saved without a
// change to what they show).
struct built_source {
    bytes packed;
    pack_result packing;
    bool same_as_original = false;
};

// Packs the images of `source` as `status` found them, from its folder in
// `folder`, into a file of its layout, as torv-pack packs them with
// `original` (original_changed if that is not the file the project was made
// from). The unchanged images are the original's, not read. The packed file
// is decoded again and every image compared with the project's. A failure
// names every image that failed, one line each.
result<built_source> build_from_project(const project_source& source, const source_status& status,
                                        std::span<const std::uint8_t> original, const project_folder& folder,
                                        const pack_settings& settings);

// What a build says of a source it built: "data/four.bin: 1 image changed
// (four2.png); block: 12,345 of 56,789 bytes", with the pixels that went to
// the nearest colour, or, for images saved again without a change to what
// they show, that nothing is written.
std::string build_line(const project_source& source, const source_status& status, const built_source& built);

}  // namespace libtorv
