// The library as a WebAssembly module for a page's script: a source file's
// bytes in, its images' names and sizes out, each image's BMP file on demand
// (a frame sequence never holds all its frames); images and an original in,
// the packed file, report and notes out, or torv-pack's words for a failure.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "libtorv/pack.h"
#include "libtorv/unpack.h"

namespace {

using emscripten::val;
using bytes = std::vector<std::uint8_t>;

bytes bytes_of(const val& array) {
    return emscripten::convertJSArrayToNumberVector<std::uint8_t>(array);
}

val array_of(const bytes& data) {
    return val::global("Uint8Array").new_(emscripten::typed_memory_view(data.size(), data.data()));
}

// {layout, images: [{name, width, height}]}; layout null for a size of no layout.
val open_file(const val& file, const std::string& prefix) {
    const bytes data = bytes_of(file);
    val images = val::array();
    const torv::unpack_result result = torv::unpack_bytes(data, prefix, [&](const torv::image_view& image) {
        val entry = val::object();
        entry.set("name", std::string(image.name));
        entry.set("width", image.width);
        entry.set("height", image.height);
        images.call<void>("push", entry);
        return true;
    });
    val out = val::object();
    out.set("layout", result.layout.empty() ? val::null() : val(result.layout));
    out.set("images", images);
    return out;
}

// Image `index` of the file, as the BMP file torv writes (a copy).
val image_bmp(const val& file, const std::string& prefix, int index) {
    const bytes data = bytes_of(file);
    bytes bmp;
    int seen = 0;
    torv::unpack_bytes(data, prefix, [&](const torv::image_view& image) {
        if (seen++ < index) {
            return true;
        }
        bmp = torv::bmp_bytes(image);
        return false;
    });
    return val::global("Uint8Array").new_(array_of(bmp));
}

// {bytes, report, notes} or {failure}: `images` maps names to bytes.
val pack_files(const std::string& prefix, const val& images, const val& original, const std::string& original_name,
               const std::string& layout, bool nearest) {
    std::map<std::string, bytes> files;
    const val names = val::global("Object").call<val>("keys", images);
    for (int k = 0; k < names["length"].as<int>(); ++k) {
        const std::string name = names[k].as<std::string>();
        files[name] = bytes_of(images[name]);
    }
    torv::image_folder folder;
    folder.has = [&](const std::string& name) { return files.count(name) != 0; };
    folder.read = [&](const std::string& name, std::uint64_t max_bytes) {
        torv::image_file_bytes read;
        const auto found = files.find(name);
        if (found == files.end()) {
            read.failure = "cannot be read";
        } else if (found->second.size() > max_bytes) {
            read.failure =
                "is " + std::to_string(found->second.size()) + " bytes, far more than an image of its size needs";
        } else {
            read.bytes = found->second;
        }
        return read;
    };
    folder.each_name = [&](const std::function<void(const std::string&)>& visit) {
        for (const auto& [name, data] : files) visit(name);
    };
    const bytes original_bytes = original.isNull() || original.isUndefined() ? bytes() : bytes_of(original);
    const torv::original_file original_file{original_name, original_bytes};
    torv::pack_settings settings;
    settings.layout = layout;
    settings.nearest = nearest;
    bytes packed;
    const torv::pack_result result = torv::pack_images(
        prefix, folder, original.isNull() || original.isUndefined() ? nullptr : &original_file, settings,
        [&](std::span<const std::uint8_t> part) { packed.insert(packed.end(), part.begin(), part.end()); });
    val out = val::object();
    if (!result.ok()) {
        out.set("failure", result.failure);
        return out;
    }
    out.set("bytes", val::global("Uint8Array").new_(array_of(packed)));
    val report = val::array();
    for (const std::string& line : result.report) report.call<void>("push", line);
    val notes = val::array();
    for (const std::string& line : result.notes) notes.call<void>("push", line);
    out.set("report", report);
    out.set("notes", notes);
    return out;
}

}  // namespace

EMSCRIPTEN_BINDINGS(torv) {
    emscripten::function("openFile", &open_file);
    emscripten::function("imageBmp", &image_bmp);
    emscripten::function("packFiles", &pack_files);
}
