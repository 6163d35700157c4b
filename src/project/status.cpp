// libtorv/project.h: what became of a project's images. Each file of a
// source's folder is an image of it (under its own name, or as the other
// kind of image file), a frame added after the last, or a problem named
// with what to do; only files that are no image at all are left alone.
#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "format/layouts.h"
#include "format/names.h"
#include "io/result.h"
#include "io/words.h"
#include "libtorv/project.h"
#include "libtorv/unpack.h"
#include "pack/parallel.h"

namespace libtorv {

namespace {

using torv::failure_of;

// What editors save besides BMP and PNG: their own formats, and pictures
// torv-pack does not read. A file of one of these beside the images is an
// edit that did not reach a BMP or PNG.
constexpr std::string_view editor_extensions[] = {
    ".xcf",  ".psd",  ".kra", ".ora", ".pdn", ".ase", ".aseprite", ".jpg",  ".jpeg", ".gif",  ".tif",
    ".tiff", ".webp", ".tga", ".pcx", ".ico", ".jxl", ".avif",     ".heic", ".pxm",  ".clip", ".sai",
};
constexpr std::string_view image_extensions[] = {".png", ".bmp"};

std::string_view extension_of(std::string_view name) {
    return name.substr(image_stem(name).size());
}

bool is_image_name(std::string_view name) {
    const std::string extension = torv::lower_case(extension_of(name));
    return std::find(std::begin(image_extensions), std::end(image_extensions), extension) != std::end(image_extensions);
}

bool is_editor_name(std::string_view name) {
    const std::string extension = torv::lower_case(extension_of(name));
    return std::find(std::begin(editor_extensions), std::end(editor_extensions), extension) !=
           std::end(editor_extensions);
}

// The other kind's name of an image file: "four1.bmp" for "four1.png".
std::string other_kind_of(const std::string& file) {
    const std::string_view extension = extension_of(file);
    const std::string stem(image_stem(file));
    return extension == ".png" ? stem + ".bmp" : extension == ".bmp" ? stem + ".png" : std::string();
}

std::string last_part(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string in_folder(const project_source& source, const std::string& name) {
    return source.folder + "/" + name;
}

failure problem(const project_source& source, code what, const std::string& file, const std::string& words) {
    return failure_of(what, source.path + ": " + words, file);
}

// The number of the frame `name` is, if it is one torv would name after
// `prefix` ("intro060.png"), as a BMP or a PNG.
std::optional<std::size_t> frame_number(const std::string& prefix, const std::string& name) {
    constexpr std::size_t most_digits = 6;
    if (!is_image_name(name) || extension_of(name) != torv::lower_case(extension_of(name))) {
        return std::nullopt;
    }
    const std::string_view stem = image_stem(name);
    if (!stem.starts_with(prefix) || stem.size() <= prefix.size() || stem.size() - prefix.size() > most_digits) {
        return std::nullopt;
    }
    const std::string_view digits = stem.substr(prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    const auto number = static_cast<std::int32_t>(std::stol(std::string(digits)));
    if (image_stem(torv::frame_bmp_name(prefix, number)) != stem) {
        return std::nullopt;  // "0100" is not frame 100
    }
    return static_cast<std::size_t>(number);
}

// A source's folder as listed: its entries by name.
struct listed_folder {
    std::map<std::string, folder_entry> entries;
    std::optional<failure> why_not;  // it could not be listed

    const folder_entry* find(const std::string& name) const {
        const auto found = entries.find(name);
        return found == entries.end() ? nullptr : &found->second;
    }
};

// An image's file to read, and what was found of it.
struct image_look {
    std::string own;    // the manifest's name, if there as a file
    std::string other;  // the other kind's, if there as a file
    bool own_unchanged_hash = false;
    std::optional<result<bytes>> read;  // the own file's bytes, when it is read
    std::optional<failure> refused;     // a link, a folder, a file too large
};

std::string what_to_export(const project_manifest& manifest, std::string_view stem) {
    return std::string(stem) + (manifest.images == image_format::bmp ? ".bmp" : ".png");
}

// Looks at the entry that stands for an image under `name`: a file to read,
// or a problem.
void look_at(const project_source& source, const project_image& image, const folder_entry& entry, bool own,
             image_look& look) {
    using kind = folder_entry::kind;
    if (entry.type == kind::link) {
        look.refused = problem(source, code::not_a_file, entry.name,
                               entry.name +
                                   " is a link, which torv-project does not follow: put the image itself "
                                   "there");
    } else if (entry.type != kind::file) {
        look.refused = problem(source, code::not_a_file, entry.name, entry.name + " is not a file");
    } else if (static_cast<std::uint64_t>(entry.size) > largest_image_file(image.width, image.height)) {
        failure why = problem(source, code::file_too_large, entry.name,
                              entry.name + " is " + torv::grouped(entry.size) + " bytes, far more than an image of " +
                                  std::to_string(image.width) + "x" + std::to_string(image.height) + " needs");
        why.needed = entry.size;
        look.refused = why;
    } else {
        (own ? look.own : look.other) = entry.name;
    }
}

std::string missing_words(const project_source& source, const std::string& file) {
    const torv::layout* format = torv::layout_named(source.layout);
    if (format != nullptr && torv::is_record_walk(*format)) {
        return file + " is missing: " + last_part(source.path) + " is an animation of " +
               std::to_string(source.images.size()) +
               " frames, and the game plays each (put the frame back, or a copy of the one before it to hold that "
               "one longer)";
    }
    return file + " is missing: " + last_part(source.path) + " holds " +
           torv::counted(source.images.size(), "image", "images") + ", each needed (put it back from a new unpack)";
}

// The images of a source against what its folder holds.
source_status status_of_source(const project_manifest& manifest, const project_source& source,
                               const listed_folder& listed, const project_folder& folder, unsigned jobs) {
    source_status status;
    status.files.assign(source.images.size(), std::string());
    if (listed.why_not) {
        failure why = *listed.why_not;
        why.words = source.path + ": " + why.words;
        status.problems.push_back(why);
        return status;
    }
    std::set<std::string> known;  // entries that stand for an image or the animation
    if (source.animation)
        known.insert(source.animation->file);
    std::vector<image_look> looks(source.images.size());
    for (std::size_t k = 0; k < source.images.size(); ++k) {
        const project_image& image = source.images[k];
        const std::string other = other_kind_of(image.file);
        if (const folder_entry* own = listed.find(image.file)) {
            known.insert(image.file);
            look_at(source, image, *own, true, looks[k]);
        }
        if (const folder_entry* twin = other.empty() ? nullptr : listed.find(other)) {
            known.insert(other);
            if (!looks[k].refused)
                look_at(source, image, *twin, false, looks[k]);
        }
    }
    // The images' own files read and hashed on every thread.
    torv::parallel_for(source.images.size(), jobs, [&](std::size_t k) {
        image_look& look = looks[k];
        if (!look.refused && !look.own.empty()) {
            look.read = folder.read(in_folder(source, look.own),
                                    largest_image_file(source.images[k].width, source.images[k].height));
            if (*look.read) {
                look.own_unchanged_hash = sha256_of(**look.read) == source.images[k].sha256;
                look.read->value().clear();
                look.read->value().shrink_to_fit();
            }
        }
    });
    for (std::size_t k = 0; k < source.images.size(); ++k) {
        const image_look& look = looks[k];
        const std::string& file = source.images[k].file;
        if (look.refused) {
            status.problems.push_back(*look.refused);
            continue;
        }
        if (look.read && !*look.read) {
            status.problems.push_back(
                problem(source, look.read->error().code, look.own, look.own + ": " + look.read->error().words));
            continue;
        }
        const bool own_unchanged = !look.own.empty() && look.own_unchanged_hash;
        if (!look.own.empty() && !look.other.empty() && !own_unchanged) {
            status.problems.push_back(problem(source, code::both_kinds, look.own,
                                              "both " + look.own + " and " + look.other + " hold " +
                                                  std::string(image_stem(file)) + ", and both changed: keep one"));
        } else if (!look.other.empty() && own_unchanged) {
            status.files[k] = look.other;  // the edit went to the other kind of file
            status.changed.push_back(k);
        } else if (!look.own.empty()) {
            status.files[k] = look.own;
            if (!own_unchanged)
                status.changed.push_back(k);
        } else if (!look.other.empty()) {
            status.files[k] = look.other;
            status.changed.push_back(k);
        } else {
            status.problems.push_back(problem(source, code::missing_image, file, missing_words(source, file)));
        }
    }

    // Frames added after the last, and every other file of the folder.
    const torv::layout* format = torv::layout_named(source.layout);
    const bool frames = format != nullptr && torv::is_record_walk(*format);
    const std::string prefix = image_prefix(last_part(source.path), "");
    std::map<std::size_t, std::vector<std::string>> added;
    std::vector<std::string> stems;
    for (const project_image& image : source.images) stems.emplace_back(image_stem(image.file));
    for (const auto& [name, entry] : listed.entries) {
        if (known.contains(name) || entry.type == folder_entry::kind::folder || is_palette_file(prefix, name)) {
            continue;  // the project's own, or a palette it wrote
        }
        const std::optional<std::size_t> number = frames ? frame_number(prefix, name) : std::nullopt;
        const std::string_view stem = image_stem(name);
        const bool of_an_image = std::find(stems.begin(), stems.end(), stem) != stems.end() ||
                                 (frames && frame_number(prefix, std::string(stem) + ".png"));
        if (number && *number >= source.images.size() && entry.type == folder_entry::kind::file) {
            added[*number].push_back(name);
        } else if (is_editor_name(name) && of_an_image) {
            status.problems.push_back(problem(source, code::unsupported_image, name,
                                              name +
                                                  " is an editor's own file, which torv-project does not read: "
                                                  "export it as " +
                                                  what_to_export(manifest, stem)));
        } else if (is_image_name(name) || is_editor_name(name)) {
            std::string hint = "it is the image of no place in " + last_part(source.path);
            for (const project_image& image : source.images) {
                if (torv::lower_case(image.file) == torv::lower_case(name) ||
                    torv::lower_case(other_kind_of(image.file)) == torv::lower_case(name)) {
                    hint = "name it " + std::string(image_stem(image.file)) +
                           std::string(torv::lower_case(extension_of(name))) + ", in lower case as torv names it";
                }
            }
            status.problems.push_back(
                problem(source, code::unused_image, name,
                        name + ": " + hint + " (its images are " + source.images.front().file +
                            (source.images.size() > 1 ? " to " + source.images.back().file : std::string()) +
                            "): rename it, or move it out of " + source.folder));
        } else {
            status.others.push_back(name);
        }
    }
    std::size_t expected = source.images.size();
    for (const auto& [number, names] : added) {
        if (number != expected) {
            const std::string wanted =
                std::string(image_stem(torv::frame_bmp_name(prefix, static_cast<std::int32_t>(expected))));
            status.problems.push_back(problem(source, code::missing_frame, names.front(),
                                              "frames added after the last must follow it without a gap: " + wanted +
                                                  ".png is missing, though " + names.front() + " is there"));
            break;
        }
        if (names.size() > 1) {
            status.problems.push_back(problem(
                source, code::both_kinds, names.front(),
                "both " + names[0] + " and " + names[1] + " stand for frame " + std::to_string(number) + ": keep one"));
        }
        status.added.push_back(names.front());
        ++expected;
    }
    return status;
}

listed_folder list_folder(const project_folder& folder, const std::string& name) {
    listed_folder listed;
    result<std::vector<folder_entry>> entries = folder.list(name);
    if (!entries) {
        listed.why_not = std::move(entries).error();
        return listed;
    }
    for (folder_entry& entry : *entries) {
        std::string key = entry.name;
        listed.entries.emplace(std::move(key), std::move(entry));
    }
    return listed;
}

}  // namespace

project_status status_of_project(const project_manifest& manifest, const project_folder& folder, unsigned jobs) {
    project_status status;
    for (const project_source& source : manifest.sources) {
        status.sources.push_back(
            status_of_source(manifest, source, list_folder(folder, source.folder), folder, std::max(1u, jobs)));
    }
    return status;
}

bool has_changes(const source_status& status) {
    return !status.changed.empty() || !status.added.empty();
}

std::vector<std::string> files_outside_sources(const project_manifest& manifest,
                                               const std::vector<std::string>& paths) {
    std::set<std::string> folders;
    for (const project_source& source : manifest.sources) folders.insert(source.folder);
    std::vector<std::string> outside;
    for (const std::string& path : paths) {
        const std::size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
        if (path != manifest_name && !folders.contains(folder)) {
            outside.push_back(path);
        }
    }
    return outside;
}

}  // namespace libtorv
