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
//
// A name that is not UTF-8 ("path", "folder", "file") is written with U+FFFD
// for each byte that is not, and its bytes beside it as hex digits
// ("path_bytes"), which reading takes instead.
#include "libtorv/manifest.h"

#include <algorithm>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "format/layouts.h"
#include "io/result.h"
#include "io/words.h"
#include "libtorv/checksums.h"
#include "libtorv/project.h"

namespace libtorv {

namespace {

using json = nlohmann::ordered_json;
using torv::failure_of;

constexpr std::string_view project_kind = "torv-project";
constexpr std::string_view bytes_suffix = "_bytes";
constexpr std::size_t crc32_digits = 8;
constexpr std::size_t sha256_digits = 64;
constexpr std::size_t longest_shown_value = 40;

// ---------------------------------------------------------------------------
// Names in UTF-8, or not.

// The length of the UTF-8 sequence that starts `text` (1 to 4), or 0 if it
// is none: overlong forms, surrogates and values past U+10FFFF are none.
std::size_t utf8_sequence(std::string_view text) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const auto follows = [&](std::size_t k) { return k < text.size() && (byte(k) & 0xC0) == 0x80; };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return follows(1) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!follows(1) || !follows(2))
            return 0;
        if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0))
            return 0;  // overlong, or a surrogate
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!follows(1) || !follows(2) || !follows(3))
            return 0;
        if ((lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90))
            return 0;  // overlong, or past U+10FFFF
        return 4;
    }
    return 0;
}

bool is_utf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8_sequence(text.substr(at));
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

// For people: each byte that is not UTF-8 as U+FFFD.
std::string as_utf8(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8_sequence(text.substr(at));
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++at;
        } else {
            out += text.substr(at, length);
            at += length;
        }
    }
    return out;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool is_hex(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return hex_digit(c) >= 0; });
}

std::optional<std::string> bytes_of_hex(std::string_view text) {
    if (text.size() % 2 != 0 || !is_hex(text)) {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t k = 0; k < text.size(); k += 2) {
        out += static_cast<char>(hex_digit(text[k]) * 16 + hex_digit(text[k + 1]));
    }
    return out;
}

// ---------------------------------------------------------------------------
// Writing.

void put_name(json& out, const char* key, const std::string& name) {
    out[key] = as_utf8(name);
    if (!is_utf8(name)) {
        out[std::string(key) + std::string(bytes_suffix)] = torv::hex_of(name);
    }
}

json image_json(const project_image& image, bool sized) {
    json out;
    put_name(out, "file", image.file);
    if (sized) {
        out["width"] = image.width;
        out["height"] = image.height;
    }
    out["sha256"] = image.sha256;
    return out;
}

// ---------------------------------------------------------------------------
// Reading: every field checked for its type and range.

failure not_a_manifest(const std::string& why) {
    return failure_of(code::bad_project, std::string(manifest_name) + " is not a torv-project manifest: " + why);
}

// A value as a person may be shown it: its JSON, cut short if long.
std::string shown(const json& value) {
    std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() > longest_shown_value) {
        text = text.substr(0, longest_shown_value) + "...";
    }
    return text;
}

failure wrong_field(const std::string& where, std::string_view name, const std::string& wanted, const json& value) {
    return not_a_manifest(where + "'s \"" + std::string(name) + "\" must be " + wanted + ", not " + shown(value));
}

