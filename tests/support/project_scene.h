// A game folder for torv-project's end-to-end tests, and what they look at:
// the files a folder holds, the images torv writes, an image edited.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "harness.h"

namespace torv::test {

// A game folder: two single-record sources, a frame sequence in a folder of
// its own, and a file of no layout's size.
struct game_scene {
    scratch_dir dir;
    bytes four;
    bytes panels;
    bytes intro;

    game_scene();
    run_result project(const std::vector<std::string>& args, run_options options = {}) const;
    // Unpacks the game folder into `folder`, quietly; false if it failed.
    bool unpack(const std::string& folder = "proj", const std::vector<std::string>& more = {}) const;
    // Writes at `path` the image torv names `name` of `source`, edited, as
    // an indexed PNG; false where this build writes no PNG.
    bool edit(const std::string& path, const bytes& source, const std::string& name) const;
};

// The files below `folder` of the scratch folder, by name, with what they hold.
std::map<std::string, bytes> tree(const scratch_dir& dir, const std::string& folder);

// Every entry below the scratch folder (folders, links and all), by name.
std::vector<std::string> everything(const scratch_dir& dir);

// The BMP files torv writes for a source, by name ("s000.bmp", ...).
std::map<std::string, bytes> torv_images(const bytes& source);

// A BMP as torv writes it, with a stripe of its pixels changed to colours the
// image already shows.
bytes scribbled(bytes bmp, std::size_t at = 3000);

// The image torv names `name` of `source`, scribbled, as an indexed PNG (or
// nothing where this build writes no PNG).
std::optional<bytes> edited_png(const bytes& source, const std::string& name, std::size_t at = 3000);

}  // namespace torv::test
