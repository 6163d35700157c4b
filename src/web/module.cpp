// The library as a WebAssembly module for a page's script. A source file is
// held here once, by a handle; its images are listed when it is opened (name,
// size, where its record begins) and each is made again on demand as a BMP,
// a PNG or its indices and colours, so that a frame sequence never holds all
// its frames. Images and an original in, the packed file, report and notes
// out.
//
// Every function gives its value, or throws one kind of thing: an Error whose
// message is the failure's words, with the failure's code ("colour_lacking",
// ..., or "out_of_memory") and its facts (file, x, y, colour, needed, room)
// as fields.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "libtorv/checksums.h"
#include "libtorv/pack.h"
#include "libtorv/palette_files.h"
#include "libtorv/patch.h"
#include "libtorv/project.h"
#include "libtorv/unpack.h"
#include "libtorv/zip.h"

namespace {

using emscripten::val;
using libtorv::bytes;
using libtorv::code;
using libtorv::failure;
using libtorv::result;

// Images of held files are named as `torv file ""` names them: no drive.
constexpr std::string_view no_drive;

// A failure as the script sees it: thrown as a C++ exception, so that what
// the work held is freed on the way out, and made the script's Error at the
// exported function (guarded).
[[noreturn]] void throw_failure(const failure& why) {
    throw why;
}

[[noreturn]] void throw_to_script(const failure& why) {
    val error = val::global("Error").new_(why.words);
    error.set("code", std::string(libtorv::code_name(why.code)));
    if (!why.file.empty())
        error.set("file", why.file);
    if (why.pixel) {
        error.set("x", why.pixel->x);
        error.set("y", why.pixel->y);
    }
    if (why.colour)
        error.set("colour", static_cast<double>(*why.colour));
    if (why.needed >= 0)
        error.set("needed", static_cast<double>(why.needed));
    if (why.room >= 0)
        error.set("room", static_cast<double>(why.room));
    error.throw_();
}

// A failure of several lines, one each, thrown.
[[noreturn]] void throw_lines(code why_code, const std::vector<std::string>& lines) {
    failure why;
    why.code = why_code;
    for (const std::string& line : lines) why.words += (why.words.empty() ? "" : "\n") + line;
    throw_failure(why);
}

[[noreturn]] void refuse(const std::string& words) {
    failure why;
    why.code = code::bad_argument;
    why.words = words;
    throw_failure(why);
}

template <class T>
T value_of(result<T> made) {
    if (!made) {
        throw_failure(made.error());
    }
    return std::move(*made);
}

void check(const result<>& done) {
    if (!done) {
        throw_failure(done.error());
    }
}

// Runs the work of an exported function: a failure, or memory that runs
// out, reaches the script as an Error.
template <typename Work>
auto guarded(Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const failure& why) {
        throw_to_script(why);
    } catch (const std::bad_alloc&) {
        val error = val::global("Error").new_(std::string("out of memory"));
        error.set("code", std::string("out_of_memory"));
        error.throw_();
    }
}

bool is_bytes(const val& value) {
    return value.instanceof (val::global("Uint8Array"));
}

bytes bytes_of(const val& array, const char* what) {
    if (!is_bytes(array)) {
        refuse(std::string(what) + " must be a Uint8Array");
    }
    return emscripten::convertJSArrayToNumberVector<std::uint8_t>(array);
}

std::string text_of(const val& value, const char* what) {
    if (value.isUndefined() || value.isNull()) {
        return {};
    }
    if (!value.isString()) {
        refuse(std::string(what) + " must be text");
    }
    return value.as<std::string>();
}

// A Uint8Array of its own (not a view of the module's memory, which moves
// when it grows).
val array_of(std::span<const std::uint8_t> data) {
    return val::global("Uint8Array").new_(emscripten::typed_memory_view(data.size(), data.data())).call<val>("slice");
}

val texts_of(const std::vector<std::string>& lines) {
    val out = val::array();
    for (const std::string& line : lines) out.call<void>("push", line);
    return out;
}

struct listed_image {
    std::string name;
    std::int32_t width = 0;
    std::int32_t height = 0;
    libtorv::record_point record;
    std::size_t in_record = 0;  // its place among its record's images
};

struct held_file {
    std::string name;  // as opened, for messages
    bytes data;
    std::string prefix;
    std::string layout;  // empty for a size of no layout
    std::vector<listed_image> images;
};

std::map<int, std::shared_ptr<const held_file>> held;
int next_handle = 1;

const held_file& file_of(int handle) {
    const auto found = held.find(handle);
    if (found == held.end()) {
        refuse("no file is held as " + std::to_string(handle));
    }
    return *found->second;
}

const listed_image& image_of(const held_file& file, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= file.images.size()) {
        refuse(file.name + " has no image " + std::to_string(index));
    }
    return file.images[static_cast<std::size_t>(index)];
}

// Hands image `wanted` of the held file to `take`, decoding its record alone.
void with_image(const held_file& file, const listed_image& wanted,
                const std::function<void(const libtorv::image_view&)>& take) {
    std::size_t seen = 0;
    value_of(libtorv::unpack_bytes(
        file.data, file.prefix,
        [&](const libtorv::image_view& image) {
            if (seen++ < wanted.in_record) {
                return true;
            }
            take(image);
            return false;
        },
        wanted.record));
}

// {width, height, palette, indices} of an image: its colours as the BMP's
// colour table shows them (red, green, blue of each entry) and its indices.
val pixels_of(const libtorv::image_view& image) {
    val out = val::object();
    out.set("width", image.width);
    out.set("height", image.height);
    out.set("palette", array_of(libtorv::palette_colours(image.palette)));
    out.set("indices", array_of(image.indices));
    return out;
}

