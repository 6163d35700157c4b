// libtorv/pack.h on the packing layer: finds the images torv names after a
// prefix in a folder (a BMP, or a PNG in its place), decides the layout, and
// packs them.
#include "libtorv/pack.h"

#include <algorithm>
#include <optional>

#include "format/layouts.h"
#include "format/names.h"
#include "image/bmp_read.h"
#include "image/png_read.h"
#include "io/input.h"
#include "pack/pack.h"

namespace torv {

namespace {

// An image file may hold more than its pixels (headers, a colour table, four
// bytes a pixel, PNG's framing); beyond this much more it is refused unread.
constexpr std::uint64_t file_bytes_per_pixel = 5;
constexpr std::uint64_t file_overhead = 1 << 20;

struct finder {
    const image_folder& folder;
    std::string prefix;

    // The file of one expected image: its BMP name, or the PNG beside it.
    struct image_file {
        std::string path;
        bool png = false;
    };

    // Finds the file of the image torv names `bmp_name`; an error if both kinds
    // are there, nothing if neither.
    std::optional<image_file> find_image(const std::string& bmp_name, std::string& error) const {
        const std::string png_name = bmp_name.substr(0, bmp_name.size() - 4) + ".png";
        const bool bmp = folder.has(bmp_name);
        const bool png = folder.has(png_name);
        if (bmp && png) {
            error = "both " + bmp_name + " and " + png_name + " are there: remove the one not to pack";
            return std::nullopt;
        }
        if (bmp)
            return image_file{bmp_name, false};
        if (png)
            return image_file{png_name, true};
        return std::nullopt;
    }

    picture_read read_image(const image_file& file, std::size_t max_pixels) const {
        picture_read result;
        const image_file_bytes read = folder.read(file.path, max_pixels * file_bytes_per_pixel + file_overhead);
        if (!read.failure.empty()) {
            result.error = read.failure;
            return result;
        }
        return file.png ? read_png(read.bytes, max_pixels) : read_bmp(read.bytes, max_pixels);
    }

    // What the first image of a layout, if it is there, says about the layout.
    struct first_image_probe {
        bool fits = false;    // there, of the layout's size
        std::string why_not;  // there (or something of its name is), but it does not count: why
    };

    first_image_probe probe_first_image(const layout& format) const {
        std::string error;
        const image_place& first = format.images[0];
        const std::optional<image_file> file = find_image(output_name(prefix, first, 0), error);
        if (!error.empty()) {
            return {false, error};
        }
        if (!file) {
            return {};
        }
        const picture_read read = read_image(*file, image_bytes(first));
        if (read.image.width == first.width && read.image.height == first.height) {
            return {true, {}};
        }
        if (read.image.width > 0 && read.image.height > 0) {
            return {false, file->path + " is " + std::to_string(read.image.width) + "x" +
                               std::to_string(read.image.height) + ", the size of no layout's first image"};
        }
        return {false, file->path + ": " + read.error};
    }

    // Decides the layout from the original, --layout and the images present.
    const layout* choose_layout(const std::string& layout_name, const original_file* original,
                                std::string& error) const {
        const layout* by_original = nullptr;
        if (original != nullptr) {
            const auto original_size = static_cast<std::int64_t>(original->bytes.size());
            by_original = find_layout(original_size);
            if (by_original == nullptr) {
                error = "the original " + original->name + " is " + std::to_string(original_size) +
                        " bytes, the size of no layout (--no-like packs without it)";
                return nullptr;
            }
        }
        const layout* by_option = layout_name.empty() ? nullptr : layout_named(layout_name);
        if (!layout_name.empty() && by_option == nullptr) {
            error = "no layout is called '" + layout_name + "'";
            return nullptr;
        }
        if (by_original && by_option && by_original != by_option) {
            error = "--layout says " + std::string(by_option->name) + ", but the original " + original->name +
                    " is a " + std::string(by_original->name) + " file";
            return nullptr;
        }
        if (by_original || by_option) {
            return by_original ? by_original : by_option;
        }
        std::vector<const layout*> found;
        std::vector<std::string> reasons;  // why what was there does not count, each once
        for (const layout* format : all_layouts) {
            const first_image_probe probe = probe_first_image(*format);
            if (probe.fits) {
                found.push_back(format);
            } else if (!probe.why_not.empty() &&
                       std::find(reasons.begin(), reasons.end(), probe.why_not) == reasons.end()) {
                reasons.push_back(probe.why_not);
            }
        }
        if (found.size() == 1) {
            return found[0];
        }
        if (found.empty()) {
            error = "found no images named " + prefix + "... of any layout (torv names them " + prefix + "0.bmp, " +
                    prefix + ".bmp or " + prefix + "000.bmp)";
            for (const std::string& reason : reasons) {
                error += "; " + reason;
            }
        } else {
            error = "the images fit several layouts (";
            for (std::size_t k = 0; k < found.size(); ++k) {
                error += (k > 0 ? ", " : "") + std::string(found[k]->name);
            }
            error += "): say which with --layout";
        }
        return nullptr;
    }

