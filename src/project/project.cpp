// libtorv/project.h: unpacking sources into project files, and building a
// source back from its images.
#include "libtorv/project.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

#include "format/layouts.h"
#include "image/read_image.h"
#include "io/digest.h"
#include "io/words.h"
#include "libtorv/pack.h"
#include "libtorv/palette_files.h"
#include "libtorv/unpack.h"
#include "pack/fit_palette.h"
#include "pack/game_colours.h"
#include "pack/pack_parts.h"
#include "pack/parallel.h"
#include "pack/prepared_frames.h"
#include "project/source_build.h"

namespace libtorv {

namespace {

using torv::failure_of;

// Images made a batch at a time, each batch on as many threads as there are.
constexpr std::size_t images_per_job = 4;

// An image of a source, kept while its file is made.
struct waiting_image {
    std::string name;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bytes indices;
    std::array<std::uint16_t, 256> palette{};
    project_file file;
    std::string sha256;
    failure why;
    bool made = false;
};

// The distinct palettes of a source's images, in the order first used,
// with the files of the images that use each.
struct palette_uses {
    std::vector<std::array<std::uint16_t, 256>> palettes;
    std::vector<std::vector<std::string>> files;

    void add(std::span<const std::uint16_t, 256> palette, std::string file) {
        std::size_t k = 0;
        while (k < palettes.size() && !std::equal(palette.begin(), palette.end(), palettes[k].begin())) ++k;
        if (k == palettes.size()) {
            palettes.emplace_back();
            std::copy(palette.begin(), palette.end(), palettes.back().begin());
            files.emplace_back();
        }
        files[k].push_back(std::move(file));
    }
};

constexpr std::string_view palette_infix = "-palette";
constexpr std::string_view palette_list_ending = "-palettes.txt";

std::string palette_stem(std::string_view prefix, std::size_t k, std::size_t count) {
    return std::string(prefix) + std::string(palette_infix) + (count == 1 ? std::string() : std::to_string(k + 1));
}

// The palette files and the list of who uses which, each handed to `put`.
result<> put_palettes(const palette_uses& uses, std::string_view prefix, std::string_view path,
                      const std::function<result<>(const project_file&)>& put) {
    std::string list = "# The palettes of " + std::string(path) +
                       "'s images, each as .gpl (GIMP), .pal (JASC: Paint Shop Pro, GraphicsGale, Aseprite) and "
                       ".act (Adobe),\n# and the images that use each.\n";
    for (std::size_t k = 0; k < uses.palettes.size(); ++k) {
        const std::string stem = palette_stem(prefix, k, uses.palettes.size());
        for (const palette_format format : palette_formats) {
            const project_file made{stem + std::string(palette_extension(format)),
                                    palette_file(uses.palettes[k], format, stem)};
            if (result<> given = put(made); !given)
                return given;
        }
        list += stem + ":";
        for (const std::string& file : uses.files[k]) list += " " + file;
        list += "\n";
    }
    return put({std::string(prefix) + std::string(palette_list_ending), bytes(list.begin(), list.end())});
}

image_view view_of(const waiting_image& image) {
    return {image.name, image.width, image.height, image.indices, image.palette, {}};
}

std::string file_name_of(std::string_view bmp_name, image_format format) {
    return format == image_format::bmp ? std::string(bmp_name) : std::string(image_stem(bmp_name)) + ".png";
}

std::string last_part(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string prefix_of(const project_source& source) {
    return image_prefix(last_part(source.path), "");
}

// What an image shows, in 64 bits: the CRC32 of its indices, and of its
// palette's colours (bit 15 aside). Two images alike in both are the same;
// two that differ may still show the same colours, and are looked at pixel
// by pixel.
std::uint64_t digest_of(const image_view& image) {
    std::array<std::uint8_t, 512> colours{};
    for (std::size_t k = 0; k < image.palette.size(); ++k) {
        const std::uint16_t entry = image.palette[k] & 0x7FFF;
        colours[2 * k] = static_cast<std::uint8_t>(entry);
        colours[2 * k + 1] = static_cast<std::uint8_t>(entry >> 8);
    }
    return std::uint64_t{torv::crc32_of(image.indices)} << 32 | torv::crc32_of(colours);
}

// The original's images, each made again from its record when asked.
struct original_images {
    std::span<const std::uint8_t> file;
    std::string prefix;
    std::vector<record_point> points;
    std::vector<std::size_t> in_record;  // the image's place among its record's images
    std::vector<std::uint64_t> digests;  // of each image's indices and colours (see digest_of)

    static result<original_images> list(std::span<const std::uint8_t> file, const std::string& prefix) {
        original_images listed{file, prefix, {}, {}, {}};
        record_point last{-1, 0};
        std::size_t place = 0;
        const result<unpack_result> walked = unpack_bytes(file, prefix, [&](const image_view& image) {
            place = image.record.offset == last.offset ? place + 1 : 0;
            last = image.record;
            listed.points.push_back(image.record);
            listed.in_record.push_back(place);
            listed.digests.push_back(digest_of(image));
            return true;
        });
        if (!walked)
            return walked.error();
        return listed;
    }

    // Hands image `k` to `take`.
    result<> with(std::size_t k, const std::function<void(const image_view&)>& take) const {
        std::size_t seen = 0;
        const result<unpack_result> walked = unpack_bytes(
            file, prefix,
            [&](const image_view& image) {
                if (seen++ < in_record[k])
                    return true;
                take(image);
                return false;
            },
            points[k]);
        if (!walked)
            return walked.error();
        return {};
    }
};

// ---------------------------------------------------------------------------
// Unpacking.

result<project_source> images_of_source(std::string_view path, std::span<const std::uint8_t> file,
                                        const unpack_settings& settings,
                                        const std::function<result<>(const project_file&)>& put) {
    project_source source;
    source.path = path;
    source.size = static_cast<std::int64_t>(file.size());
    source.folder = project_folder_of(path);
    const std::string prefix = image_prefix(last_part(path), "");
    const unsigned jobs = std::max(1u, settings.jobs);

    std::vector<waiting_image> batch;
    const std::size_t batch_size = images_per_job * jobs;
    result<> handed;
    auto flush = [&] {
        torv::parallel_for(batch.size(), jobs, [&](std::size_t k) {
            waiting_image& image = batch[k];
            result<bytes> made =
                settings.images == image_format::png ? png_bytes(view_of(image)) : bmp_bytes(view_of(image));
            if (!made) {
                image.why = std::move(made).error();
                return;
            }
            image.file = {file_name_of(image.name, settings.images), std::move(*made)};
            image.sha256 = torv::sha256_of(image.file.contents);
            image.made = true;
        });
        for (waiting_image& image : batch) {
            if (!handed)
                break;
            if (!image.made) {
                handed = image.why;
                break;
            }
            handed = put(image.file);
            source.images.push_back({image.file.name, image.width, image.height, image.sha256});
        }
        batch.clear();
        return handed.ok();
    };
    palette_uses palettes;
    const result<unpack_result> unpacked = unpack_bytes(file, prefix, [&](const image_view& image) {
        if (settings.palettes)
            palettes.add(image.palette, file_name_of(image.name, settings.images));
        waiting_image& kept = batch.emplace_back();
        kept.name = image.name;
        kept.width = image.width;
        kept.height = image.height;
        kept.indices.assign(image.indices.begin(), image.indices.end());
        std::copy(image.palette.begin(), image.palette.end(), kept.palette.begin());
        return batch.size() < batch_size || flush();
    });
    if (!unpacked) {
        return unpacked.error();
    }
    if (unpacked->layout.empty()) {
        failure why = failure_of(code::no_layout, size_of_no_layout(path, source.size), std::string(path));
        why.needed = source.size;
        return why;
    }
    if (handed)
        flush();
    if (!handed) {
        return handed.error();
    }
    source.layout = unpacked->layout;
    if (settings.palettes) {
        if (result<> given = put_palettes(palettes, prefix, path, put); !given)
            return given.error();
    }
    if (settings.gif && source.layout == "frame_sequence") {
        result<bytes> animation = gif_bytes(file);
        if (!animation) {
            return std::move(animation).error();
        }
        const project_file made{prefix + ".gif", std::move(*animation)};
        if (result<> given = put(made); !given) {
            return std::move(given).error();
        }
        source.animation = project_image{made.name, 0, 0, torv::sha256_of(made.contents)};
    }
    return source;
}

// ---------------------------------------------------------------------------
// Building.

failure differs(const project_source& source, const std::string& image, const std::string& how) {
    return failure_of(code::bad_image, source.path + ": the file packed does not give " + image + " back: " + how,
                      image);
}

// A picture of the project as packing reads it: by its content.
result<torv::picture> picture_of(const std::string& name, const bytes& contents, std::int64_t width,
                                 std::int64_t height) {
    result<torv::picture> read =
        torv::read_image(contents, static_cast<std::size_t>(width * height), name.ends_with(".png"));
    if (read)
        torv::take_five_bit_save(*read);
    return read;
}

// Every pixel of the packed image shows a colour the project's image stands
// for (or any, where colours may have gone to the nearest entry or --fit
// changed the image).
result<> compare_with_project(const project_source& source, const image_view& packed, const torv::picture& wanted,
                              const std::string& name, bool any_colour) {
    if (packed.width != wanted.width || packed.height != wanted.height) {
        return differs(source, name, "its size is another");
    }
    for (std::size_t at = 0; at < packed.indices.size() && !any_colour; ++at) {
        const std::uint16_t shown = packed.palette[packed.indices[at]] & 0x7FFF;
        if (!torv::game_colours_of(wanted.colour_at(at), wanted.bits).contains(shown)) {
            const std::size_t width = static_cast<std::size_t>(packed.width);
            return differs(
                source, name,
                "pixel (" + std::to_string(at % width) + ", " + std::to_string(at / width) + ") shows another colour");
        }
    }
    return {};
}

result<> compare_with_original(const project_source& source, const image_view& packed, const image_view& original,
                               const std::string& name) {
    if (packed.width != original.width || packed.height != original.height) {
        return differs(source, name, "its size is another");
    }
    // Most often the very indices and colours: no pixel need be looked at.
    const bool same_colours = std::equal(packed.palette.begin(), packed.palette.end(), original.palette.begin(),
                                         [](std::uint16_t a, std::uint16_t b) { return ((a ^ b) & 0x7FFF) == 0; });
    if (same_colours &&
        std::equal(packed.indices.begin(), packed.indices.end(), original.indices.begin(), original.indices.end())) {
        return {};
    }
    for (std::size_t at = 0; at < packed.indices.size(); ++at) {
        if (!(torv::rgb8_of(packed.palette[packed.indices[at]]) ==
              torv::rgb8_of(original.palette[original.indices[at]]))) {
            return differs(source, name, "a pixel the project left as it was changed");
        }
    }
    return {};
}

// The files a build of one source packs, under the names packing looks for
// (and says): an unchanged image is the original's (taken from it, not
// read), under the name the project gives it; an edited one the project's
// file, under its own name.
struct build_files {
    const project_source& source;
    const project_folder& folder;
    const original_images& originals;
    std::map<std::string, std::size_t> unchanged;  // by the project's name for it -> image
    std::map<std::string, std::size_t> edited;     // by its file's name -> image (or frame, when added)
    std::map<std::size_t, std::string> file_of;    // image (or added frame) -> its file's name

    build_files(const project_source& from, const source_status& status, const project_folder& files,
                const original_images& original)
        : source(from), folder(files), originals(original) {
        for (std::size_t k = 0; k < source.images.size(); ++k) {
            const bool changed = std::find(status.changed.begin(), status.changed.end(), k) != status.changed.end();
            if (changed) {
                edited[status.files[k]] = k;
                file_of[k] = status.files[k];
            } else {
                unchanged[source.images[k].file] = k;
            }
        }
        for (std::size_t a = 0; a < status.added.size(); ++a) {
            edited[status.added[a]] = source.images.size() + a;
            file_of[source.images.size() + a] = status.added[a];
        }
    }

    result<bytes> read_edited(const std::string& name, std::uint64_t max_bytes) const {
        return folder.read(source.folder + "/" + name, max_bytes);
    }

    image_folder as_image_folder() const {
        image_folder files;
        files.has = [this](const std::string& name) { return unchanged.contains(name) || edited.contains(name); };
        files.is_original = [this](const std::string& name) { return unchanged.contains(name); };
        files.read = [this](const std::string& name, std::uint64_t max_bytes) -> result<bytes> {
            if (edited.contains(name)) {
                return read_edited(name, max_bytes);
            }
            const auto found = unchanged.find(name);
            if (found == unchanged.end()) {
                return failure_of(code::cannot_open, "cannot open " + name, name);
            }
            bytes made;
            result<> done = originals.with(found->second, [&](const image_view& image) { made = *bmp_bytes(image); });
            if (!done)
                return std::move(done).error();
            return made;
        };
        files.each_name = [this](const std::function<void(const std::string&)>& visit) -> result<> {
            for (const auto& [name, k] : unchanged) visit(name);
            for (const auto& [name, k] : edited) visit(name);
            return {};
        };
        return files;
    }
};

// The size an image of the source (or a frame added) must be.
image_size size_of_image(const project_source& source, std::size_t k) {
    const project_image& model = source.images[std::min(k, source.images.size() - 1)];
    return {model.width, model.height};
}

// Each edited image read and looked at on its own: every one that cannot be
// read, or is not of its size, is a failure of its own.
std::vector<failure> unreadable_images(const build_files& files, const pack_settings& settings) {
    std::vector<std::pair<std::size_t, std::string>> edited(files.file_of.begin(), files.file_of.end());
    std::vector<std::optional<failure>> found(edited.size());
    torv::parallel_for(edited.size(), std::max(1u, settings.jobs), [&](std::size_t e) {
        const auto& [k, name] = edited[e];
        const image_size size = size_of_image(files.source, k);
        result<bytes> contents = files.read_edited(name, largest_image_file(size.width, size.height));
        result<torv::picture> read =
            contents ? picture_of(name, *contents, size.width, size.height) : result<torv::picture>(contents.error());
        const std::optional<image_size> told = read ? image_size{read->width, read->height} : read.error().size;
        if (told && told->width > 0 && (told->width != size.width || told->height != size.height)) {
            failure why =
                failure_of(code::wrong_size,
                           name + ": the image is " + std::to_string(told->width) + "x" + std::to_string(told->height) +
                               ", it must be " + std::to_string(size.width) + "x" + std::to_string(size.height),
                           name);
            why.size = told;
            found[e] = why;
        } else if (!read) {
            failure why = std::move(read).error();
            why.words = name + ": " + why.words;
            why.file = name;
            found[e] = why;
        }
    });
    std::vector<failure> failures;
    for (std::optional<failure>& why : found) {
        if (why)
            failures.push_back(std::move(*why));
    }
    return failures;
}

// Every edited frame of a frame sequence that fails, with its failure: each
// prepared on its own, as packing prepares it (the others, the original's,
// cannot fail). Asked after a packing failed, to say all at once.
std::vector<failure> failing_frames(const pack_outline& outline, const image_folder& folder,
                                    const original_file& original, const pack_settings& settings) {
    std::vector<failure> failures;
    for (std::size_t frame = 0; frame < outline.files.size(); ++frame) {
        if (outline.from_original[frame])
            continue;
        result<frame_batch> batch = prepare_frames(outline, folder, &original, settings, frame, 1);
        if (!batch) {
            failures.push_back(std::move(batch).error());
            break;
        }
        if (batch->failed) {
            result<torv::prepared_batch> read = torv::read_batch(batch->data);
            failures.push_back(read && read->why
                                   ? *read->why
                                   : failure_of(code::bad_argument, "a batch of frames could not be read back"));
        }
    }
    return failures;
}

// The image that a failure of packing is about, among the edited ones.
std::optional<std::string> edited_file_of(const build_files& files, const failure& why) {
    for (const auto& [k, name] : files.file_of) {
        if (why.file == name)
            return name;
    }
    return std::nullopt;
}

// Packs a source of one record, every edited image that fails found: after
// one fails, the others are packed again without it, to find theirs.
result<pack_result> pack_record(const std::string& prefix, build_files& files, const original_file& original,
                                const pack_settings& settings, bytes& packed, std::vector<failure>& failures) {
    const std::map<std::string, std::size_t> all_edited = files.edited;
    std::optional<result<pack_result>> first;
    for (std::size_t tries = 0; tries <= all_edited.size(); ++tries) {
        bytes made;
        result<pack_result> tried =
            pack_images(prefix, files.as_image_folder(), &original, settings,
                        [&](std::span<const std::uint8_t> part) { made.insert(made.end(), part.begin(), part.end()); });
        if (!first) {
            first = tried;
            packed = std::move(made);
        }
        if (tried) {
            break;
        }
        failures.push_back(tried.error());
        const std::optional<std::string> culprit = edited_file_of(files, tried.error());
        if (!culprit || !files.edited.contains(*culprit)) {
            break;
        }
        // Taken as the original's, to see whether the others pack.
        const std::size_t k = files.edited.at(*culprit);
        files.edited.erase(*culprit);
        files.unchanged[files.source.images[k].file] = k;
    }
    files.edited = all_edited;
    return *first;
}

// The packed file decoded again: every image as the project has it, or as
// --fit made it (`fits`).
result<> verify(const source_build_input& in, const build_files& files, const bytes& packed,
                const std::vector<image_fit>& fits) {
    const project_source& source = in.source;
    std::size_t k = 0;
    result<> compared;
    const std::size_t images = source.images.size() + in.status.added.size();
    const result<unpack_result> walked = unpack_bytes(packed, prefix_of(source), [&](const image_view& image) {
        if (k >= images) {
            compared = differs(source, std::string(image.name), "it holds more images than the project");
            return false;
        }
        const auto edited = files.file_of.find(k);
        if (edited != files.file_of.end()) {
            const image_size size = size_of_image(source, k);
            result<bytes> contents = files.read_edited(edited->second, largest_image_file(size.width, size.height));
            result<torv::picture> wanted = contents ? picture_of(edited->second, *contents, size.width, size.height)
                                                    : result<torv::picture>(contents.error());
            const bool fitted = std::any_of(fits.begin(), fits.end(),
                                            [&](const image_fit& fit) { return fit.image == edited->second; });
            compared = wanted
                           ? compare_with_project(source, image, *wanted, edited->second, in.settings.nearest || fitted)
                           : wanted.error();
        } else if (k >= files.originals.digests.size()) {
            compared = differs(source, source.images[k].file, "the original has no such image");
        } else if (digest_of(image) != files.originals.digests[k]) {
            result<> kept = files.originals.with(k, [&](const image_view& was) {
                compared = compare_with_original(source, image, was, source.images[k].file);
            });
            if (!kept)
                compared = std::move(kept).error();
        }
        ++k;
        return compared.ok();
    });
    if (!walked)
        return walked.error();
    if (!compared)
        return compared;
    if (k != images) {
        return differs(source,
                       k < source.images.size() ? source.images[k].file : in.status.added[k - source.images.size()],
                       "it holds fewer images than the project");
    }
    return {};
}

std::vector<failure> with_source(const project_source& source, std::vector<failure> failures) {
    for (failure& why : failures) {
        if (!why.words.starts_with(source.path + ": "))
            why.words = source.path + ": " + why.words;
    }
    return failures;
}

}  // namespace

source_build build_source(const source_build_input& in) {
    const project_source& source = in.source;
    source_build done;
    if (static_cast<std::int64_t>(in.original.size()) != source.size) {
        done.failures.push_back(
            failure_of(code::original_changed,
                       source.path + " is not the file the project was made from (its size differs)", source.path));
        return done;
    }
    // The original's hash and its images' places, side by side.
    const std::string prefix = prefix_of(source);
    std::string hash;
    result<original_images> originals = failure_of(code::bad_argument, "not listed");
    torv::parallel_for(2, in.settings.jobs, [&](std::size_t k) {
        if (k == 0) {
            hash = torv::sha256_of(in.original);
        } else {
            originals = original_images::list(in.original, prefix);
        }
    });
    if (hash != source.sha256) {
        done.failures.push_back(
            failure_of(code::original_changed,
                       source.path + " is not the file the project was made from (its SHA-256 differs)", source.path));
        return done;
    }
    if (!originals) {
        done.failures.push_back(std::move(originals).error());
        return done;
    }
    build_files files(source, in.status, in.folder, *originals);
    done.failures = with_source(source, unreadable_images(files, in.settings));
    if (!done.failures.empty()) {
        return done;
    }
    const original_file like{source.path, in.original};
    const image_folder folder = files.as_image_folder();
    built_source built;
    std::optional<result<pack_result>> packed;
    if (torv::is_record_walk(*torv::layout_named(source.layout))) {
        result<pack_outline> outline = outline_images(prefix, folder, &like, in.settings);
        if (!outline) {
            done.failures = with_source(source, {outline.error()});
            return done;
        }
        packed = pack_outlined(*outline, folder, &like, in.settings, [&](std::span<const std::uint8_t> part) {
            built.packed.insert(built.packed.end(), part.begin(), part.end());
        });
        if (!*packed && edited_file_of(files, packed->error())) {
            // A frame failed: every frame that fails, said at once.
            done.failures = with_source(source, failing_frames(*outline, folder, like, in.settings));
            if (done.failures.empty())
                done.failures = with_source(source, {packed->error()});
            return done;
        }
    } else {
        std::vector<failure> failures;
        packed = pack_record(prefix, files, like, in.settings, built.packed, failures);
        if (!failures.empty()) {
            done.failures = with_source(source, std::move(failures));
            return done;
        }
    }
    if (!*packed) {
        done.failures = with_source(source, {packed->error()});
        return done;
    }
    built.packing = std::move(**packed);
    built.same_as_original =
        std::equal(built.packed.begin(), built.packed.end(), in.original.begin(), in.original.end());
    if (result<> verified = verify(in, files, built.packed, built.packing.fits); !verified) {
        done.failures.push_back(verified.error());
        return done;
    }
    done.built = std::move(built);
    return done;
}

bool is_palette_file(std::string_view prefix, std::string_view name) {
    if (name == std::string(prefix) + std::string(palette_list_ending))
        return true;
    const std::string start = std::string(prefix) + std::string(palette_infix);
    if (!name.starts_with(start))
        return false;
    std::string_view rest = name.substr(start.size());
    while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') rest.remove_prefix(1);
    for (const palette_format format : palette_formats) {
        if (rest == palette_extension(format))
            return true;
    }
    return false;
}

result<project_source> unpack_to_project(std::string_view path, std::span<const std::uint8_t> file,
                                         const unpack_settings& settings,
                                         const std::function<result<>(const project_file&)>& put) {
    if (!settings.file_sha256.empty() && !is_sha256_text(settings.file_sha256)) {
        return failure_of(code::bad_argument,
                          "a SHA-256 is 64 lower-case hex digits, not '" + settings.file_sha256.substr(0, 64) + "'");
    }
    // The source's digests take about as long as decoding it, so they are
    // worked out on a thread of their own while the images are made.
    std::uint32_t crc32 = 0;
    std::string sha256 = settings.file_sha256;
    std::optional<result<project_source>> made;
    torv::parallel_for(2, std::max(1u, settings.jobs), [&](std::size_t k) {
        if (k == 0) {
            made = images_of_source(path, file, settings, put);
        } else {
            crc32 = torv::crc32_of(file);
            if (sha256.empty())
                sha256 = torv::sha256_of(file);
        }
    });
    if (!*made)
        return std::move(*made).error();
    project_source source = std::move(**made);
    source.crc32 = crc32;
    source.sha256 = std::move(sha256);
    return source;
}

result<built_source> build_from_project(const project_source& source, const source_status& status,
                                        std::span<const std::uint8_t> original, const project_folder& folder,
                                        const pack_settings& settings) {
    source_build done = build_source({source, status, original, folder, settings});
    if (!done.failures.empty()) {
        failure why = done.failures.front();
        for (std::size_t k = 1; k < done.failures.size(); ++k) why.words += "\n" + done.failures[k].words;
        return why;
    }
    return std::move(*done.built);
}

std::string build_line(const project_source& source, const source_status& status, const built_source& built) {
    std::vector<std::string> files;
    for (const std::size_t k : status.changed) files.push_back(status.files[k]);
    files.insert(files.end(), status.added.begin(), status.added.end());
    if (built.same_as_original) {
        return source.path + ": " + torv::listed(files) +
               " saved again, but what the images show is unchanged: not written";
    }
    // Each image with the pixels that went to the nearest colour, if any did.
    std::vector<std::string> told;
    for (const std::string& file : files) {
        std::string text = file;
        for (const std::string& note : built.packing.notes) {
            if (note.starts_with(file + ": ") && note.ends_with(torv::nearest_note_ending)) {
                const std::string count =
                    note.substr(file.size() + 2, note.find(' ', file.size() + 2) - file.size() - 2);
                text += ", " + torv::grouped(std::stoll(count)) + (count == "1" ? " pixel" : " pixels") +
                        " to the nearest colour";
            }
        }
        told.push_back(text);
    }
    std::string room;
    for (const room_use& use : built.packing.rooms) {
        room += "; " + use.part + ": " + torv::grouped(use.used) + " of " + torv::grouped(use.room) + " bytes";
    }
    std::string changed =
        status.changed.empty() ? std::string() : torv::counted(status.changed.size(), "image", "images") + " changed";
    if (!status.added.empty()) {
        changed += (changed.empty() ? "" : ", ") + torv::counted(status.added.size(), "frame", "frames") + " added";
    }
    std::string fitted;  // what --fit did, image by image
    for (const image_fit& fit : built.packing.fits)
        fitted += "; " + fit.image + " fitted: " + torv::pack_parts::fit_words(fit);
    return source.path + ": " + changed + " (" + torv::listed(told) + ")" + room + fitted;
}

}  // namespace libtorv
