#include "project_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "png_file.h"
#include "samples.h"

namespace torv::test {

namespace fs = std::filesystem;

game_scene::game_scene()
    : four(samples::make_four_image_block()),
      panels(samples::make_three_panel_block()),
      intro(samples::make_frame_sequence(12)) {
    dir.write("game/data/four.bin", four);
    dir.write("game/data/panels.bin", panels);
    dir.write("game/sub/intro.bin", intro);
    dir.write("game/data/notes.bin", {1, 2, 3});
}

run_result game_scene::project(const std::vector<std::string>& args, run_options options) const {
    return dir.run_project(args, options);
}

bool game_scene::unpack(const std::string& folder, const std::vector<std::string>& more) const {
    std::vector<std::string> args = {"unpack", "game", folder, "-q"};
    args.insert(args.end(), more.begin(), more.end());
    const run_result result = project(args);
    EXPECT_EQ(result.status, 0) << result.errors;
    return result.status == 0;
}

bool game_scene::edit(const std::string& path, const bytes& source, const std::string& name) const {
    const std::optional<bytes> png = edited_png(source, name);
    if (png)
        dir.write(path, *png);
    return png.has_value();
}

std::map<std::string, bytes> tree(const scratch_dir& dir, const std::string& folder) {
    std::map<std::string, bytes> files;
    for (const std::string& name : dir.files()) {
        if (name.starts_with(folder + "/"))
            files[name.substr(folder.size() + 1)] = dir.read(name);
    }
    return files;
}

std::vector<std::string> everything(const scratch_dir& dir) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        found.push_back(entry.path().lexically_relative(dir.path()).generic_string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::map<std::string, bytes> torv_images(const bytes& source) {
    scratch_dir dir;
    dir.write("s.bin", source);
    const run_result converted = dir.run({"s.bin", ""});
    EXPECT_EQ(converted.status, 0) << converted.output;
    std::map<std::string, bytes> images;
    for (const std::string& name : dir.files()) {
        if (name.ends_with(".bmp"))
            images[name] = dir.read(name);
    }
    return images;
}

bytes scribbled(bytes bmp, std::size_t at) {
    for (std::size_t k = 0; k < 200; ++k) bmp[1078 + at + k] = bmp[1078 + 20 + (k % 7)];
    return bmp;
}

std::optional<bytes> edited_png(const bytes& source, const std::string& name, std::size_t at) {
    return png_of_bmp(scribbled(torv_images(source).at(name), at));
}

}  // namespace torv::test