    // The largest number of a frame image torv would name under the prefix that
    // the folder holds (as BMP or PNG), or -1. Only the largest is kept, so any
    // number of files takes the same memory.
    std::int64_t largest_frame_number(const layout& format) const {
        constexpr std::size_t max_digits = 9;
        std::int64_t largest = -1;
        if (!folder.each_name) {
            return largest;
        }
        folder.each_name([&](const std::string& name) {
            if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0) {
                return;
            }
            const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
            if (digits.empty() || digits.size() > max_digits ||
                !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                return;
            }
            const std::int32_t number = std::stoi(digits);
            // Only the names torv writes: "0100" is not frame 100.
            const std::string bmp = output_name(prefix, format.images[0], number);
            const std::string png = bmp.substr(0, bmp.size() - 4) + ".png";
            if ((name == bmp || name == png) && number > largest) {
                largest = number;
            }
        });
        return largest;
    }

    // The frames of a sequence: numbered from 0 without a gap, and no more than
    // the file has records for.
    std::optional<std::vector<image_file>> collect_frames(const layout& format, std::string& error) const {
        const auto max_frames = static_cast<std::size_t>(format.file_size / format.record_alignment);
        auto frame_name = [&](std::int64_t number) {
            return output_name(prefix, format.images[0], static_cast<std::int32_t>(number));
        };
        std::vector<image_file> files;
        for (std::size_t number = 0;; ++number) {
            const std::string name = frame_name(static_cast<std::int64_t>(number));
            const std::optional<image_file> file = find_image(name, error);
            if (!error.empty())
                return std::nullopt;
            if (!file) {
                break;
            }
            if (number == max_frames) {
                const std::int64_t last = std::max(largest_frame_number(format), static_cast<std::int64_t>(number));
                error = "the " + std::to_string(last + 1) + " frames " + frame_name(0) + " to " + frame_name(last) +
                        " do not fit: a " + std::string(format.name) + " file holds at most " +
                        std::to_string(max_frames) + " frames";
                return std::nullopt;
            }
            files.push_back(*file);
        }
        const std::string missing = frame_name(static_cast<std::int64_t>(files.size()));
        if (files.empty()) {
            error = "missing image " + missing + " (or its .png)";
            return std::nullopt;
        }
        const std::int64_t last = largest_frame_number(format);
        if (last >= static_cast<std::int64_t>(files.size())) {
            error = "missing frame " + missing + " (or its .png), though later frames are there, up to " +
                    frame_name(last) + ": every frame from " + frame_name(0) + " on is needed";
            return std::nullopt;
        }
        return files;
    }

    // The image files of the layout, in order.
    std::optional<std::vector<image_file>> collect_images(const layout& format, std::string& error) const {
        if (is_record_walk(format)) {
            return collect_frames(format, error);
        }
        std::vector<image_file> files;
        for (const image_place& place : format.images) {
            const std::string name = output_name(prefix, place, 0);
            const std::optional<image_file> file = find_image(name, error);
            if (!error.empty())
                return std::nullopt;
            if (!file) {
                error = "missing image " + name + " (or its .png)";
                return std::nullopt;
            }
            files.push_back(*file);
        }
        return files;
    }
};

}  // namespace

std::string image_file_too_large(std::uint64_t size) {
    return "is " + std::to_string(size) + " bytes, far more than an image of its size needs";
}

std::vector<std::string> layout_names() {
    std::vector<std::string> names;
    for (const layout* format : all_layouts) {
        names.emplace_back(format->name);
    }
    return names;
}

pack_result pack_images(std::string_view prefix, const image_folder& folder, const original_file* original,
                        const pack_settings& settings, const byte_writer& write) {
    pack_result result;
    const finder find{folder, std::string(prefix)};
    const layout* format = find.choose_layout(settings.layout, original, result.failure);
    if (format == nullptr) {
        return result;
    }
    result.layout = format->name;
    const std::optional<std::vector<finder::image_file>> files = find.collect_images(*format, result.failure);
    if (!files) {
        return result;
    }
    image_source images;
    images.count = files->size();
    images.name = [&](std::size_t k) { return (*files)[k].path; };
    images.load = [&](std::size_t k, std::size_t max_pixels) { return find.read_image((*files)[k], max_pixels); };
    input_stream original_bytes;
    if (original != nullptr) {
        attach_memory(original_bytes, original->bytes);
    }
    pack_options options;
    options.nearest = settings.nearest;
    options.jobs = std::max(1u, settings.jobs);
    pack_outcome outcome = pack(*format, images, original != nullptr ? &original_bytes : nullptr, options, write);
    result.failure = std::move(outcome.error);
    result.report = std::move(outcome.report);
    result.notes = std::move(outcome.notes);
    return result;
}

}  // namespace torv
