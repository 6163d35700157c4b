#include "pack/pack_parts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "codec/lzss_encode.h"
#include "format/tiles.h"
#include "image/bmp_read.h"
#include "image/png_read.h"
#include "image/quality.h"
#include "image/read_image.h"
#include "io/words.h"
#include "libtorv/limits.h"
#include "pack/evenness.h"
#include "pack/fit_colours.h"
#include "pack/fit_room.h"
#include "pack/game_colours.h"

namespace torv::pack_parts {

namespace {

constexpr std::uint16_t flag_bit = 0x8000;  // bit 15 of a palette entry: kept, never shown

std::string size_text(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

result<picture> load_image(const image_folder& folder, const image_file& file, const image_place& place) {
    result<picture> read = read_image_file(folder, file, image_bytes(place));
    const std::optional<libtorv::image_size> size =
        read ? libtorv::image_size{read->width, read->height} : read.error().size;
    if (size && size->width > 0 && size->height > 0 && (size->width != place.width || size->height != place.height)) {
        failure why = failure_of(code::wrong_size,
                                 file.name + ": the image is " + size_text(size->width, size->height) +
                                     ", it must be " + size_text(place.width, place.height),
                                 file.name);
        why.size = size;
        return why;
    }
    if (!read) {
        failure why = std::move(read).error();
        why.words = file.name + ": " + why.words;
        why.file = file.name;
        return why;
    }
    take_five_bit_save(*read);
    return read;
}

picture picture_of_original(const image_place& place, std::span<const std::uint8_t> rows,
                            const rgb15_palette& palette) {
    picture image;
    image.width = place.width;
    image.height = place.height;
    image.indexed = true;
    image.indices.assign(rows.begin(), rows.end());
    for (const std::uint16_t entry : palette) image.table.push_back(rgb8_of(entry));
    return image;
}

// The palette as stored: the fitted colours, with bit 15 of each entry as the
// original had it.
rgb15_palette with_flags(const rgb15_palette& colours, const rgb15_palette* original) {
    rgb15_palette stored = colours;
    if (original != nullptr) {
        for (std::size_t k = 0; k < palette_entries; ++k) {
            stored[k] = static_cast<std::uint16_t>(colours[k] | ((*original)[k] & flag_bit));
        }
    }
    return stored;
}

// True if the block reads as `content`: its first content.size() bytes, 0
// where it is short.
bool reads_as(std::span<const std::uint8_t> block, std::span<const std::uint8_t> content) {
    const std::size_t held = std::min(block.size(), content.size());
    return std::equal(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(held), block.begin()) &&
           std::all_of(content.begin() + static_cast<std::ptrdiff_t>(held), content.end(),
                       [](std::uint8_t b) { return b == 0; });
}

std::string room_text(std::size_t used, std::size_t room) {
    return std::to_string(used) + " of " + std::to_string(room) + " bytes (" +
           (used <= room ? std::to_string(room - used) + " free)" : std::to_string(used - room) + " over)");
}

// Names of consecutive numbers as ranges: "000-003, 007".
std::string frame_ranges(const std::vector<std::size_t>& frames) {
    std::string text;
    auto number = [](std::size_t n) {
        char digits[24];
        std::snprintf(digits, sizeof digits, "%03zu", n);
        return std::string(digits);
    };
    for (std::size_t k = 0; k < frames.size();) {
        std::size_t last = k;
        while (last + 1 < frames.size() && frames[last + 1] == frames[last] + 1) ++last;
        text += text.empty() ? "" : ", ";
        text += number(frames[k]);
        if (last > k) {
            text += '-';
            text += number(frames[last]);
        }
        k = last + 1;
    }
    return text;
}

// Fits the pictures of one record to its palettes; `old` is the original's
// record (or nullptr) and `old_rows` its images' indices.
result<fitted_record> fit_record(const layout& format, const std::vector<picture>& pictures,
                                 const std::vector<std::string>& names, const record_data* old,
                                 const std::vector<bytes>& old_rows, const pack_settings& settings) {
    fitted_record fitted;
    fitted.rows.resize(pictures.size());
    fitted.changed_by_fit.assign(pictures.size(), false);
    for (std::size_t p = 0; p < format.palettes.size(); ++p) {
        std::vector<palette_user> users;
        std::vector<std::size_t> which;
        for (std::size_t k = 0; k < format.images.size(); ++k) {
            if (format.images[k].palette == p) {
                users.push_back({names[k], &pictures[k],
                                 old ? std::span<const std::uint8_t>(old_rows[k]) : std::span<const std::uint8_t>()});
                which.push_back(k);
            }
        }
        const rgb15_palette* old_palette = old ? &old->palettes[p] : nullptr;
        result<fitted_palette> fit = fit_palette(users, old_palette, settings.nearest, settings.words);
        const bool colours_failed =
            !fit && (fit.error().code == code::colour_lacking || fit.error().code == code::ambiguous_colour ||
                     fit.error().code == code::palette_full);
        if (settings.fit && colours_failed) {
            // Colours chosen for the images that bring their own.
            fit = fit_colours(users, old_palette);
            for (std::size_t u = 0; u < which.size(); ++u) {
                fitted.changed_by_fit[which[u]] = !(old_palette && shows_original(users[u], *old_palette));
            }
        }
        if (!fit) {
            return std::move(fit).error();
        }
        fitted.notes.insert(fitted.notes.end(), fit->notes.begin(), fit->notes.end());
        fitted.palettes[p] = with_flags(fit->palette, old_palette);
        for (std::size_t u = 0; u < which.size(); ++u) {
            fitted.rows[which[u]] = std::move(fit->indices[u]);
        }
    }
    return fitted;
}

// The block byte of each pixel of an image that lies in the block,
// row-major.
std::vector<std::size_t> block_bytes_of(const image_place& place) {
    const auto width = static_cast<std::size_t>(place.width);
    const auto height = static_cast<std::size_t>(place.height);
    std::vector<std::size_t> at(width * height);
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            std::size_t inside = y * width + x;
            if (place.order == pixel_order::tiles) {
                const std::size_t tile = (y / tile_height) * (width / tile_width) + x / tile_width;
                inside = tile * tile_width * tile_height + (y % tile_height) * tile_width + x % tile_width;
            }
            at[y * width + x] = place.offset + inside;
        }
    }
    return at;
}

std::array<colour_point, 256> points_of(const rgb15_palette& palette) {
    std::array<colour_point, 256> points{};
    for (std::size_t k = 0; k < palette_entries; ++k) points[k] = point_of_rgb15(palette[k]);
    return points;
}

namespace {

std::string decibels(double psnr) {
    if (!std::isfinite(psnr))
        return "exact";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dB PSNR", psnr);
    return text;
}

}  // namespace

namespace {

// The PSNR each image of the block shows with `content`, against `given`.
std::vector<double> qualities_of(const alterable_block& block, const std::vector<std::uint8_t>& content,
                                 const std::vector<std::vector<rgb8>>& given, std::span<const rgb15_palette> palettes) {
    std::vector<double> psnr;
    for (std::size_t i = 0; i < block.images.size(); ++i) {
        const alterable_image& image = block.images[i];
        std::vector<rgb8> shown(image.bytes.size());
        for (std::size_t p = 0; p < shown.size(); ++p)
            shown[p] = rgb8_of(palettes[image.palette][content[image.bytes[p]]]);
        psnr.push_back(evenness::seen(psnr_of(given[i], shown)));
    }
    return psnr;
}

}  // namespace

result<fitted_block> fit_evenly(alterable_block& block, std::size_t room, unsigned jobs,
                                const std::vector<std::vector<rgb8>>& given, std::span<const rgb15_palette> palettes) {
    result<fitted_block> best = fit_into_room(block, room, jobs);
    if (!best || block.images.size() < 2) {
        return best;
    }
    std::vector<double> psnr = qualities_of(block, best->content, given, palettes);
    double best_spread = evenness::spread_of(psnr);
    for (int round = 0; round < evenness::rounds && best_spread > evenness::even_enough_db; ++round) {
        const std::vector<double> factors = evenness::reweighing(psnr);
        for (std::size_t i = 0; i < psnr.size(); ++i) block.images[i].weight *= static_cast<float>(factors[i]);
        result<fitted_block> tried = fit_into_room(block, room, jobs);
        if (!tried) {
            break;
        }
        psnr = qualities_of(block, tried->content, given, palettes);
        if (evenness::spread_of(psnr) < best_spread) {
            best_spread = evenness::spread_of(psnr);
            best = std::move(tried);
        }
    }
    return best;
}

result<bytes> fit_block(const layout& format, const std::vector<picture>& pictures, const std::vector<bytes>& old_rows,
                        bool with_original, std::size_t room, unsigned jobs, fitted_record& fitted) {
    alterable_block block;
    block.data = lay_out_block(format, fitted.palettes, fitted.rows);
    for (std::size_t p = 0; p < format.palettes.size(); ++p) block.palettes.push_back(points_of(fitted.palettes[p]));
    std::vector<std::size_t> which;
    for (std::size_t k = 0; k < format.images.size(); ++k) {
        const image_place& place = format.images[k];
        if (place.from != source::block || (with_original && fitted.rows[k] == old_rows[k])) {
            continue;  // the original's image stays as it was
        }
        alterable_image image;
        image.palette = place.palette;
        image.bytes = block_bytes_of(place);
        image.width = place.width;
        image.tiled = place.order == pixel_order::tiles;
        for (const rgb8 pixel : game_pixels(pictures[k])) image.wanted.push_back(point_of(pixel));
        block.images.push_back(std::move(image));
        which.push_back(k);
    }
    std::vector<std::vector<rgb8>> given;
    for (const std::size_t k : which) given.push_back(game_pixels(pictures[k]));
    result<fitted_block> fit = fit_evenly(block, room, jobs, given, fitted.palettes);
    if (!fit) {
        return std::move(fit).error();
    }
    for (std::size_t i = 0; i < which.size(); ++i) {
        bytes& rows = fitted.rows[which[i]];
        const std::vector<std::size_t>& at = block.images[i].bytes;
        bool changed = false;
        for (std::size_t p = 0; p < at.size(); ++p) {
            changed = changed || rows[p] != fit->content[at[p]];
            rows[p] = fit->content[at[p]];
        }
        if (changed)
            fitted.changed_by_fit[which[i]] = true;
    }
    return std::move(fit->block);
}

image_fit fit_of(const std::string& name, const picture& given, std::span<const std::uint8_t> rows,
                 const rgb15_palette& palette) {
    const std::vector<rgb8> shown = shown_colours(rows, palette);
    const picture_quality quality = quality_of(game_pixels(given), shown, given.width, given.height);
    std::array<bool, 1 << 15> seen{};
    std::size_t colours = 0;
    for (const std::uint8_t index : rows) {
        const std::uint16_t colour = palette[index] & 0x7FFF;
        colours += seen[colour] ? 0 : 1;
        seen[colour] = true;
    }
    return {name, quality.psnr, quality.oklab_mean, colours};
}

std::vector<image_fit> fits_of(const layout& format, const std::vector<picture>& pictures,
                               const std::vector<std::string>& names, const fitted_record& fitted) {
    std::vector<image_fit> fits;
    for (std::size_t k = 0; k < format.images.size(); ++k) {
        if (fitted.changed_by_fit[k])
            fits.push_back(fit_of(names[k], pictures[k], fitted.rows[k], fitted.palettes[format.images[k].palette]));
    }
    return fits;
}

std::string fit_words(const image_fit& fit) {
    char difference[32];
    std::snprintf(difference, sizeof difference, "%.4f", fit.oklab_difference);
    return decibels(fit.psnr) + ", OKLab difference " + difference + " against the image given, " +
           counted(fit.colours, "colour", "colours");
}

std::string fit_line(const image_fit& fit) {
    return fit.image + ": fitted: " + fit_words(fit);
}

}  // namespace torv::pack_parts

namespace torv {

result<picture> read_image_file(const image_folder& folder, const image_file& file, std::size_t max_pixels) {
    // An image file may hold more than its pixels; far more, it is refused unread.
    result<libtorv::bytes> read =
        folder.read(file.name, libtorv::largest_image_file(static_cast<std::int64_t>(max_pixels), 1));
    if (!read) {
        // The folder says what it could not do; the words are the same
        // whoever the folder is.
        failure why = std::move(read).error();
        why.words = why.code == code::file_too_large
                        ? "is " + std::to_string(why.needed) + " bytes, far more than an image of its size needs"
                        : "cannot be read";
        return why;
    }
    return read_image(*read, max_pixels, file.png);
}

}  // namespace torv