// Holds the file and lists its images, calling onImage(index, name, pixels,
// offset) for each as it is decoded, with the pixels of the first (null for
// the others) and where its record begins: {handle, layout, images: [{name,
// width, height}], reason}, the layout null (and no image) for a size of no
// layout, with the reason in words. A file of no layout is held too: as an
// original, packing says what is wrong with it.
val open_file(const val& contents, const val& name_given, const val& on_image) {
    auto file = std::make_unique<held_file>();
    file->name = text_of(name_given, "a file's name");
    file->data = bytes_of(contents, "a file's contents");
    file->prefix = libtorv::image_prefix(file->name, no_drive);
    libtorv::record_point last_record{-1, 0};
    std::size_t in_record = 0;
    const libtorv::unpack_result unpacked =
        value_of(libtorv::unpack_bytes(file->data, file->prefix, [&](const libtorv::image_view& image) {
            in_record = image.record.offset == last_record.offset ? in_record + 1 : 0;
            last_record = image.record;
            file->images.push_back({std::string(image.name), image.width, image.height, image.record, in_record});
            const std::size_t index = file->images.size() - 1;
            on_image(index, std::string(image.name), index == 0 ? pixels_of(image) : val::null(),
                     static_cast<double>(image.record.offset));
            return true;
        }));
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
    file->layout = unpacked.layout;
    out.set("layout", unpacked.layout.empty() ? val::null() : val(unpacked.layout));
    out.set("reason", unpacked.layout.empty()
                          ? val(libtorv::size_of_no_layout(file->name, static_cast<std::int64_t>(file->data.size())))
                          : val::null());
    const int handle = next_handle++;
    held[handle] = std::move(file);
    out.set("handle", handle);
    return out;
}

void close_file(int handle) {
    held.erase(handle);
}

// Image `index` as "bmp" or "png" file bytes, or "pixels" (as pixels_of).
val image_file(int handle, int index, const std::string& kind) {
    const held_file& file = file_of(handle);
    val out = val::null();
    with_image(file, image_of(file, index), [&](const libtorv::image_view& image) {
        if (kind == "pixels") {
            out = pixels_of(image);
        } else {
            out = array_of(value_of(kind == "png" ? libtorv::png_bytes(image) : libtorv::bmp_bytes(image)));
        }
    });
    return out;
}

