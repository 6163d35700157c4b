// The library as a WebAssembly module for a page's script. A source file is
// held here once, by a handle; its images are listed when it is opened (name,
// size, where its record begins) and each is made again on demand as a BMP,
// a PNG or its indices and colours, so that a frame sequence never holds all
// its frames. Images and an original in, the packed file, report and notes
// out, or torv-pack's words for a failure.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "libtorv/pack.h"
#include "libtorv/unpack.h"
#include "web/zip.h"

namespace {

using emscripten::val;
using bytes = std::vector<std::uint8_t>;

// Images of held files are named as `torv file ""` names them: no drive.
constexpr std::string_view no_drive;

bytes bytes_of(const val& array) {
    return emscripten::convertJSArrayToNumberVector<std::uint8_t>(array);
}

// A Uint8Array of its own (not a view of the module's memory, which moves
// when it grows).
val array_of(std::span<const std::uint8_t> data) {
    return val::global("Uint8Array").new_(emscripten::typed_memory_view(data.size(), data.data())).call<val>("slice");
}

// Runs the work of an exported function; a C++ exception reaches the page's
// script as an Error with its words (it would otherwise arrive as a bare
// number).
template <typename Work>
auto with_js_errors(Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        val::global("Error").new_(std::string("out of memory")).throw_();
    } catch (const std::exception& failure) {
        val::global("Error").new_(std::string(failure.what())).throw_();
    }
}

struct listed_image {
    std::string name;
    std::int32_t width = 0;
    std::int32_t height = 0;
    torv::record_point record;
    std::size_t in_record = 0;  // its place among its record's images
};

struct held_file {
    std::string name;  // as opened, for messages
    bytes data;
    std::string prefix;
    std::vector<listed_image> images;
};

std::map<int, std::unique_ptr<held_file>> held;
int next_handle = 1;

held_file& file_of(int handle) {
    const auto found = held.find(handle);
    if (found == held.end()) {
        throw std::invalid_argument("no file is held as " + std::to_string(handle));
    }
    return *found->second;
}

// Hands image `index` of the held file to `take`, decoding its record alone.
// False if there is no such image.
bool with_image(const held_file& file, std::size_t index, const std::function<void(const torv::image_view&)>& take) {
    if (index >= file.images.size()) {
        return false;
    }
    const listed_image& wanted = file.images[index];
    std::size_t seen = 0;
    bool found = false;
    torv::unpack_bytes(
        file.data, file.prefix,
        [&](const torv::image_view& image) {
            if (seen++ < wanted.in_record) {
                return true;
            }
            take(image);
            found = true;
            return false;
        },
        wanted.record);
    return found;
}

// {width, height, palette, indices} of an image: its colours as the BMP's
// colour table shows them (red, green, blue of each entry) and its indices.
val pixels_of(const torv::image_view& image) {
    val out = val::object();
    out.set("width", image.width);
    out.set("height", image.height);
    out.set("palette", array_of(torv::palette_colours(image.palette)));
    out.set("indices", array_of(image.indices));
    return out;
}

// Holds the file and lists its images, calling onImage(index, name, pixels,
// offset) for each as it is decoded, with the pixels of the first (null for
// the others) and where its record begins: {handle, layout, images: [{name, width, height}]}, the layout null
// (and no image) for a size of no layout. A file of no layout is held too: as
// an original, packing says what is wrong with it.
val open_file(const val& contents, const std::string& name, const val& on_image) {
    auto file = std::make_unique<held_file>();
    file->name = name;
    file->data = bytes_of(contents);
    file->prefix = torv::image_prefix(name, no_drive);
    torv::record_point last_record{-1, 0};
    std::size_t in_record = 0;
    const torv::unpack_result result = torv::unpack_bytes(file->data, file->prefix, [&](const torv::image_view& image) {
        in_record = image.record.offset == last_record.offset ? in_record + 1 : 0;
        last_record = image.record;
        file->images.push_back({std::string(image.name), image.width, image.height, image.record, in_record});
        const std::size_t index = file->images.size() - 1;
        on_image(index, std::string(image.name), index == 0 ? pixels_of(image) : val::null(),
                 static_cast<double>(image.record.offset));
        return true;
    });
    val out = val::object();
    val images = val::array();
    for (const listed_image& image : file->images) {
        val entry = val::object();
        entry.set("name", image.name);
        entry.set("width", image.width);
        entry.set("height", image.height);
        images.call<void>("push", entry);
    }
    out.set("images", images);
    out.set("layout", result.layout.empty() ? val::null() : val(result.layout));
    const int handle = next_handle++;
    held[handle] = std::move(file);
    out.set("handle", handle);
    return out;
}

