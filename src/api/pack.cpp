// libtorv/pack.h on the packing layer: finds the images torv names after a
// prefix in a folder (a BMP, or a PNG in its place), decides the layout, and
// packs them.
#include "libtorv/pack.h"

#include <algorithm>
#include <optional>

#include "format/layouts.h"
#include "format/names.h"
#include "io/input.h"
#include "libtorv/unpack.h"
#include "pack/pack.h"

namespace libtorv {

namespace {

using torv::failure_of;
using torv::image_file;
using torv::layout;

std::string png_name_of(const std::string& bmp_name) {
    return std::string(image_stem(bmp_name)) + ".png";
}

struct finder {
    const image_folder& folder;
    std::string prefix;

    // The file of the image torv names `bmp_name`: the BMP, or the PNG beside
    // it; nothing if neither is there, a failure if both are.
    result<std::optional<image_file>> find_image(const std::string& bmp_name) const {
        const std::string png_name = png_name_of(bmp_name);
        const bool bmp = folder.has(bmp_name);
        const bool png = folder.has(png_name);
        if (bmp && png) {
            return failure_of(code::both_kinds,
                              "both " + bmp_name + " and " + png_name + " are there: remove the one not to pack",
                              bmp_name);
        }
        auto kept = [&](const std::string& name) { return folder.is_original && folder.is_original(name); };
        if (bmp)
            return std::optional<image_file>(image_file{bmp_name, false, kept(bmp_name)});
        if (png)
            return std::optional<image_file>(image_file{png_name, true, kept(png_name)});
        return std::optional<image_file>();
    }

    // Whether the first image of a layout is there: of the layout's size
    // (fits), or there and not counting, and why.
    struct first_image_probe {
        bool fits = false;
        std::string why_not;
    };

    first_image_probe probe_first_image(const layout& format) const {
        const torv::image_place& first = format.images[0];
        const result<std::optional<image_file>> found = find_image(torv::output_name(prefix, first, 0));
        if (!found) {
            return {false, found.error().words};
        }
        if (!*found) {
            return {};
        }
        const image_file& file = **found;
        const result<torv::picture> read = torv::read_image_file(folder, file, torv::image_bytes(first));
        const std::optional<image_size> size = read ? image_size{read->width, read->height} : read.error().size;
        if (size && size->width == first.width && size->height == first.height) {
            return {true, {}};
        }
        if (size && size->width > 0 && size->height > 0) {
            return {false, file.name + " is " + std::to_string(size->width) + "x" + std::to_string(size->height) +
                               ", the size of no layout's first image"};
        }
        return {false, file.name + ": " + read.error().words};
    }

