// libtorv/project.h: unpacking sources into project files, telling which
// images changed, and building sources back from them.
#include "libtorv/project.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

#include "codec/bps.h"
#include "image/bmp_read.h"
#include "image/palette.h"
#include "image/png_read.h"
#include "io/digest.h"
#include "io/words.h"
#include "libtorv/pack.h"
#include "libtorv/unpack.h"
#include "pack/game_colours.h"
#include "pack/parallel.h"

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

// A picture of the project, as packing reads it.
result<torv::picture> picture_of(const std::string& name, const bytes& contents) {
    result<torv::picture> read =
        name.ends_with(".png") ? torv::read_png(contents, 1u << 22) : torv::read_bmp(contents, 1u << 22);
    if (read)
        torv::take_five_bit_save(*read);
    return read;
}

failure differs(const project_source& source, const std::string& image, const std::string& how) {
    return failure_of(code::bad_image, source.path + ": the file packed does not give " + image + " back: " + how,
                      image);
}

// Every pixel of the packed image shows a colour the project's image stands
// for (or, where colours went to the nearest entry, any).
result<> compare_with_project(const project_source& source, const image_view& packed, const torv::picture& wanted,
                              const std::string& name, bool nearest) {
    if (packed.width != wanted.width || packed.height != wanted.height) {
        return differs(source, name, "its size is another");
    }
    for (std::size_t at = 0; at < packed.indices.size() && !nearest; ++at) {
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

result<> compare_with_original(const project_source& source, const image_view& packed, const image_view& original) {
    if (packed.width != original.width || packed.height != original.height) {
        return differs(source, std::string(original.name), "its size is another");
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
            return differs(source, std::string(original.name), "a pixel the project left as it was changed");
        }
    }
    return {};
}

}  // namespace

std::uint32_t crc32_of(std::span<const std::uint8_t> data) {
    return torv::crc32_of(data);
}

std::string sha256_of(std::span<const std::uint8_t> data) {
    return torv::sha256_of(data);
}

bytes bps_patch(std::span<const std::uint8_t> source, std::span<const std::uint8_t> target) {
    return torv::bps_encode(source, target);
}

result<patch_facts> facts_of_patch(std::span<const std::uint8_t> patch) {
    const result<torv::bps_facts> facts = torv::bps_facts_of(patch);
    if (!facts)
        return facts.error();
    return patch_facts{facts->source_size, facts->source_crc32, facts->target_size, facts->target_crc32};
}

result<bytes> apply_patch(std::span<const std::uint8_t> patch, std::span<const std::uint8_t> source) {
    return torv::bps_apply(patch, source);
}