void close_file(int handle) {
    held.erase(handle);
}

// Image `index` as "bmp" or "png" file bytes, or "pixels" (as pixels_of);
// null if there is no such image.
val image_file(int handle, int index, const std::string& kind) {
    val out = val::null();
    with_image(file_of(handle), static_cast<std::size_t>(index), [&](const torv::image_view& image) {
        if (kind == "pixels") {
            out = pixels_of(image);
        } else {
            out = array_of(kind == "png" ? torv::png_bytes(image) : torv::bmp_bytes(image));
        }
    });
    return out;
}

// Image `index` made smaller by keeping every `step`-th pixel of every
// `step`-th row, as RGBA for a canvas: {width, height, rgba}.
val thumbnail(int handle, int index, int step) {
    val out = val::null();
    step = std::max(1, step);
    with_image(file_of(handle), static_cast<std::size_t>(index), [&](const torv::image_view& image) {
        const auto colours = torv::palette_colours(image.palette);
        const std::int32_t width = (image.width + step - 1) / step;
        const std::int32_t height = (image.height + step - 1) / step;
        bytes rgba;
        rgba.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
        for (std::int32_t y = 0; y < image.height; y += step) {
            for (std::int32_t x = 0; x < image.width; x += step) {
                const std::size_t entry =
                    image.indices[static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                                  static_cast<std::size_t>(x)];
                rgba.insert(rgba.end(), {colours[3 * entry], colours[3 * entry + 1], colours[3 * entry + 2], 255});
            }
        }
        out = val::object();
        out.set("width", width);
        out.set("height", height);
        out.set("rgba", array_of(rgba));
    });
    return out;
}

// Every image of the held file as "bmp" or "png" files in one zip archive;
// onImage(done, total) after each.
val zip_images(int handle, const std::string& kind, const val& on_image) {
    const held_file& file = file_of(handle);
    torv::web::zip_archive zip;
    for (std::size_t k = 0; k < file.images.size(); ++k) {
        with_image(file, k, [&](const torv::image_view& image) {
            const std::string name(image.name);
            if (kind == "png") {
                torv::web::add_to_zip(zip, name.substr(0, name.size() - 4) + ".png", torv::png_bytes(image));
            } else {
                torv::web::add_to_zip(zip, name, torv::bmp_bytes(image));
            }
        });
        on_image(k + 1, file.images.size());
    }
    return array_of(torv::web::finish_zip(zip));
}

// The prefix that image file names were written under: that of the first
// frame (name000), of a first digit-named image (name0) or of a single
// picture (name), tried in that order.
std::string prefix_of_images(const std::map<std::string, bytes>& files) {
    for (const std::string ending : {"000", "0", ""}) {
        for (const auto& [name, contents] : files) {
            const std::size_t dot = name.rfind('.');
            if (dot == std::string::npos) {
                continue;
            }
            const std::string stem = name.substr(0, dot);
            if (stem.size() > ending.size() && stem.ends_with(ending) && (!ending.empty() || files.size() == 1)) {
                return stem.substr(0, stem.size() - ending.size());
            }
        }
    }
    return {};
}

std::string stem_of(const std::string& name) {
    return name.size() > 4 ? name.substr(0, name.size() - 4) : name;
}