    // Decides the layout from the original, the one asked for and the
    // images present.
    result<const layout*> choose_layout(const std::string& layout_name, const original_file* original,
                                        const option_words& words) const {
        const layout* by_original = nullptr;
        if (original != nullptr) {
            const std::int64_t original_size =
                original->size >= 0 ? original->size : static_cast<std::int64_t>(original->bytes.size());
            by_original = torv::find_layout(original_size);
            if (by_original == nullptr) {
                failure why =
                    failure_of(code::no_layout,
                               "the original " + original->name + " is " + std::to_string(original_size) +
                                   " bytes, the size of no layout (" + words.no_original + " packs without it)",
                               original->name);
                why.needed = original_size;
                return why;
            }
        }
        const layout* by_option = layout_name.empty() ? nullptr : torv::layout_named(layout_name);
        if (!layout_name.empty() && by_option == nullptr) {
            return failure_of(code::unknown_layout, "no layout is called '" + layout_name + "'");
        }
        if (by_original && by_option && by_original != by_option) {
            return failure_of(code::layout_conflict, words.layout + " says " + std::string(by_option->name) +
                                                         ", but the original " + original->name + " is a " +
                                                         std::string(by_original->name) + " file");
        }
        if (by_original || by_option) {
            return by_original ? by_original : by_option;
        }
        std::vector<const layout*> found;
        std::vector<std::string> reasons;  // why what was there does not count, each once
        for (const layout* format : torv::all_layouts) {
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
        std::string text;
        if (found.empty()) {
            text = "found no images named " + prefix + "... of any layout (torv names them " + prefix + "0.bmp, " +
                   prefix + ".bmp or " + prefix + "000.bmp)";
            for (const std::string& reason : reasons) {
                text += "; " + reason;
            }
        } else {
            text = "the images fit several layouts (";
            for (std::size_t k = 0; k < found.size(); ++k) {
                text += (k > 0 ? ", " : "") + std::string(found[k]->name);
            }
            text += "): say which with " + words.layout;
        }
        return failure_of(code::layout_undecided, std::move(text));
    }

    std::string frame_name(const layout& format, std::int64_t number) const {
        return torv::output_name(prefix, format.images[0], static_cast<std::int32_t>(number));
    }

    // The largest number of a frame image torv would name under the prefix
    // that the folder holds (as BMP or PNG), or -1. Only the largest is
    // kept, so any number of files takes the same memory. Where the folder
    // cannot be listed, every number up to `highest` is tried by name.
    std::int64_t largest_frame_number(const layout& format, std::int64_t highest) const {
        constexpr std::size_t max_digits = 9;
        std::int64_t largest = -1;
        auto consider = [&](const std::string& name) {
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
            const std::string bmp = frame_name(format, number);
            if ((name == bmp || name == png_name_of(bmp)) && number > largest) {
                largest = number;
            }
        };
        if (folder.each_name && folder.each_name(consider)) {
            return largest;
        }
        // A listing that failed is no empty listing: the names are probed.
        largest = -1;
        for (std::int64_t number = 0; number <= highest; ++number) {
            const std::string bmp = frame_name(format, number);
            if (folder.has(bmp) || folder.has(png_name_of(bmp))) {
                largest = number;
            }
        }
        return largest;
    }

    // The frames of a sequence: numbered from 0 without a gap, and no more than
    // the file has records for.
    result<std::vector<image_file>> collect_frames(const layout& format) const {
        const auto max_frames = static_cast<std::size_t>(format.file_size / format.record_alignment);
        std::vector<image_file> files;
        for (std::size_t number = 0;; ++number) {
            const std::string name = frame_name(format, static_cast<std::int64_t>(number));
            result<std::optional<image_file>> file = find_image(name);
            if (!file) {
                return std::move(file).error();
            }
            if (!*file) {
                break;
            }
            if (number == max_frames) {
                const std::int64_t last = std::max(largest_frame_number(format, static_cast<std::int64_t>(number)),
                                                   static_cast<std::int64_t>(number));
                failure why =
                    failure_of(code::too_many_frames,
                               "the " + std::to_string(last + 1) + " frames " + frame_name(format, 0) + " to " +
                                   frame_name(format, last) + " do not fit: a " + std::string(format.name) +
                                   " file holds at most " + std::to_string(max_frames) + " frames");
                why.needed = last + 1;
                why.room = static_cast<std::int64_t>(max_frames);
                return why;
            }
            files.push_back(**file);
        }
        const std::string missing = frame_name(format, static_cast<std::int64_t>(files.size()));
        if (files.empty()) {
            return failure_of(code::missing_image, "missing image " + missing + " (or its .png)", missing);
        }
        const std::int64_t last = largest_frame_number(format, static_cast<std::int64_t>(max_frames));
        if (last >= static_cast<std::int64_t>(files.size())) {
            return failure_of(code::missing_frame,
                              "missing frame " + missing + " (or its .png), though later frames are there, up to " +
                                  frame_name(format, last) + ": every frame from " + frame_name(format, 0) +
                                  " on is needed",
                              missing);
        }
        return files;
    }

    // The image files of the layout, in order.
    result<std::vector<image_file>> collect_images(const layout& format) const {
        if (torv::is_record_walk(format)) {
            return collect_frames(format);
        }
        std::vector<image_file> files;
        for (const torv::image_place& place : format.images) {
            const std::string name = torv::output_name(prefix, place, 0);
            result<std::optional<image_file>> file = find_image(name);
            if (!file) {
                return std::move(file).error();
            }
            if (!*file) {
                return failure_of(code::missing_image, "missing image " + name + " (or its .png)", name);
            }
            files.push_back(**file);
        }
        return files;
    }
};

// " (1)" to " (99)" before the extension: how a browser names a second
// download of a file of the same name.
std::optional<std::string> without_download_number(const std::string& name) {
    const std::string_view stem = image_stem(name);
    if (stem.size() < 4 || stem.back() != ')') {
        return std::nullopt;
    }
    const std::size_t open = stem.rfind(" (");
    if (open == std::string_view::npos || open + 2 >= stem.size() - 1 || stem.size() - 1 - (open + 2) > 2) {
        return std::nullopt;
    }
    const std::string_view digits = stem.substr(open + 2, stem.size() - 1 - (open + 2));
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::string(stem.substr(0, open)) + name.substr(stem.size());
}

bool has_image_extension(const std::string& name) {
    return name.ends_with(".bmp") || name.ends_with(".png");
}

}  // namespace

std::vector<std::string> layout_names() {
    std::vector<std::string> names;
    for (const layout* format : torv::all_layouts) {
        names.emplace_back(format->name);
    }
    return names;
}

std::string prefix_of_images(const std::vector<std::string>& names) {
    for (const std::string ending : {"000", "0", ""}) {
        for (const std::string& name : names) {
            if (!has_image_extension(name)) {
                continue;
            }
            const std::string_view stem = image_stem(name);
            if (stem.size() > ending.size() && stem.ends_with(ending) && (!ending.empty() || names.size() == 1)) {
                return std::string(stem.substr(0, stem.size() - ending.size()));
            }
        }
    }
    return {};
}

result<image_match> match_images(const std::vector<std::string>& expected, const std::vector<std::string>& given) {
    if (given.empty()) {
        return failure_of(code::nothing_to_pack, "no edited images were given: packing would only copy the original");
    }
    auto stands_for = [&](const std::string& name) -> std::optional<std::string> {
        if (!has_image_extension(name)) {
            return std::nullopt;
        }
        for (const std::string& image : expected) {
            if (image_stem(image) == image_stem(name)) {
                return name;
            }
        }
        return std::nullopt;
    };
    image_match matched;
    std::vector<std::string> unused;
    for (const std::string& name : given) {
        if (std::optional<std::string> same = stands_for(name)) {
            matched.files.emplace_back(name, *same);
        } else if (std::optional<std::string> renamed = without_download_number(name);
                   renamed && stands_for(*renamed)) {
            matched.files.emplace_back(name, *renamed);
            matched.notes.push_back(name + " is taken as " + *renamed + " (a browser's name for a second download)");
        } else {
            unused.push_back(name);
        }
    }
    // Two files given for one image: the second is of no use either.
    for (std::size_t k = 0; k < matched.files.size(); ++k) {
        for (std::size_t j = 0; j < k; ++j) {
            if (image_stem(matched.files[j].second) == image_stem(matched.files[k].second)) {
                return failure_of(code::both_kinds,
                                  matched.files[j].first + " and " + matched.files[k].first + " both stand for " +
                                      std::string(image_stem(matched.files[k].second)) + ": give one of them",
                                  matched.files[k].first);
            }
        }
    }
    if (!unused.empty()) {
        std::string words = "no image of the original is named ";
        for (std::size_t k = 0; k < unused.size(); ++k) {
            words += (k > 0 ? ", " : "") + unused[k];
        }
        words += ": its images are ";
        const std::size_t shown = std::min<std::size_t>(expected.size(), 4);
        for (std::size_t k = 0; k < shown; ++k) {
            words += (k > 0 ? ", " : "") + expected[k];
        }
        if (expected.size() > shown) {
            words += " ... " + expected.back() + " (" + std::to_string(expected.size()) + " in all)";
        }
        words += ", as BMP or PNG";
        return failure_of(code::unused_image, std::move(words), unused.front());
    }
    return matched;
}

namespace {

std::int64_t size_of(const original_file& original) {
    return original.size >= 0 ? original.size : static_cast<std::int64_t>(original.bytes.size());
}

// What an outline stands for, checked: a caller may have made it by hand.
struct outlined {
    const layout* format = nullptr;
    std::vector<image_file> files;
};

bool records_hold_together(const layout& format, const std::vector<original_record>& records, std::int64_t size) {
    std::int64_t start = 0;
    for (const original_record& record : records) {
        if (record.start != start || record.end < start + static_cast<std::int64_t>(torv::header_extent(format)) ||
            record.end > record.next || record.next > size ||
            record.next != torv::next_record_start(format, record.end)) {
            return false;
        }
        start = record.next;
    }
    return true;
}

result<outlined> check_outline(const pack_outline& outline, const original_file* original) {
    auto refuse = [](const std::string& why) { return failure_of(code::bad_argument, "the outline " + why); };
    const layout* format = torv::layout_named(outline.layout);
    if (format == nullptr) {
        return refuse("names no layout");
    }
    if (outline.files.empty() || outline.from_original.size() != outline.files.size()) {
        return refuse("names no images, or is not whole");
    }
    if (original != nullptr && torv::find_layout(size_of(*original)) != format) {
        return refuse("is not of the original's layout");
    }
    const bool frames = torv::is_record_walk(*format);
    if (frames ? outline.files.size() > static_cast<std::size_t>(format->file_size / format->record_alignment)
               : outline.files.size() != format->images.size()) {
        return refuse("does not name the images its layout holds");
    }
    const bool records_expected = frames && original != nullptr;
    if ((!records_expected && !outline.records.empty()) ||
        (records_expected && !records_hold_together(*format, outline.records, size_of(*original)))) {
        return refuse("does not hold the original's records");
    }
    outlined checked{format, {}};
    for (std::size_t k = 0; k < outline.files.size(); ++k) {
        const std::string& name = outline.files[k];
        checked.files.push_back(image_file{name, name.ends_with(".png"), outline.from_original[k]});
    }
    return checked;
}

// The original as a stream over its bytes.
torv::input_stream stream_of(const original_file* original) {
    torv::input_stream in;
    if (original != nullptr) {
        torv::attach_memory(in, original->bytes);
    }
    return in;
}

pack_settings with_jobs(const pack_settings& settings) {
    pack_settings used = settings;
    used.jobs = std::max(1u, settings.jobs);
    return used;
}

}  // namespace

result<pack_outline> outline_images(std::string_view prefix, const image_folder& folder, const original_file* original,
                                    const pack_settings& settings) {
    const finder find{folder, std::string(prefix)};
    const result<const layout*> chosen = find.choose_layout(settings.layout, original, settings.words);
    if (!chosen) {
        return chosen.error();
    }
    const layout& format = **chosen;
    const result<std::vector<image_file>> files = find.collect_images(format);
    if (!files) {
        return files.error();
    }
    pack_outline outline;
    outline.layout = format.name;
    // --fit weighs every edited frame's block against the others: they are
    // prepared whole, where they are fitted.
    outline.in_batches = torv::is_record_walk(format) && !settings.fit;
    for (const image_file& file : *files) {
        outline.files.push_back(file.name);
        outline.from_original.push_back(file.as_original);
    }
    if (torv::is_record_walk(format) && original != nullptr) {
        torv::input_stream in = stream_of(original);
        outline.records = torv::walk_records(format, in);
    }
    return outline;
}

result<frame_batch> prepare_frames(const pack_outline& outline, const image_folder& folder,
                                   const original_file* original, const pack_settings& settings, std::size_t first,
                                   std::size_t count) {
    const result<outlined> checked = check_outline(outline, original);
    if (!checked) {
        return checked.error();
    }
    if (!torv::is_record_walk(*checked->format)) {
        return failure_of(code::bad_argument, "only a frame sequence's frames are prepared in batches");
    }
    if (settings.fit) {
        return failure_of(code::bad_argument, "frames to be fitted are prepared whole, not in batches");
    }
    torv::input_stream in = stream_of(original);
    return torv::prepare_frames(*checked->format, checked->files, folder, original != nullptr ? &in : nullptr,
                                &outline.records, with_jobs(settings), first, count);
}

result<pack_result> pack_outlined(const pack_outline& outline, const image_folder& folder,
                                  const original_file* original, const pack_settings& settings,
                                  const byte_writer& write) {
    const result<outlined> checked = check_outline(outline, original);
    if (!checked) {
        return checked.error();
    }
    if (settings.fit && !settings.prepared.empty()) {
        return failure_of(code::bad_argument, "frames to be fitted are prepared whole, not in batches");
    }
    torv::input_stream in = stream_of(original);
    return torv::pack(*checked->format, checked->files, folder, original != nullptr ? &in : nullptr,
                      with_jobs(settings), write, &outline.records);
}

result<pack_result> pack_images(std::string_view prefix, const image_folder& folder, const original_file* original,
                                const pack_settings& settings, const byte_writer& write) {
    const result<pack_outline> outline = outline_images(prefix, folder, original, settings);
    if (!outline) {
        return outline.error();
    }
    return pack_outlined(*outline, folder, original, settings, write);
}

}  // namespace libtorv