// Image `index` made smaller by keeping every `step`-th pixel of every
// `step`-th row, as RGBA for a canvas: {width, height, rgba}.
val thumbnail(int handle, int index, int step) {
    const held_file& file = file_of(handle);
    val out = val::null();
    step = std::max(1, step);
    with_image(file, image_of(file, index), [&](const libtorv::image_view& image) {
        const auto colours = libtorv::palette_colours(image.palette);
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
    libtorv::zip_archive zip;
    for (std::size_t k = 0; k < file.images.size(); ++k) {
        with_image(file, file.images[k], [&](const libtorv::image_view& image) {
            const std::string stem(libtorv::image_stem(image.name));
            if (kind == "png") {
                check(libtorv::add_to_zip(zip, stem + ".png", value_of(libtorv::png_bytes(image)),
                                          libtorv::zip_storing::store));
            } else {
                check(libtorv::add_to_zip(zip, std::string(image.name), value_of(libtorv::bmp_bytes(image))));
            }
        });
        on_image(k + 1, file.images.size());
    }
    return array_of(libtorv::finish_zip(zip));
}

// True if `name` is a frame that a frame sequence of more frames than the
// held one would hold after its last: its prefix, then a number of three
// digits or more past the last frame's, as torv numbers them.
bool is_added_frame(const held_file& file, const std::string& name) {
    if (file.layout != "frame_sequence") {
        return false;
    }
    const std::string_view stem = libtorv::image_stem(name);
    const std::string_view extension = std::string_view(name).substr(stem.size());
    if ((extension != ".bmp" && extension != ".png") || !stem.starts_with(file.prefix)) {
        return false;
    }
    const std::string_view digits = stem.substr(file.prefix.size());
    if (digits.size() < 3 || digits.size() > 4 || (digits.size() == 4 && digits[0] == '0') ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    return std::stoul(std::string(digits)) >= file.images.size();
}

// The page's controls, as messages name them.
libtorv::option_words page_words() {
    libtorv::option_words words;
    words.nearest = "ticking \u201cnearest\u201d";
    words.no_original = "\u201cno original\u201d";
    words.layout = "the layout choice";
    words.fit = "ticking \u201cmake it fit\u201d";
    return words;
}

// ---- Packing ----------------------------------------------------------------------

// A packing under way, found once and then done in one call (pack_finish),
// or, for a frame sequence, in batches of frames prepared by several
// workers (each with a job of its own, begun with the same arguments) and
// packed by one.
struct pack_job {
    std::shared_ptr<const held_file> from;      // the original, or null
    std::map<std::string, val> given;           // the files as given: a Uint8Array or a Blob, by name
    std::map<std::string, std::string> edited;  // the name packing looks for -> the name given
    std::map<std::string, std::size_t> kept;    // the original's images no file was given for
    std::vector<std::string> notes;             // of the matching of names
    std::string prefix;
    libtorv::pack_settings settings;
    libtorv::original_file original;
    libtorv::pack_outline outline;
    libtorv::image_folder folder;
    val read_blob = val::null();  // (Blob) -> Uint8Array, or null if it cannot be read
    // During a call: the bytes the page read for it, by the name given, and
    // whom to tell of each file read.
    std::map<std::string, bytes> read_ahead;
    val on_read = val::null();
    std::size_t done = 0;
};

std::map<int, std::unique_ptr<pack_job>> jobs;
int next_job = 1;

pack_job& job_of(int handle) {
    const auto found = jobs.find(handle);
    if (found == jobs.end()) {
        refuse("no packing is under way as " + std::to_string(handle));
    }
    return *found->second;
}

// The files given: {name: a Uint8Array, a Blob, or 0 when its bytes come
// with each call}.
std::map<std::string, val> given_files(const val& images) {
    if (!images.isArray() && images.typeOf().as<std::string>() != "object") {
        refuse("the edited images must be given as {name: bytes}");
    }
    std::map<std::string, val> given;
    const val names = val::global("Object").call<val>("keys", images);
    const val blob = val::global("Blob");
    for (int k = 0; k < names["length"].as<int>(); ++k) {
        const std::string name = names[k].as<std::string>();
        const val file = images[name];
        if (!file.isNumber() && !is_bytes(file) && !file.instanceof (blob)) {
            refuse("an edited image must be a Uint8Array, a Blob or 0");
        }
        given.emplace(name, file);
    }
    return given;
}

failure unreadable(const std::string& name, code why, std::string words) {
    failure made;
    made.code = why;
    made.file = name;
    made.words = std::move(words);
    return made;
}

failure too_large(const std::string& name, double size) {
    failure why = unreadable(name, code::file_too_large, "");
    why.needed = static_cast<std::int64_t>(size);
    return why;
}

// The bytes of the file given as `name`, at most `max_bytes` of them.
result<bytes> read_given(pack_job& job, const std::string& name, std::uint64_t max_bytes) {
    if (const auto ahead = job.read_ahead.find(name); ahead != job.read_ahead.end()) {
        bytes read = std::move(ahead->second);  // each file is read once a call; were it again, as given
        job.read_ahead.erase(ahead);
        if (read.size() > max_bytes) {
            return too_large(name, static_cast<double>(read.size()));
        }
        return read;
    }
    const val& file = job.given.at(name);
    if (file.isNumber()) {
        return unreadable(name, code::cannot_read, "cannot read " + name + ": its bytes were not given");
    }
    const double size = (is_bytes(file) ? file["length"] : file["size"]).as<double>();
    if (size > static_cast<double>(max_bytes)) {
        return too_large(name, size);
    }
    if (is_bytes(file)) {
        return emscripten::convertJSArrayToNumberVector<std::uint8_t>(file);
    }
    const val read = job.read_blob.isNull() || job.read_blob.isUndefined() ? val::null() : job.read_blob(file);
    if (!is_bytes(read)) {
        return unreadable(name, code::cannot_read,
                          "cannot read " + name + ": the browser could not read it (changed or removed since chosen?)");
    }
    return emscripten::convertJSArrayToNumberVector<std::uint8_t>(read);
}

// What the job's packing sees: the files given under the names packing
// looks for, and the original's images no file was given for, taken from
// the original without a file.
void make_folder(pack_job& job) {
    job.folder.has = [&job](const std::string& name) { return job.edited.contains(name) || job.kept.contains(name); };
    job.folder.is_original = [&job](const std::string& name) { return job.kept.contains(name); };
    job.folder.read = [&job](const std::string& name, std::uint64_t max_bytes) -> result<bytes> {
        if (!job.on_read.isNull()) {
            job.on_read(++job.done, std::max(job.done, job.outline.files.size()));
        }
        if (const auto found = job.edited.find(name); found != job.edited.end()) {
            return read_given(job, found->second, max_bytes);
        }
        if (const auto same = job.kept.find(name); same != job.kept.end()) {
            bytes made;
            with_image(*job.from, job.from->images[same->second],
                       [&](const libtorv::image_view& image) { made = value_of(libtorv::bmp_bytes(image)); });
            return made;
        }
        return unreadable(name, code::cannot_read, "cannot read " + name);
    };
    job.folder.each_name = [&job](const std::function<void(const std::string&)>& visit) -> result<> {
        for (const auto& [name, given_name] : job.edited) visit(name);
        for (const auto& [name, index] : job.kept) visit(name);
        return {};
    };
}

// Which file given stands for which image: with an original, each must be
// one of its images (a browser's " (1)" for a second download is
// understood) or a frame after its last; those not given stay the
// original's.
void match_given(pack_job& job) {
    if (job.from == nullptr) {
        for (const auto& [name, file] : job.given) job.edited[name] = name;
        return;
    }
    std::vector<std::string> expected;
    for (const listed_image& image : job.from->images) expected.push_back(image.name);
    std::vector<std::string> names;
    for (const auto& [name, file] : job.given) {
        if (is_added_frame(*job.from, name)) {
            job.edited[name] = name;  // frames after the original's last
        } else {
            names.push_back(name);
        }
    }
    const libtorv::image_match matched = value_of(libtorv::match_images(expected, names));
    for (const auto& [given_name, as_name] : matched.files) job.edited[as_name] = given_name;
    job.notes = matched.notes;
    for (std::size_t k = 0; k < job.from->images.size(); ++k) {
        const std::string stem(libtorv::image_stem(job.from->images[k].name));
        if (!job.edited.contains(stem + ".bmp") && !job.edited.contains(stem + ".png")) {
            job.kept[job.from->images[k].name] = k;
        }
    }
}

// Begins packing `images` ({name: Uint8Array, Blob or 0}) with the held file
// `original` (0 for none) as the original; readBlob(blob) gives a Blob's
// bytes, or null. options: {layout, nearest, fit}, any left out, null or
// undefined. {job, layout, inBatches, files}: files has, for each image
// packing takes in order (a frame sequence's frames), the name of the file
// given for it, or null for the original's own.
val pack_begin(const val& images, int original, const val& options, const val& read_blob) {
    auto job = std::make_unique<pack_job>();
    job->given = given_files(images);
    const bool given_options = !options.isUndefined() && !options.isNull();
    job->settings.layout = given_options ? text_of(options["layout"], "the layout") : std::string();
    job->settings.nearest = given_options && options["nearest"].isTrue();
    job->settings.fit = given_options && options["fit"].isTrue();
    job->settings.words = page_words();
    job->read_blob = read_blob;
    if (original != 0) {
        file_of(original);  // refuses a handle held by none
        job->from = held.at(original);
        job->original = {job->from->name, job->from->data};
        job->settings.words.keep_original.clear();
    } else {
        job->settings.words.keep_original = "put them back into the file they came from, opened here";
    }
    match_given(*job);
    std::vector<std::string> names;
    for (const auto& [name, given_name] : job->edited) names.push_back(name);
    job->prefix = job->from != nullptr ? job->from->prefix : libtorv::prefix_of_images(names);
    make_folder(*job);
    job->outline = value_of(libtorv::outline_images(job->prefix, job->folder,
                                                    job->from != nullptr ? &job->original : nullptr, job->settings));

    val out = val::object();
    out.set("layout", job->outline.layout);
    out.set("inBatches", job->outline.in_batches);
    val files = val::array();
    for (std::size_t k = 0; k < job->outline.files.size(); ++k) {
        const auto found = job->edited.find(job->outline.files[k]);
        files.call<void>(
            "push", job->outline.from_original[k] || found == job->edited.end() ? val::null() : val(found->second));
    }
    out.set("files", files);
    const int handle = next_job++;
    jobs[handle] = std::move(job);
    out.set("job", handle);
    return out;
}

// The bytes the page read for a call, by the name given: {name: Uint8Array}.
std::map<std::string, bytes> bytes_read_ahead(const val& read) {
    std::map<std::string, bytes> ahead;
    if (read.isUndefined() || read.isNull()) {
        return ahead;
    }
    const val names = val::global("Object").call<val>("keys", read);
    for (int k = 0; k < names["length"].as<int>(); ++k) {
        const std::string name = names[k].as<std::string>();
        ahead[name] = bytes_of(read[name], "an edited image");
    }
    return ahead;
}

// Frames [first, first + count) of the job's frame sequence prepared: a
// batch for packFinish, of this job or of another worker's begun alike.
// `read` holds the bytes of their files the page read already. {bytes,
// failed}: failed if a frame failed, so that the packing will too, at the
// latest there.
val pack_prepare(int handle, double first, double count, const val& read) {
    pack_job& job = job_of(handle);
    if (!(first >= 0 && count >= 0 && first + count <= static_cast<double>(job.outline.files.size()))) {
        refuse("no such frames to prepare");
    }
    job.read_ahead = bytes_read_ahead(read);
    const libtorv::frame_batch batch = value_of(
        libtorv::prepare_frames(job.outline, job.folder, job.from != nullptr ? &job.original : nullptr, job.settings,
                                static_cast<std::size_t>(first), static_cast<std::size_t>(count)));
    job.read_ahead.clear();
    val out = val::object();
    out.set("bytes", array_of(batch.data));
    out.set("failed", batch.failed);
    return out;
}

// Packs what the job found, taking the frames of `batches` (packPrepare's)
// as they are; `read` as for packPrepare; onRead(done, total) after each
// file read. {bytes, report, notes, rooms, kept, name}.
val pack_finish(int handle, const val& batches, const val& read, const val& on_read) {
    pack_job& job = job_of(handle);
    std::vector<bytes> prepared;
    if (!batches.isUndefined() && !batches.isNull()) {
        for (int k = 0; k < batches["length"].as<int>(); ++k) prepared.push_back(bytes_of(batches[k], "a batch"));
    }
    libtorv::pack_settings settings = job.settings;
    settings.prepared.assign(prepared.begin(), prepared.end());
    job.read_ahead = bytes_read_ahead(read);
    job.on_read = on_read;
    job.done = 0;
    bytes packed;
    for (const libtorv::layout_size& layout : libtorv::layout_sizes()) {
        if (layout.name == job.outline.layout)
            packed.reserve(static_cast<std::size_t>(layout.file_size));
    }
    result<libtorv::pack_result> made = libtorv::pack_outlined(
        job.outline, job.folder, job.from != nullptr ? &job.original : nullptr, settings,
        [&](std::span<const std::uint8_t> part) { packed.insert(packed.end(), part.begin(), part.end()); });
    job.read_ahead.clear();
    job.on_read = val::null();
    const libtorv::pack_result result = value_of(std::move(made));
    // An image given that packing never took went nowhere: say so rather
    // than hand back a file without it.
    const std::set<std::string> taken(job.outline.files.begin(), job.outline.files.end());
    std::vector<std::string> unused;
    for (const auto& [name, given_name] : job.edited) {
        if (!taken.contains(name))
            unused.push_back(given_name);
    }
    if (!unused.empty()) {
        failure why;
        why.code = code::unused_image;
        why.file = unused.front();
        why.words = "no image of the layout is named ";
        for (std::size_t k = 0; k < unused.size(); ++k) why.words += (k > 0 ? ", " : "") + unused[k];
        why.words += " (the images packed are named " + job.prefix + "...)";
        throw_failure(why);
    }
    std::vector<std::string> notes = job.notes;
    notes.insert(notes.end(), result.notes.begin(), result.notes.end());
    val out = val::object();
    out.set("bytes", array_of(packed));
    out.set("name", job.prefix + ".bin");
    out.set("report", texts_of(result.report));
    out.set("notes", texts_of(notes));
    out.set("kept", texts_of(result.kept));
    val rooms = val::array();
    for (const libtorv::room_use& room : result.rooms) {
        val entry = val::object();
        entry.set("part", room.part);
        entry.set("used", static_cast<double>(room.used));
        entry.set("room", static_cast<double>(room.room));
        rooms.call<void>("push", entry);
    }
    out.set("rooms", rooms);
    val fits = val::array();
    for (const libtorv::image_fit& fit : result.fits) {
        val entry = val::object();
        entry.set("image", fit.image);
        entry.set("psnr", fit.psnr);  // Infinity where the image shows exactly what was given
        entry.set("oklabDifference", fit.oklab_difference);
        entry.set("colours", static_cast<double>(fit.colours));
        fits.call<void>("push", entry);
    }
    out.set("fits", fits);
    return out;
}

void pack_end(int handle) {
    jobs.erase(handle);
}

// Packing in one call: begun, finished and ended.
val pack_files(const val& images, int original, const val& options, const val& on_read) {
    const int handle = pack_begin(images, original, options, val::null())["job"].as<int>();
    struct ender {
        int handle;
        ~ender() { pack_end(handle); }
    } end{handle};
    return pack_finish(handle, val::null(), val::null(), on_read);
}

// The words for a file of `size` bytes that no layout has, or "" when one
// has it: asked before the file is read.
std::string refusal_of_size(const std::string& name, double size) {
    for (const libtorv::layout_size& layout : libtorv::layout_sizes()) {
        if (static_cast<double>(layout.file_size) == size)
            return "";
    }
    return libtorv::size_of_no_layout(name, static_cast<std::int64_t>(size));
}

// The held frame sequence as the animated GIF torv-project unpack --gif
// writes.
val gif_of(int handle) {
    return array_of(value_of(libtorv::gif_bytes(file_of(handle).data)));
}

// What a game folder's file at `path` ('/' between folders) of `size`
// bytes is to a project.
libtorv::game_file kind_of_game_file(const std::string& path, double size) {
    return libtorv::kind_of_game_file(std::string_view(path).substr(path.rfind('/') + 1),
                                      static_cast<std::int64_t>(size));
}

// Which of a game folder's files ([{path, size}]) are sources, and which
// .bin files are left alone, being of no layout's size: {sources, other},
// each a list of paths, told before any is read.
val sources_of(const val& files) {
    std::vector<std::string> sources;
    std::vector<std::string> other;
    const auto count = files["length"].as<unsigned>();
    for (unsigned k = 0; k < count; ++k) {
        std::string path = text_of(files[k]["path"], "a file's path");
        const libtorv::game_file kind = kind_of_game_file(path, files[k]["size"].as<double>());
        if (kind != libtorv::game_file::unrelated)
            (kind == libtorv::game_file::source ? sources : other).push_back(std::move(path));
    }
    val out = val::object();
    out.set("sources", texts_of(sources));
    out.set("other", texts_of(other));
    return out;
}

// A project made source by source, never whole in memory: its zip so far
// (handed out after each source) and its manifest.
struct project_job {
    libtorv::zip_archive zip;
    libtorv::project_manifest manifest;
    std::string last_path;  // sources come in the order torv-project walks a folder: by path
    std::size_t images = 0;
};

std::map<int, project_job> project_jobs;
int next_project_job = 1;

project_job& project_job_of(int handle) {
    const auto found = project_jobs.find(handle);
    if (found == project_jobs.end())
        refuse("no project is being made as " + std::to_string(handle));
    return found->second;
}

// Starts a project: sources are then added one by one, by path
// (projectAdd), and the project finished (projectFinish). A game folder's
// paths ([...]) are checked first: two sources of one name in another case
// fail, one line each.
int project_begin(const val& paths_given) {
    std::vector<std::string> paths;
    const auto count = paths_given["length"].as<unsigned>();
    for (unsigned k = 0; k < count; ++k) paths.push_back(text_of(paths_given[k], "a source's path"));
    if (const std::vector<std::string> clashes = libtorv::clashing_sources(paths); !clashes.empty())
        throw_lines(code::bad_argument, clashes);
    project_job job;
    job.manifest.tool = TORV_VERSION;
    job.manifest.images = libtorv::image_format::png;
    const int handle = next_project_job++;
    project_jobs.emplace(handle, std::move(job));
    return handle;
}

// One source of the project (its path, bytes and SHA-256 as hex digits if
// the browser worked it out) unpacked as torv-project unpack unpacks it:
// its images as PNGs in its folder. {bytes: the zip's next piece, images}.
val project_add(int handle, const std::string& path, const val& contents, const std::string& sha256, bool gif) {
    project_job& job = project_job_of(handle);
    if (!job.last_path.empty() && !(job.last_path < path))
        refuse("the sources of a project come in the order of their paths");
    const std::string folder = libtorv::project_folder_of(path);
    libtorv::unpack_settings settings;
    settings.gif = gif;
    settings.file_sha256 = sha256;
    libtorv::project_source made = value_of(libtorv::unpack_to_project(
        path, bytes_of(contents, "a source's contents"), settings, [&](const libtorv::project_file& file) {
            // PNGs and GIFs are deflated already.
            return libtorv::add_to_zip(job.zip, folder + "/" + file.name, file.contents, libtorv::zip_storing::store);
        }));
    job.last_path = path;
    job.images += made.images.size();
    val out = val::object();
    out.set("images", static_cast<double>(made.images.size()));
    job.manifest.sources.push_back(std::move(made));
    out.set("bytes", array_of(libtorv::take_zip_bytes(job.zip)));
    return out;
}

// The project's manifest and the zip's end: {bytes, sources, images}.
val project_finish(int handle) {
    project_job& job = project_job_of(handle);
    const std::string text = libtorv::manifest_json(job.manifest);
    check(libtorv::add_to_zip(job.zip, std::string(libtorv::manifest_name),
                              {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
    val out = val::object();
    out.set("bytes", array_of(libtorv::finish_zip(job.zip)));
    out.set("sources", static_cast<double>(job.manifest.sources.size()));
    out.set("images", static_cast<double>(job.images));
    project_jobs.erase(handle);
    return out;
}

// The file a BPS patch makes of `source`, the source's size and CRC32
// checked first.
val patched(const val& patch, const val& source) {
    return array_of(value_of(libtorv::apply_patch(bytes_of(patch, "the patch"), bytes_of(source, "the game's file"))));
}

// A palette the page shows (256 colours, 3 bytes each, at levels x 8) as a
// paint program's file: format "gpl", "pal" or "act".
val palette_file_of(const val& colours, const std::string& format, const std::string& name) {
    const bytes given = bytes_of(colours, "the palette");
    if (given.size() != 3 * 256) {
        refuse("a palette is 256 colours of 3 bytes");
    }
    std::array<std::uint16_t, 256> palette{};
    for (std::size_t k = 0; k < palette.size(); ++k) {
        palette[k] = static_cast<std::uint16_t>(given[3 * k] >> 3 | (given[3 * k + 1] >> 3) << 5 |
                                                (given[3 * k + 2] >> 3) << 10);
    }
    for (const libtorv::palette_format kind : libtorv::palette_formats) {
        if (libtorv::palette_extension(kind).substr(1) == format)
            return array_of(libtorv::palette_file(palette, kind, name));
    }
    refuse("a palette file is gpl, pal or act, not " + format);
}

std::uint64_t most_bytes_of(const val& most);

// A file given to the page: a Uint8Array, or a Blob read when needed
// with `read_blob`, never over `most` bytes.
struct given_file {
    std::string path;
    val file;
};

double size_of_given(const val& file) {
    return (is_bytes(file) ? file["length"] : file["size"]).as<double>();
}

result<bytes> read_given_file(const given_file& given, const val& read_blob, std::uint64_t most) {
    const double size = size_of_given(given.file);
    if (size > static_cast<double>(most)) {
        failure why = too_large(given.path, size);
        // In the words limits.js has for a file too large.
        why.words = given.path + " is " + val(size).call<std::string>("toLocaleString", std::string("en")) +
                    " bytes: files over " + std::to_string(most >> 20) + " MB are not read here";
        return why;
    }
    if (is_bytes(given.file))
        return emscripten::convertJSArrayToNumberVector<std::uint8_t>(given.file);
    const val read = read_blob(given.file);
    if (!is_bytes(read)) {
        return unreadable(
            given.path, code::cannot_read,
            "cannot read " + given.path + ": the browser could not read it (changed or removed since chosen?)");
    }
    return emscripten::convertJSArrayToNumberVector<std::uint8_t>(read);
}

std::vector<given_file> given_files_of(const val& list, const char* what) {
    std::vector<given_file> out;
    const auto count = list["length"].as<unsigned>();
    for (unsigned k = 0; k < count; ++k) {
        const val file = list[k]["file"];
        if (!is_bytes(file) && !file.instanceof (val::global("Blob")))
            refuse(std::string(what) + " must be a Uint8Array or a Blob");
        out.push_back({text_of(list[k]["path"], what), file});
    }
    return out;
}

bool is_zip(std::span<const std::uint8_t> data) {
    return data.size() >= 4 && data[0] == 'P' && data[1] == 'K' && (data[2] == 3 || data[2] == 5);
}

// A patch the player gave: its name as said ("mod.zip: data/four.bin.bps",
// or the file's own), and what it makes.
struct given_patch {
    std::string said;
    std::string target;
    bytes patch;
    libtorv::patch_facts facts;
};

// Every patch of `given`: .bps files, and zips of them (the README and the
// like left alone); lines for what is refused.
std::vector<given_patch> patches_given(const std::vector<given_file>& given, const val& read_blob, std::uint64_t most,
                                       std::vector<std::string>& problems) {
    std::vector<given_patch> patches;
    auto add = [&](std::string said, std::string target, bytes patch) {
        result<libtorv::patch_facts> facts = libtorv::facts_of_patch(patch);
        if (!facts) {
            problems.push_back(said + ": " + facts.error().words);
            return;
        }
        patches.push_back({std::move(said), std::move(target), std::move(patch), std::move(*facts)});
    };
    for (const given_file& file : given) {
        bytes contents = value_of(read_given_file(file, read_blob, most));
        if (!is_zip(contents)) {
            add(file.path, libtorv::target_of_patch(file.path), std::move(contents));
            continue;
        }
        const result<libtorv::zip_patches> found = libtorv::patches_of_zip(contents);
        if (!found) {
            problems.push_back(file.path + ": " + found.error().words);
            continue;
        }
        for (const std::string& line : found->refused) problems.push_back(file.path + ": " + line);
        if (found->names.empty() && found->refused.empty())
            problems.push_back(file.path + ": the zip holds no .bps patch");
        for (const std::string& name : found->names) {
            add(file.path + ": " + name, libtorv::target_of_patch(name),
                value_of(libtorv::patch_of_zip(contents, name)));
        }
    }
    return patches;
}

// Patches (.bps files and zips of them, [{path, file}]) applied to the
// game's files ([{path, file}]: a folder's, '/' between folders, or loose
// files), each file a Uint8Array or a Blob read with readBlob: every patch
// matched to its file by path, then by size and CRC32, and checked before
// any is applied. One file made, if `alone` allows: {path, bytes, report};
// else a zip laid out as the game folder, handed to onChunk(bytes) piece by
// piece, then {path: null, bytes: null, report}. A patch whose file is missing, or of
// another version, fails the whole, one line each, naming the patch and
// the file it wants.
val apply_patches(const val& patches_list, const val& files_list, const val& read_blob, const val& on_chunk,
                  double most_given, bool alone) {
    const auto most = most_bytes_of(val(most_given));
    std::vector<std::string> problems;
    const std::vector<given_patch> patches =
        patches_given(given_files_of(patches_list, "a patch"), read_blob, most, problems);
    const std::vector<given_file> files = given_files_of(files_list, "a game file");
    if (patches.empty() && problems.empty())
        refuse("choose the patches (.bps, or a zip of them)");
    std::vector<libtorv::listed_game_file> listed;
    for (const given_file& file : files)
        listed.push_back({file.path, static_cast<std::uint64_t>(size_of_given(file.file))});
    std::vector<libtorv::patch_to_match> wanted;
    for (const given_patch& patch : patches) wanted.push_back({patch.target, patch.facts});
    const std::vector<libtorv::patch_for_file> places =
        value_of(libtorv::match_patches(wanted, listed, [&](std::size_t k) -> result<std::uint32_t> {
            result<bytes> read = read_given_file(files[k], read_blob, most);
            if (!read)
                return std::move(read).error();
            return libtorv::crc32_of(*read);
        }));
    std::map<std::size_t, std::string> claimed;
    for (std::size_t k = 0; k < patches.size(); ++k) {
        const given_patch& patch = patches[k];
        const libtorv::patch_for_file& place = places[k];
        const std::string wants = std::to_string(patch.facts.source_size) + " bytes of CRC32 " +
                                  libtorv::crc32_text(patch.facts.source_crc32);
        if (place.file == libtorv::patch_for_file::none) {
            problems.push_back(patch.said + ": its game file " + patch.target +
                               " is not among the game's files given (nor any file of " + wants + ")");
        } else if (place.match == libtorv::patch_match::other) {
            problems.push_back(patch.said + ": " + files[place.file].path + " is another version of the file (" +
                               std::to_string(listed[place.file].size) + " bytes; the patch wants " + wants + ")");
        } else if (const auto [first, fresh] = claimed.try_emplace(place.file, patch.said); !fresh) {
            problems.push_back(first->second + " and " + patch.said + " are both for " + files[place.file].path);
        }
    }
    if (!problems.empty())
        throw_lines(code::wrong_source, problems);
    // Laid out as the game folder: a loose file goes where its patch says.
    auto path_made = [&](std::size_t k) {
        const std::string& path = files[places[k].file].path;
        const std::string& target = patches[k].target;
        if (path.find('/') != std::string::npos || target.find('/') == std::string::npos)
            return path;
        return target.substr(0, target.rfind('/') + 1) + path;
    };
    std::vector<std::string> report;
    libtorv::zip_archive zip;
    val out = val::object();
    for (std::size_t k = 0; k < patches.size(); ++k) {
        const libtorv::patch_for_file& place = places[k];
        const std::string path = path_made(k);
        const std::string found = place.by_contents ? ", found by its size and CRC32" : "";
        bytes made = value_of(read_given_file(files[place.file], read_blob, most));
        if (place.match == libtorv::patch_match::target) {
            report.push_back(path + ": already patched (it is what " + patches[k].said + " makes" + found +
                             "), kept as it is");
        } else {
            made = value_of(libtorv::apply_patch(patches[k].patch, made));
            report.push_back(path + ": patched with " + patches[k].said + found);
        }
        if (alone && patches.size() == 1) {
            out.set("path", path);
            out.set("bytes", array_of(made));
            break;
        }
        check(libtorv::add_to_zip(zip, path, made));
        on_chunk(array_of(libtorv::take_zip_bytes(zip)));
    }
    if (!alone || patches.size() > 1) {
        on_chunk(array_of(libtorv::finish_zip(zip)));
        out.set("path", val::null());
        out.set("bytes", val::null());
    }
    out.set("report", texts_of(report));
    return out;
}

// The largest file in a zip the page takes, as the page says it (its one
// limit for the files it reads).
std::uint64_t most_bytes_of(const val& most) {
    if (!most.isNumber() || !(most.as<double>() > 0)) {
        refuse("the largest file the page reads must be a number of bytes");
    }
    return static_cast<std::uint64_t>(most.as<double>());
}

// The names of a zip archive's files, nothing unpacked: what the page
// looks at to know what a zip dropped on it is.
val names_of_zip(const val& archive, const val& most) {
    const std::vector<libtorv::zip_item> items =
        value_of(libtorv::list_zip(bytes_of(archive, "the zip archive"), most_bytes_of(most)));
    std::vector<std::string> names;
    for (const libtorv::zip_item& item : items) names.push_back(item.name);
    return texts_of(names);
}

// The files of a zip archive, none over `most` bytes: [{name, bytes}].
val files_of_zip(const val& archive, const val& most) {
    const std::vector<libtorv::zip_entry> entries =
        value_of(libtorv::read_zip(bytes_of(archive, "the zip archive"), most_bytes_of(most)));
    val out = val::array();
    for (const libtorv::zip_entry& entry : entries) {
        val file = val::object();
        file.set("name", entry.name);
        file.set("bytes", array_of(entry.contents));
        out.call<void>("push", file);
    }
    return out;
}

// A project (its zip, edited) built as torv-project build --patch builds it
// from the game's files ([{path, file}], each a Uint8Array or a Blob read
// with readBlob when the build needs it; found by path, or by name where
// that is unique): every source whose images changed, packed with its
// original, verified, and its BPS patch. {bytes: a zip of build/<path> and
// patches/<path>.bps, report}. options: {nearest, fit}, any left out. Any
// failure, of any source, fails the whole with every failure's line.
val build_project(const val& archive, const val& originals_given, const val& options, const val& most,
                  const val& read_blob) {
    const std::vector<libtorv::zip_entry> entries =
        value_of(libtorv::read_zip(bytes_of(archive, "the project's zip"), most_bytes_of(most)));
    std::map<std::string, const bytes*> project_files;
    std::string top;  // a folder the zip puts the whole project in, if any
    for (const libtorv::zip_entry& entry : entries) {
        project_files[entry.name] = &entry.contents;
        const std::string name(libtorv::manifest_name);
        if (entry.name == name || entry.name.ends_with("/" + name))
            top = entry.name.substr(0, entry.name.size() - name.size());
    }
    const auto manifest_file = project_files.find(top + std::string(libtorv::manifest_name));
    if (manifest_file == project_files.end()) {
        failure why;
        why.code = code::bad_project;
        why.words = "the zip holds no " + std::string(libtorv::manifest_name) + ": it is no project";
        throw_failure(why);
    }
    const bytes& text = *manifest_file->second;
    const libtorv::project_manifest manifest =
        value_of(libtorv::read_manifest({reinterpret_cast<const char*>(text.data()), text.size()}));

    // The game's files, each read only when the build asks for it: those
    // the manifest names whose images changed.
    std::map<std::string, given_file> originals;
    std::map<std::string, std::vector<std::string>> by_name;
    for (given_file& file : given_files_of(originals_given, "a game file")) {
        by_name[file.path.substr(file.path.rfind('/') + 1)].push_back(file.path);
        originals.emplace(file.path, std::move(file));
    }
    const std::uint64_t most_read = most_bytes_of(most);
    // A game file by its path, or by its name where that is unique.
    const libtorv::game_reader game = [&](const std::string& path) -> result<bytes> {
        if (const auto found = originals.find(path); found != originals.end())
            return read_given_file(found->second, read_blob, most_read);
        const auto named = by_name.find(path.substr(path.rfind('/') + 1));
        if (named != by_name.end() && named->second.size() == 1)
            return read_given_file(originals.at(named->second.front()), read_blob, most_read);
        return unreadable(path, code::cannot_open, path + " is not among the game's files given");
    };
    libtorv::project_folder folder;
    folder.list = [&](const std::string& name) -> result<std::vector<libtorv::folder_entry>> {
        std::vector<libtorv::folder_entry> entries;
        const std::string inside = top + name + "/";
        for (const auto& [path, contents] : project_files) {
            if (path.starts_with(inside) && path.find('/', inside.size()) == std::string::npos) {
                entries.push_back({path.substr(inside.size()), libtorv::folder_entry::kind::file,
                                   static_cast<std::int64_t>(contents->size())});
            }
        }
        return entries;
    };
    folder.read = [&](const std::string& path, std::uint64_t max_bytes) -> result<bytes> {
        const auto found = project_files.find(top + path);
        if (found == project_files.end())
            return unreadable(path, code::cannot_open, "cannot open " + path);
        if (found->second->size() > max_bytes)
            return too_large(path, static_cast<double>(found->second->size()));
        return *found->second;
    };

    libtorv::build_settings settings;
    const bool given_options = !options.isUndefined() && !options.isNull();
    settings.nearest = given_options && options["nearest"].isTrue();
    settings.fit = given_options && options["fit"].isTrue();
    settings.patches = true;
    settings.words = page_words();
    libtorv::zip_archive built_zip;
    std::vector<std::pair<std::string, bytes>> patches;  // after the built files
    const libtorv::project_status status = libtorv::status_of_project(manifest, folder);
    const libtorv::build_result built =
        libtorv::build_project(manifest, status, folder, game, settings, [&](libtorv::build_output&& made) -> result<> {
            if (made.patch) {
                patches.emplace_back("patches/" + made.path, std::move(made.contents));
                return {};
            }
            return libtorv::add_to_zip(built_zip, "build/" + made.path, made.contents);
        });
    if (!built.failures.empty()) {
        failure why = built.failures.front();
        for (std::size_t k = 1; k < built.failures.size(); ++k) why.words += "\n" + built.failures[k].words;
        throw_failure(why);
    }
    std::vector<std::string> report = built.report;
    report.push_back(std::to_string(built.unchanged) + (built.unchanged == 1 ? " source" : " sources") + " unchanged");
    for (const auto& [name, patch] : patches) check(libtorv::add_to_zip(built_zip, name, patch));
    const bool any = built_zip.count > 0;
    const bytes joined = libtorv::finish_zip(built_zip);
    val out = val::object();
    out.set("bytes", any ? array_of(joined) : val::null());
    out.set("report", texts_of(report));
    return out;
}

// [{name, size}] of every layout, in the order sizes are tried.
val sizes_of_layouts() {
    val out = val::array();
    for (const libtorv::layout_size& layout : libtorv::layout_sizes()) {
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
        "layoutSizes", +[] { return guarded(sizes_of_layouts); });
    emscripten::function(
        "openFile", +[](const val& contents, const val& name, const val& on_image) {
            return guarded([&] { return open_file(contents, name, on_image); });
        });
    emscripten::function(
        "closeFile", +[](int handle) { close_file(handle); });
    emscripten::function(
        "imageFile", +[](int handle, int index, const std::string& kind) {
            return guarded([&] { return image_file(handle, index, kind); });
        });
    emscripten::function(
        "thumbnail",
        +[](int handle, int index, int step) { return guarded([&] { return thumbnail(handle, index, step); }); });
    emscripten::function(
        "zipImages", +[](int handle, const std::string& kind, const val& on_image) {
            return guarded([&] { return zip_images(handle, kind, on_image); });
        });
    emscripten::function(
        "packFiles", +[](const val& images, int original, const val& options, const val& on_read) {
            return guarded([&] { return pack_files(images, original, options, on_read); });
        });
    emscripten::function(
        "packBegin", +[](const val& images, int original, const val& options, const val& read_blob) {
            return guarded([&] { return pack_begin(images, original, options, read_blob); });
        });
    emscripten::function(
        "packPrepare", +[](int job, double first, double count, const val& read) {
            return guarded([&] { return pack_prepare(job, first, count, read); });
        });
    emscripten::function(
        "packFinish", +[](int job, const val& batches, const val& read, const val& on_read) {
            return guarded([&] { return pack_finish(job, batches, read, on_read); });
        });
    emscripten::function(
        "packEnd", +[](int job) { pack_end(job); });
    emscripten::function(
        "refusalOfSize",
        +[](const std::string& name, double size) { return guarded([&] { return refusal_of_size(name, size); }); });
    emscripten::function(
        "gifOf", +[](int handle) { return guarded([&] { return gif_of(handle); }); });
    emscripten::function(
        "projectBegin", +[](const val& paths) { return guarded([&] { return project_begin(paths); }); });
    emscripten::function(
        "projectAdd", +[](int job, const std::string& path, const val& contents, const std::string& sha256, bool gif) {
            return guarded([&] { return project_add(job, path, contents, sha256, gif); });
        });
    emscripten::function(
        "projectFinish", +[](int job) { return guarded([&] { return project_finish(job); }); });
    emscripten::function(
        "sourcesOf", +[](const val& files) { return guarded([&] { return sources_of(files); }); });
    emscripten::function(
        "applyPatch",
        +[](const val& patch, const val& source) { return guarded([&] { return patched(patch, source); }); });
    emscripten::function(
        "paletteFile", +[](const val& colours, const std::string& format, const std::string& name) {
            return guarded([&] { return palette_file_of(colours, format, name); });
        });
    emscripten::function(
        "applyPatches",
        +[](const val& patches, const val& files, const val& read_blob, const val& on_chunk, double most, bool alone) {
            return guarded([&] { return apply_patches(patches, files, read_blob, on_chunk, most, alone); });
        });
    emscripten::function(
        "zipNames",
        +[](const val& archive, const val& most) { return guarded([&] { return names_of_zip(archive, most); }); });
    emscripten::function(
        "zipFiles",
        +[](const val& archive, const val& most) { return guarded([&] { return files_of_zip(archive, most); }); });
    emscripten::function(
        "buildProject",
        +[](const val& archive, const val& originals, const val& options, const val& most, const val& read_blob) {
            return guarded([&] { return build_project(archive, originals, options, most, read_blob); });
        });
}