// Packs `images` ({name: bytes}) with the held file `original` (0 for none)
// as the original. The original's images that no edited image (BMP or PNG)
// replaces are made from it, as torv would have written them. onRead(done,
// total) after each image read. {bytes, report, notes, name} or {failure}.
val pack_files(const val& images, int original, const std::string& layout, bool nearest, const val& on_read) {
    std::map<std::string, bytes> edited;
    const val names = val::global("Object").call<val>("keys", images);
    for (int k = 0; k < names["length"].as<int>(); ++k) {
        const std::string name = names[k].as<std::string>();
        edited[name] = bytes_of(images[name]);
    }
    const held_file* from = original != 0 ? &file_of(original) : nullptr;
    // The original's images that stay as they are, by name.
    std::map<std::string, std::size_t> kept;
    if (from != nullptr) {
        for (std::size_t k = 0; k < from->images.size(); ++k) {
            const std::string stem = stem_of(from->images[k].name);
            if (!edited.contains(stem + ".bmp") && !edited.contains(stem + ".png")) {
                kept[from->images[k].name] = k;
            }
        }
    }
    const std::size_t total = from != nullptr ? from->images.size() : edited.size();
    std::size_t done = 0;
    torv::image_folder folder;
    folder.has = [&](const std::string& name) { return edited.contains(name) || kept.contains(name); };
    folder.read = [&](const std::string& name, std::uint64_t max_bytes) {
        torv::image_file_bytes read;
        if (const auto found = edited.find(name); found != edited.end()) {
            if (found->second.size() > max_bytes) {
                read.failure = torv::image_file_too_large(found->second.size());
            } else {
                read.bytes = found->second;
            }
        } else if (const auto same = kept.find(name); same != kept.end()) {
            with_image(*from, same->second,
                       [&](const torv::image_view& image) { read.bytes = torv::bmp_bytes(image); });
        } else {
            read.failure = "cannot be read";
        }
        on_read(++done, std::max(done, total));
        return read;
    };
    folder.each_name = [&](const std::function<void(const std::string&)>& visit) {
        for (const auto& [name, contents] : edited) visit(name);
        for (const auto& [name, index] : kept) visit(name);
    };
    const std::string prefix = from != nullptr ? from->prefix : prefix_of_images(edited);
    const torv::original_file original_file{
        from != nullptr ? from->name : "",
        from != nullptr ? std::span<const std::uint8_t>(from->data) : std::span<const std::uint8_t>()};
    torv::pack_settings settings;
    settings.layout = layout;
    settings.nearest = nearest;
    bytes packed;
    const torv::pack_result result = torv::pack_images(
        prefix, folder, from != nullptr ? &original_file : nullptr, settings,
        [&](std::span<const std::uint8_t> part) { packed.insert(packed.end(), part.begin(), part.end()); });
    val out = val::object();
    if (!result.ok()) {
        out.set("failure", result.failure);
        return out;
    }
    out.set("bytes", array_of(packed));
    out.set("name", prefix + ".bin");
    val report = val::array();
    for (const std::string& line : result.report) report.call<void>("push", line);
    val notes = val::array();
    for (const std::string& line : result.notes) notes.call<void>("push", line);
    out.set("report", report);
    out.set("notes", notes);
    return out;
}

// [{name, size}] of every layout, in the order sizes are tried.
val sizes_of_layouts() {
    val out = val::array();
    for (const torv::layout_size& layout : torv::layout_sizes()) {
        val entry = val::object();
        entry.set("name", layout.name);
        entry.set("size", static_cast<double>(layout.file_size));
        out.call<void>("push", entry);
    }
    return out;
}

}  // namespace

EMSCRIPTEN_BINDINGS(torv) {
    emscripten::function(
        "layoutSizes", +[] { return with_js_errors(sizes_of_layouts); });
    emscripten::function(
        "openFile", +[](const val& contents, const std::string& name, const val& on_image) {
            return with_js_errors([&] { return open_file(contents, name, on_image); });
        });
    emscripten::function(
        "closeFile", +[](int handle) { close_file(handle); });
    emscripten::function(
        "imageFile", +[](int handle, int index, const std::string& kind) {
            return with_js_errors([&] { return image_file(handle, index, kind); });
        });
    emscripten::function(
        "thumbnail", +[](int handle, int index, int step) {
            return with_js_errors([&] { return thumbnail(handle, index, step); });
        });
    emscripten::function(
        "zipImages", +[](int handle, const std::string& kind, const val& on_image) {
            return with_js_errors([&] { return zip_images(handle, kind, on_image); });
        });
    emscripten::function(
        "packFiles", +[](const val& images, int original, const std::string& layout, bool nearest, const val& on_read) {
            return with_js_errors([&] { return pack_files(images, original, layout, nearest, on_read); });
        });
}