namespace {

result<project_source> images_of_source(std::string_view path, std::span<const std::uint8_t> file, image_format images,
                                        bool gif, unsigned jobs,
                                        const std::function<result<>(const project_file&)>& put) {
    project_source source;
    source.path = path;
    source.size = static_cast<std::int64_t>(file.size());
    source.folder = project_folder_of(path);
    const std::string prefix = image_prefix(last_part(path), "");

    std::vector<waiting_image> batch;
    const std::size_t batch_size = images_per_job * std::max(1u, jobs);
    result<> handed;
    auto flush = [&] {
        torv::parallel_for(batch.size(), jobs, [&](std::size_t k) {
            waiting_image& image = batch[k];
            result<bytes> made = images == image_format::png ? png_bytes(view_of(image)) : bmp_bytes(view_of(image));
            if (!made) {
                image.why = std::move(made).error();
                return;
            }
            image.file = {file_name_of(image.name, images), std::move(*made)};
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
    const result<unpack_result> unpacked = unpack_bytes(file, prefix, [&](const image_view& image) {
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
    if (gif && source.layout == "frame_sequence") {
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

}  // namespace

result<project_source> unpack_to_project(std::string_view path, std::span<const std::uint8_t> file, image_format images,
                                         bool gif, unsigned jobs,
                                         const std::function<result<>(const project_file&)>& put,
                                         std::string_view file_sha256) {
    constexpr std::size_t sha256_digits = 64;
    if (!file_sha256.empty() && (file_sha256.size() != sha256_digits ||
                                 file_sha256.find_first_not_of("0123456789abcdef") != std::string::npos)) {
        return failure_of(code::bad_argument, "a SHA-256 is 64 lower-case hex digits, not '" +
                                                  std::string(file_sha256.substr(0, sha256_digits)) + "'");
    }
    // The source's digests take about as long as decoding it, so they are
    // worked out on a thread of their own while the images are made.
    std::uint32_t crc32 = 0;
    std::string sha256(file_sha256);
    std::optional<result<project_source>> made;
    torv::parallel_for(2, jobs, [&](std::size_t k) {
        if (k == 0) {
            made = images_of_source(path, file, images, gif, jobs, put);
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

std::vector<std::pair<image_state, std::string>> image_states(
    const project_source& source, const std::function<result<bytes>(const std::string& name)>& read, unsigned jobs) {
    std::vector<std::pair<image_state, std::string>> states(source.images.size());
    torv::parallel_for(source.images.size(), jobs, [&](std::size_t k) {
        const project_image& image = source.images[k];
        const result<bytes> contents = read(image.file);
        if (!contents) {
            const bool missing = contents.error().code == code::cannot_open;
            states[k] = {missing ? image_state::missing : image_state::unreadable,
                         missing ? contents.error().reason : contents.error().words};
        } else {
            states[k] = {torv::sha256_of(*contents) == image.sha256 ? image_state::unchanged : image_state::changed,
                         std::string()};
        }
    });
    return states;
}

result<built_source> build_from_project(const project_source& source, std::span<const std::uint8_t> original,
                                        const std::vector<std::string>& changed, const image_folder& files,
                                        const pack_settings& settings) {
    if (static_cast<std::int64_t>(original.size()) != source.size) {
        return failure_of(code::original_changed,
                          source.path + " is not the file the project was made from (its size differs)", source.path);
    }
    // The original's hash and its images' places, side by side.
    const std::string prefix = image_prefix(last_part(source.path), "");
    std::string hash;
    result<original_images> originals = failure_of(code::bad_argument, "not listed");
    torv::parallel_for(2, settings.jobs, [&](std::size_t k) {
        if (k == 0) {
            hash = torv::sha256_of(original);
        } else {
            originals = original_images::list(original, prefix);
        }
    });
    if (hash != source.sha256) {
        return failure_of(code::original_changed,
                          source.path + " is not the file the project was made from (its SHA-256 differs)",
                          source.path);
    }
    if (!originals) {
        return std::move(originals).error();
    }
    // The names packing looks for: an unchanged image is the original's (taken
    // from it, not read), a changed one the project's file under its own name.
    std::map<std::string, std::size_t> unchanged;  // by the BMP name torv gives it
    std::map<std::string, std::size_t> edited;     // by its file's name
    for (std::size_t k = 0; k < source.images.size(); ++k) {
        const std::string& file = source.images[k].file;
        const std::string bmp_name = std::string(image_stem(file)) + ".bmp";
        if (std::find(changed.begin(), changed.end(), file) != changed.end()) {
            edited[file] = k;
        } else {
            unchanged[bmp_name] = k;
        }
    }
    image_folder folder;
    folder.has = [&](const std::string& name) { return unchanged.contains(name) || edited.contains(name); };
    folder.is_original = [&](const std::string& name) { return unchanged.contains(name); };
    folder.read = [&](const std::string& name, std::uint64_t max_bytes) -> result<bytes> {
        if (const auto found = edited.find(name); found != edited.end()) {
            return files.read(name, max_bytes);
        }
        bytes made;
        result<> done = originals->with(unchanged.at(name), [&](const image_view& image) { made = *bmp_bytes(image); });
        if (!done)
            return std::move(done).error();
        return made;
    };
    folder.each_name = [&](const std::function<void(const std::string&)>& visit) -> result<> {
        for (const auto& [name, k] : unchanged) visit(name);
        for (const auto& [name, k] : edited) visit(name);
        return {};
    };
    const original_file like{source.path, original};
    built_source built;
    result<pack_result> packed = pack_images(prefix, folder, &like, settings, [&](std::span<const std::uint8_t> part) {
        built.packed.insert(built.packed.end(), part.begin(), part.end());
    });
    if (!packed) {
        failure why = std::move(packed).error();
        why.words = source.path + ": " + why.words;
        return why;
    }
    built.packing = std::move(*packed);
    built.same_as_original = std::equal(built.packed.begin(), built.packed.end(), original.begin(), original.end());

    // Decoded again, every image as the project has it.
    std::size_t k = 0;
    result<> compared;
    const result<unpack_result> walked = unpack_bytes(built.packed, prefix, [&](const image_view& image) {
        if (k >= source.images.size()) {
            compared = differs(source, std::string(image.name), "it holds more images than the project");
            return false;
        }
        const std::string& file = source.images[k].file;
        if (edited.contains(file)) {
            result<bytes> contents = files.read(file, std::uint64_t{1} << 26);
            result<torv::picture> wanted =
                contents ? picture_of(file, *contents) : result<torv::picture>(contents.error());
            compared = wanted ? compare_with_project(source, image, *wanted, file, settings.nearest) : wanted.error();
        } else if (k >= originals->digests.size()) {
            compared = differs(source, file, "the original has no such image");
        } else if (digest_of(image) != originals->digests[k]) {
            result<> kept = originals->with(
                k, [&](const image_view& was) { compared = compare_with_original(source, image, was); });
            if (!kept)
                compared = std::move(kept).error();
        }
        ++k;
        return compared.ok();
    });
    if (!walked)
        return walked.error();
    if (!compared)
        return compared.error();
    if (k != source.images.size()) {
        return differs(source, source.images[std::min(k, source.images.size() - 1)].file,
                       "it holds fewer images than the project");
    }
    return built;
}

std::string build_line(const project_source& source, const std::vector<std::string>& changed,
                       const built_source& built) {
    if (built.same_as_original) {
        return source.path + ": " + torv::listed(changed) +
               " saved again, but what the images show is unchanged: not written";
    }
    std::string room;
    for (const room_use& use : built.packing.rooms) {
        room += "; " + use.part + ": " + torv::grouped(use.used) + " of " + torv::grouped(use.room) + " bytes";
    }
    return source.path + ": " + torv::counted(changed.size(), "image", "images") + " changed (" +
           torv::listed(changed) + ")" + room;
}

}  // namespace libtorv