const json* find_field(const json& object, std::string_view name) {
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

result<const json*> required(const json& object, std::string_view name, const std::string& where) {
    const json* value = find_field(object, name);
    if (value == nullptr) {
        return not_a_manifest(where + " has no \"" + std::string(name) + "\"");
    }
    return value;
}

result<std::string> text_field(const json& object, std::string_view name, const std::string& where) {
    result<const json*> value = required(object, name, where);
    if (!value)
        return value.error();
    if (!(*value)->is_string()) {
        return wrong_field(where, name, "text", **value);
    }
    return (*value)->get<std::string>();
}

// A whole number within [least, most].
result<std::int64_t> number_field(const json& object, std::string_view name, const std::string& where,
                                  std::int64_t least, std::int64_t most, const std::string& wanted) {
    result<const json*> value = required(object, name, where);
    if (!value)
        return value.error();
    const json& number = **value;
    if (number.is_number_unsigned() && number.get<std::uint64_t>() <= static_cast<std::uint64_t>(most) &&
        static_cast<std::int64_t>(number.get<std::uint64_t>()) >= least) {
        return static_cast<std::int64_t>(number.get<std::uint64_t>());
    }
    if (number.is_number_integer() && !number.is_number_unsigned() && number.get<std::int64_t>() >= least &&
        number.get<std::int64_t>() <= most) {
        return number.get<std::int64_t>();
    }
    return wrong_field(where, name, wanted, number);
}

result<std::string> hex_field(const json& object, std::string_view name, const std::string& where, std::size_t digits) {
    result<const json*> value = required(object, name, where);
    if (!value)
        return value.error();
    const json& text = **value;
    if (!text.is_string() || text.get<std::string>().size() != digits || !is_hex(text.get<std::string>())) {
        return wrong_field(where, name, std::to_string(digits) + " hex digits", text);
    }
    return torv::lower_case(text.get<std::string>());
}

// A name: as UTF-8 text, or byte for byte from its "_bytes" beside it.
result<std::string> name_field(const json& object, std::string_view name, const std::string& where) {
    result<std::string> text = text_field(object, name, where);
    if (!text)
        return text.error();
    const std::string bytes_name = std::string(name) + std::string(bytes_suffix);
    if (const json* in_bytes = find_field(object, bytes_name)) {
        const std::optional<std::string> decoded =
            in_bytes->is_string() ? bytes_of_hex(in_bytes->get<std::string>()) : std::nullopt;
        if (!decoded) {
            return wrong_field(where, bytes_name, "hex digits, two a byte", *in_bytes);
        }
        return *decoded;
    }
    return text;
}

bool is_name_within_folder(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

result<project_image> read_image(const json& entry, const std::string& where, const torv::image_place* place) {
    if (!entry.is_object()) {
        return not_a_manifest(where + " is not an object");
    }
    project_image image;
    result<std::string> file = name_field(entry, "file", where);
    if (!file)
        return file.error();
    if (!is_name_within_folder(*file)) {
        return not_a_manifest(where + "'s file \"" + as_utf8(*file) + "\" is not a name within its folder");
    }
    result<std::string> sha = hex_field(entry, "sha256", where, sha256_digits);
    if (!sha)
        return sha.error();
    image.file = std::move(*file);
    image.sha256 = std::move(*sha);
    if (place != nullptr) {
        const std::string size = std::to_string(place->width) + "x" + std::to_string(place->height);
        result<std::int64_t> width = number_field(entry, "width", where, place->width, place->width,
                                                  std::to_string(place->width) + " (" + size + ")");
        if (!width)
            return width.error();
        result<std::int64_t> height = number_field(entry, "height", where, place->height, place->height,
                                                   std::to_string(place->height) + " (" + size + ")");
        if (!height)
            return height.error();
        image.width = place->width;
        image.height = place->height;
    }
    return image;
}

// The layout a source names, and the place of its image `k`: a frame
// sequence's every frame is its one image.
const torv::image_place* place_of(const torv::layout& format, std::size_t k) {
    return torv::is_record_walk(format) ? &format.images[0] : &format.images[k];
}

std::size_t most_images_of(const torv::layout& format) {
    return torv::is_record_walk(format) ? static_cast<std::size_t>(format.file_size / format.record_alignment)
                                        : format.images.size();
}

result<std::vector<project_image>> read_images(const json& entry, const std::string& where,
                                               const torv::layout& format) {
    result<const json*> images = required(entry, "images", where);
    if (!images)
        return images.error();
    const json& list = **images;
    const std::size_t most = most_images_of(format);
    const std::size_t least = torv::is_record_walk(format) ? 1 : most;
    if (!list.is_array() || list.size() < least || list.size() > most) {
        const std::string count =
            least == most ? std::to_string(most) : std::to_string(least) + " to " + std::to_string(most);
        return wrong_field(where, "images", "a list of " + count + " images (a " + std::string(format.name) + "'s)",
                           list.is_array() ? json(std::to_string(list.size()) + " images") : list);
    }
    std::vector<project_image> read;
    std::set<std::string> names;
    for (std::size_t i = 0; i < list.size(); ++i) {
        result<project_image> image =
            read_image(list[i], where + "'s image " + std::to_string(i + 1), place_of(format, i));
        if (!image)
            return image.error();
        if (!names.insert(torv::lower_case(image->file)).second) {
            return not_a_manifest(where + " names the image file \"" + as_utf8(image->file) + "\" twice");
        }
        read.push_back(std::move(*image));
    }
    return read;
}

result<project_source> read_source(const json& entry, std::size_t k) {
    const std::string where = "source " + std::to_string(k + 1);
    if (!entry.is_object()) {
        return not_a_manifest(where + " is not an object");
    }
    project_source source;
    result<std::string> path = name_field(entry, "path", where);
    if (!path)
        return path.error();
    result<std::string> folder = name_field(entry, "folder", where);
    if (!folder)
        return folder.error();
    if (!is_path_within(*path)) {
        return not_a_manifest(where + "'s path \"" + as_utf8(*path) + "\" is not a path within the game folder");
    }
    if (!is_path_within(*folder)) {
        return not_a_manifest(where + "'s folder \"" + as_utf8(*folder) + "\" is not a path within the project");
    }
    result<std::string> layout_name = text_field(entry, "layout", where);
    if (!layout_name)
        return layout_name.error();
    const torv::layout* format = torv::layout_named(*layout_name);
    if (format == nullptr) {
        std::string names;
        for (const torv::layout* known : torv::all_layouts)
            names += (names.empty() ? "" : ", ") + std::string(known->name);
        return wrong_field(where, "layout", "a layout's name (" + names + ")", *find_field(entry, "layout"));
    }
    result<std::int64_t> size =
        number_field(entry, "size", where, format->file_size, format->file_size,
                     std::to_string(format->file_size) + " (a " + std::string(format->name) + "'s size)");
    if (!size)
        return size.error();
    result<std::string> crc = hex_field(entry, "crc32", where, crc32_digits);
    if (!crc)
        return crc.error();
    result<std::string> sha = hex_field(entry, "sha256", where, sha256_digits);
    if (!sha)
        return sha.error();
    result<std::vector<project_image>> images = read_images(entry, where, *format);
    if (!images)
        return images.error();
    source.path = std::move(*path);
    source.folder = std::move(*folder);
    source.layout = format->name;
    source.size = *size;
    source.crc32 = static_cast<std::uint32_t>(std::stoul(*crc, nullptr, 16));
    source.sha256 = std::move(*sha);
    source.images = std::move(*images);
    if (const json* animation = find_field(entry, "animation")) {
        result<project_image> gif = read_image(*animation, where + "'s animation", nullptr);
        if (!gif)
            return gif.error();
        for (const project_image& image : source.images) {
            if (torv::lower_case(image.file) == torv::lower_case(gif->file)) {
                return not_a_manifest(where + "'s animation has the name of an image, \"" + as_utf8(gif->file) + "\"");
            }
        }
        source.animation = std::move(*gif);
    }
    return source;
}

// The format, or why it is none this library reads.
result<int> read_format(const json& in) {
    result<const json*> value = required(in, "format", "the manifest");
    if (!value)
        return value.error();
    const json& format = **value;
    if (!format.is_number_integer()) {
        return wrong_field("the manifest", "format", "a whole number", format);
    }
    if (format == json(project_format)) {
        return project_format;
    }
    const bool newer = format.is_number_unsigned() ? format.get<std::uint64_t>() > project_format
                                                   : format.get<std::int64_t>() > project_format;
    const std::string tool = in.contains("tool") && in["tool"].is_string() ? in["tool"].get<std::string>() : "?";
    failure why = failure_of(code::project_version,
                             "the project is of format " + format.dump() + " (made by torv-project " + as_utf8(tool) +
                                 "), and this torv-project reads format " + std::to_string(project_format) +
                                 (newer ? ": a newer torv-project made it" : ": it is older than this one reads"));
    why.needed = format.is_number_unsigned()
                     ? static_cast<std::int64_t>(std::min<std::uint64_t>(format.get<std::uint64_t>(),
                                                                         std::numeric_limits<std::int64_t>::max()))
                     : format.get<std::int64_t>();
    why.room = project_format;
    return why;
}

// Sources that name one game file, or one folder, twice.
result<> check_twins(const std::vector<project_source>& sources) {
    std::map<std::string, std::size_t> paths;
    for (std::size_t k = 0; k < sources.size(); ++k) {
        const auto [seen, fresh] = paths.try_emplace(torv::lower_case(sources[k].path), k);
        if (!fresh) {
            return not_a_manifest("sources " + std::to_string(seen->second + 1) + " and " + std::to_string(k + 1) +
                                  " are one game file, \"" + as_utf8(sources[k].path) + "\"");
        }
    }
    std::map<std::string, std::size_t> folders;
    for (std::size_t k = 0; k < sources.size(); ++k) {
        const auto [seen, fresh] = folders.try_emplace(torv::lower_case(sources[k].folder), k);
        if (!fresh) {
            return not_a_manifest("sources " + std::to_string(seen->second + 1) + " and " + std::to_string(k + 1) +
                                  " share the folder \"" + as_utf8(sources[k].folder) + "\"");
        }
    }
    return {};
}

result<project_manifest> read_checked(const json& in) {
    if (!in.is_object()) {
        return not_a_manifest("it is not a JSON object");
    }
    const json* kind = find_field(in, "project");
    if (kind == nullptr || *kind != project_kind) {
        return not_a_manifest("it does not say \"project\": \"torv-project\"");
    }
    result<int> format = read_format(in);
    if (!format)
        return format.error();
    project_manifest manifest;
    manifest.format = *format;
    result<std::string> tool = text_field(in, "tool", "the manifest");
    if (!tool)
        return tool.error();
    manifest.tool = std::move(*tool);
    result<std::string> images = text_field(in, "images", "the manifest");
    if (!images)
        return images.error();
    if (*images != "png" && *images != "bmp") {
        return wrong_field("the manifest", "images", "\"png\" or \"bmp\"", *find_field(in, "images"));
    }
    manifest.images = *images == "bmp" ? image_format::bmp : image_format::png;
    result<const json*> sources = required(in, "sources", "the manifest");
    if (!sources)
        return sources.error();
    if (!(*sources)->is_array()) {
        return wrong_field("the manifest", "sources", "a list", **sources);
    }
    for (std::size_t k = 0; k < (*sources)->size(); ++k) {
        result<project_source> source = read_source((**sources)[k], k);
        if (!source)
            return source.error();
        manifest.sources.push_back(std::move(*source));
    }
    if (result<> twins = check_twins(manifest.sources); !twins)
        return twins.error();
    return manifest;
}

}  // namespace

std::string manifest_json(const project_manifest& manifest) {
    json out;
    out["project"] = project_kind;
    out["format"] = manifest.format;
    out["tool"] = as_utf8(manifest.tool);
    out["images"] = manifest.images == image_format::bmp ? "bmp" : "png";
    json sources = json::array();
    for (const project_source& source : manifest.sources) {
        json entry;
        put_name(entry, "path", source.path);
        entry["size"] = source.size;
        entry["layout"] = source.layout;
        entry["crc32"] = torv::crc32_text(source.crc32);
        entry["sha256"] = source.sha256;
        put_name(entry, "folder", source.folder);
        json images = json::array();
        for (const project_image& image : source.images) images.push_back(image_json(image, true));
        entry["images"] = std::move(images);
        if (source.animation) {
            entry["animation"] = image_json(*source.animation, false);
        }
        sources.push_back(std::move(entry));
    }
    out["sources"] = std::move(sources);
    return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

result<project_manifest> read_manifest(std::string_view text) {
    const json in = json::parse(text.begin(), text.end(), nullptr, false);
    if (in.is_discarded()) {
        return not_a_manifest("it is not JSON");
    }
    try {
        return read_checked(in);
    } catch (const json::exception& surprise) {
        // Every access above is checked first; this is the net below them.
        return not_a_manifest(surprise.what());
    }
}

bool is_path_within(std::string_view path) {
    if (path.empty() || path.find('\0') != std::string_view::npos) {
        return false;
    }
    std::size_t from = 0;
    while (from <= path.size()) {
        const std::size_t to = std::min(path.find('/', from), path.size());
        const std::string_view part = path.substr(from, to - from);
        if (part.empty() || part == "." || part == "..")
            return false;
        from = to + 1;
    }
    return true;
}

namespace {

constexpr std::string_view source_extension = ".bin";

// True if `path` ends in ".bin", in any case.
bool has_source_extension(std::string_view path) {
    return path.size() >= source_extension.size() &&
           torv::lower_case(path.substr(path.size() - source_extension.size())) == source_extension;
}

}  // namespace

std::string project_folder_of(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t name_length = slash == std::string_view::npos ? path.size() : path.size() - slash - 1;
    if (name_length > source_extension.size() && has_source_extension(path)) {
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

std::vector<std::string> clashing_sources(const std::vector<std::string>& paths) {
    std::vector<std::string> lines;
    std::map<std::string, std::string> folders;  // lower-case folder -> the source that has it
    for (const std::string& path : paths) {
        const std::string folder = project_folder_of(path);
        const auto [taken, fresh] = folders.try_emplace(torv::lower_case(folder), path);
        if (!fresh) {
            lines.push_back(
                as_utf8(taken->second) + " and " + as_utf8(path) + " would share the folder " + as_utf8(folder) +
                " (names that differ only in case are one on Windows and in zips): " + "rename one of them");
        }
    }
    return lines;
}

}  // namespace libtorv
