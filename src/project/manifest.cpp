// The project's manifest as JSON (nlohmann::json), its keys in a fixed
// order so that the same project gives the same text:
//
//   {
//     "project": "torv-project",
//     "format": 1,
//     "tool": "1.1.0",
//     "images": "png",
//     "sources": [
//       {
//         "path": "data/intro.bin", "size": 9486336, "layout": "frame_sequence",
//         "crc32": "1c291ca3", "sha256": "<64 hex digits>", "folder": "data/intro",
//         "images": [{"file": "intro000.png", "width": 320, "height": 224, "sha256": "..."}, ...],
//         "animation": {"file": "intro.gif", "sha256": "..."}
//       }, ...
//     ]
//   }
#include <cstdio>
#include <nlohmann/json.hpp>

#include "format/layouts.h"
#include "io/result.h"
#include "libtorv/project.h"

namespace libtorv {

namespace {

using json = nlohmann::ordered_json;
using torv::failure_of;

constexpr std::string_view project_kind = "torv-project";

std::string hex32(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
    return text;
}

json image_json(const project_image& image, bool sized) {
    json out;
    out["file"] = image.file;
    if (sized) {
        out["width"] = image.width;
        out["height"] = image.height;
    }
    out["sha256"] = image.sha256;
    return out;
}

failure not_a_manifest(const std::string& why) {
    return failure_of(code::bad_project, std::string(manifest_name) + " is not a torv-project manifest: " + why);
}

// A field of an object, of the type wanted; a failure naming it otherwise.
template <class T>
result<T> field(const json& object, const char* name, const std::string& where) {
    const auto found = object.find(name);
    if (found == object.end()) {
        return not_a_manifest(where + " has no \"" + name + "\"");
    }
    try {
        return found->get<T>();
    } catch (const json::exception&) {
        return not_a_manifest(where + "'s \"" + name + "\" is not what it should be");
    }
}

result<project_image> read_image(const json& entry, const std::string& where, bool sized) {
    if (!entry.is_object()) {
        return not_a_manifest(where + " is not an object");
    }
    project_image image;
    result<std::string> file = field<std::string>(entry, "file", where);
    result<std::string> sha = field<std::string>(entry, "sha256", where);
    if (!file)
        return file.error();
    if (!sha)
        return sha.error();
    image.file = *file;
    image.sha256 = *sha;
    if (sized) {
        result<std::int32_t> width = field<std::int32_t>(entry, "width", where);
        result<std::int32_t> height = field<std::int32_t>(entry, "height", where);
        if (!width)
            return width.error();
        if (!height)
            return height.error();
        image.width = *width;
        image.height = *height;
    }
    // A name that leaves its folder is no project's.
    if (image.file.empty() || image.file.find_first_of("/\\") != std::string::npos || image.file == "." ||
        image.file == "..") {
        return not_a_manifest(where + "'s file \"" + image.file + "\" is not a name within its folder");
    }
    return image;
}

bool is_relative_path(const std::string& path) {
    if (path.empty() || path.front() == '/' || path.find('\\') != std::string::npos ||
        path.find(':') != std::string::npos) {
        return false;
    }
    std::size_t from = 0;
    while (from <= path.size()) {
        const std::size_t to = std::min(path.find('/', from), path.size());
        const std::string part = path.substr(from, to - from);
        if (part.empty() || part == "." || part == "..")
            return false;
        from = to + 1;
    }
    return true;
}

result<project_source> read_source(const json& entry, std::size_t k) {
    const std::string where = "source " + std::to_string(k + 1);
    if (!entry.is_object()) {
        return not_a_manifest(where + " is not an object");
    }
    project_source source;
    result<std::string> path = field<std::string>(entry, "path", where);
    result<std::int64_t> size = field<std::int64_t>(entry, "size", where);
    result<std::string> layout = field<std::string>(entry, "layout", where);
    result<std::string> crc = field<std::string>(entry, "crc32", where);
    result<std::string> sha = field<std::string>(entry, "sha256", where);
    result<std::string> folder = field<std::string>(entry, "folder", where);
    for (const result<std::string>* text : {&path, &layout, &crc, &sha, &folder}) {
        if (!*text)
            return text->error();
    }
    if (!size)
        return size.error();
    if (!is_relative_path(*path) || !is_relative_path(*folder)) {
        return not_a_manifest(where + "'s path or folder is not a relative path within its folder");
    }
    source.path = *path;
    source.size = *size;
    source.layout = *layout;
    source.sha256 = *sha;
    source.folder = *folder;
    try {
        std::size_t used = 0;
        source.crc32 = static_cast<std::uint32_t>(std::stoul(*crc, &used, 16));
        if (used != crc->size())
            throw std::invalid_argument("crc32");
    } catch (const std::exception&) {
        return not_a_manifest(where + "'s crc32 is not a hex number");
    }
    const auto images = entry.find("images");
    if (images == entry.end() || !images->is_array()) {
        return not_a_manifest(where + " has no list of images");
    }
    for (std::size_t i = 0; i < images->size(); ++i) {
        result<project_image> image = read_image((*images)[i], where + "'s image " + std::to_string(i + 1), true);
        if (!image)
            return image.error();
        source.images.push_back(std::move(*image));
    }
    if (const auto animation = entry.find("animation"); animation != entry.end()) {
        result<project_image> gif = read_image(*animation, where + "'s animation", false);
        if (!gif)
            return gif.error();
        source.animation = std::move(*gif);
    }
    return source;
}

}  // namespace

std::string manifest_json(const project_manifest& manifest) {
    json out;
    out["project"] = project_kind;
    out["format"] = manifest.format;
    out["tool"] = manifest.tool;
    out["images"] = manifest.images == image_format::bmp ? "bmp" : "png";
    json sources = json::array();
    for (const project_source& source : manifest.sources) {
        json entry;
        entry["path"] = source.path;
        entry["size"] = source.size;
        entry["layout"] = source.layout;
        entry["crc32"] = hex32(source.crc32);
        entry["sha256"] = source.sha256;
        entry["folder"] = source.folder;
        json images = json::array();
        for (const project_image& image : source.images) images.push_back(image_json(image, true));
        entry["images"] = std::move(images);
        if (source.animation) {
            entry["animation"] = image_json(*source.animation, false);
        }
        sources.push_back(std::move(entry));
    }
    out["sources"] = std::move(sources);
    return out.dump(2) + "\n";
}

result<project_manifest> read_manifest(std::string_view text) {
    const json in = json::parse(text.begin(), text.end(), nullptr, false);
    if (in.is_discarded() || !in.is_object()) {
        return not_a_manifest("it is not JSON");
    }
    const auto kind = in.find("project");
    if (kind == in.end() || *kind != project_kind) {
        return not_a_manifest("it does not say \"project\": \"torv-project\"");
    }
    result<int> format = field<int>(in, "format", "it");
    if (!format)
        return format.error();
    const std::string tool = in.value("tool", std::string("?"));
    if (*format != project_format) {
        failure why = failure_of(
            code::project_version,
            "the project is of format " + std::to_string(*format) + " (made by torv-project " + tool +
                "), and this torv-project reads format " + std::to_string(project_format) +
                (*format > project_format ? ": a newer torv-project made it" : ": it is older than this one reads"));
        why.needed = *format;
        why.room = project_format;
        return why;
    }
    project_manifest manifest;
    manifest.format = *format;
    manifest.tool = tool;
    const std::string images = in.value("images", std::string());
    if (images != "png" && images != "bmp") {
        return not_a_manifest("its images are neither \"png\" nor \"bmp\"");
    }
    manifest.images = images == "bmp" ? image_format::bmp : image_format::png;
    const auto sources = in.find("sources");
    if (sources == in.end() || !sources->is_array()) {
        return not_a_manifest("it has no list of sources");
    }
    for (std::size_t k = 0; k < sources->size(); ++k) {
        result<project_source> source = read_source((*sources)[k], k);
        if (!source)
            return source.error();
        manifest.sources.push_back(std::move(*source));
    }
    return manifest;
}

namespace {

constexpr std::string_view source_extension = ".bin";

// True if `path` ends in ".bin", in any case.
bool has_source_extension(std::string_view path) {
    if (path.size() < source_extension.size()) {
        return false;
    }
    std::string end(path.substr(path.size() - source_extension.size()));
    for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == source_extension;
}

}  // namespace

std::string project_folder_of(std::string_view path) {
    if (path.size() > source_extension.size() && has_source_extension(path)) {
        return std::string(path.substr(0, path.size() - source_extension.size()));
    }
    return std::string(path) + ".images";
}

game_file kind_of_game_file(std::string_view name, std::int64_t size) {
    if (!has_source_extension(name)) {
        return game_file::unrelated;
    }
    return torv::find_layout(size) != nullptr ? game_file::source : game_file::other_size;
}

}  // namespace libtorv
