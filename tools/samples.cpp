#include "samples.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>

#include "codec/lzss_encode.h"
#include "format/layouts.h"
#include "format/tiles.h"

namespace torv::samples {

namespace {

constexpr int palette_entries = 256;

void append(bytes& out, const bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

std::uint16_t rgb15(int red, int green, int blue) {
    return static_cast<std::uint16_t>((red & 31) | ((green & 31) << 5) | ((blue & 31) << 10));
}

}  // namespace

bytes make_palette(int variant, int shift) {
    bytes palette;
    palette.reserve(palette_entries * 2);
    for (int k = 0; k < palette_entries; ++k) {
        const int ramp = (k + shift) % 249 / 8;  // 0..31
        const int wave = (k * 3 / 8) % 32;       // a faster ramp for contrast
        std::uint16_t colour = 0;
        switch (variant % 4) {
            case 0: colour = rgb15(ramp, wave, 31 - ramp); break;  // blue to red
            case 1: colour = rgb15(31 - ramp, ramp, wave); break;  // red to green
            case 2: colour = rgb15(wave, 31 - ramp, ramp); break;  // green to blue
            default: colour = rgb15(ramp, ramp, ramp); break;      // grey
        }
        // A few fixed colours at the top for the shapes.
        if (k == 250)
            colour = rgb15(31, 31, 31);
        if (k == 251)
            colour = rgb15(0, 0, 0);
        if (k == 252)
            colour = rgb15(31, 31, 0);
        // Bit 15 means nothing; set it on some entries so readers ignore it.
        if (k % 16 == 15)
            colour = static_cast<std::uint16_t>(colour | 0x8000);
        palette.push_back(static_cast<std::uint8_t>(colour));
        palette.push_back(static_cast<std::uint8_t>(colour >> 8));
    }
    return palette;
}

bytes make_picture(int width, int height, int variant, int phase) {
    bytes picture(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const int disc_x = width / 3 + (phase * 7) % (width / 2);
    const int disc_y = height / 2 + static_cast<int>(std::lround(height / 5.0 * std::sin(phase / 6.0)));
    const int radius = std::min(width, height) / 5 + variant * 3;
    const int border = 4 + variant;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int index = (x + y) * 249 / (width + height);  // diagonal gradient 0..248
            if (variant % 2 == 1 && (y / 16) % 2 == 0) {
                index = 248 - index;  // horizontal bands
            }
            const int dx = x - disc_x;
            const int dy = y - disc_y;
            if (dx * dx + dy * dy <= radius * radius) {
                index = 252;
            }
            if (x < border || y < border || x >= width - border || y >= height - border) {
                index = 250;
            }
            if (x == y % width) {
                index = 251;  // a diagonal line that shows orientation
            }
            picture[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>(index);
        }
    }
    return picture;
}

bytes make_raw_triple() {
    bytes file;
    for (int k = 0; k < 3; ++k) {
        append(file, make_palette(k));
    }
    for (int k = 0; k < 3; ++k) {
        append(file, make_picture(640, 480, k));
    }
    return file;
}

bytes pad_to(bytes data, std::size_t size) {
    if (data.size() > size) {
        throw std::length_error("sample of " + std::to_string(data.size()) + " bytes does not fit in " +
                                std::to_string(size));
    }
    data.resize(size, 0);
    return data;
}

bytes make_three_panel_block() {
    bytes file = make_palette(0);
    append(file, make_palette(1));
    bytes unused(160);
    for (std::size_t k = 0; k < unused.size(); ++k) {
        unused[k] = static_cast<std::uint8_t>(0xA0 + k);  // shows in no output
    }
    append(file, unused);

    bytes images = make_picture(224, 96, 0);
    append(images, make_picture(384, 256, 1));
    append(images, make_picture(320, 256, 2));
    append(file, lzss_encode(images));
    return pad_to(std::move(file), size_of(three_panel_block_layout));
}

bytes make_single_picture_block() {
    bytes block = make_palette(2);
    append(block, make_picture(640, 480, 3));
    return pad_to(lzss_encode(block), size_of(single_picture_block_layout));
}

bytes make_four_image_block() {
    bytes file = make_palette(3);
    bytes images = make_picture(112, 144, 0);
    append(images, make_picture(112, 144, 1, 5));
    append(images, make_picture(320, 224, 2));
    append(images, make_picture(320, 224, 3, 9));
    append(file, lzss_encode(images));
    return pad_to(std::move(file), size_of(four_image_block_layout));
}

bytes to_tiles(const bytes& picture) {
    const image_place& frame = frame_sequence_layout.images[0];
    bytes tiles(picture.size());
    tile(picture, static_cast<std::size_t>(frame.width), static_cast<std::size_t>(frame.height), tiles);
    return tiles;
}

bytes make_frame_record(const bytes& palette, const bytes& tiles, std::size_t units) {
    auto round_up = [](std::size_t n) { return (n + record_unit - 1) / record_unit * record_unit; };
    bytes data = tiles;
    bytes record = palette;
    append(record, lzss_encode(data));
    if (units > 0 && record.size() > units * record_unit) {
        throw std::length_error("frame record needs more than " + std::to_string(units) + " units");
    }
    // Filler of noise costs about 9 stream bytes per 8: grow it until the
    // block ends inside the last unit wanted.
    std::mt19937 random(static_cast<unsigned>(tiles.size() + units));
    const std::size_t low = units > 0 ? (units - 1) * record_unit : 0;
    for (int attempt = 0; units > 0 && record.size() <= low; ++attempt) {
        if (attempt == 50) {
            throw std::runtime_error("cannot stretch a frame record");
        }
        const std::size_t target = low + record_unit / 2;
        const std::size_t grow = std::max<std::size_t>(1, (target - record.size()) * 8 / 9);
        for (std::size_t k = 0; k < grow; ++k) {
            data.push_back(static_cast<std::uint8_t>(random()));
        }
        record = palette;
        append(record, lzss_encode(data));
    }
    record.resize(round_up(record.size()), 0);
    return record;
}

bytes make_frame_sequence(int frames) {
    const std::size_t total_units = frame_sequence_size / record_unit;
    bytes file;
    for (int k = 0; k < frames; ++k) {
        const std::size_t units = (static_cast<std::size_t>(k) + 1) * total_units / static_cast<std::size_t>(frames) -
                                  static_cast<std::size_t>(k) * total_units / static_cast<std::size_t>(frames);
        const bytes palette = make_palette(k / 20, k * 4);
        append(file, make_frame_record(palette, to_tiles(make_picture(320, 224, k / 20, k)), units));
    }
    return pad_to(std::move(file), frame_sequence_size);
}

namespace {

// A flat frame: a plain background with two moving rectangles.
bytes make_flat_frame(int phase) {
    bytes picture(320 * 224, static_cast<std::uint8_t>(phase % 200));
    auto fill = [&](int left, int top, int width, int height, std::uint8_t colour) {
        for (int y = top; y < top + height; ++y) {
            for (int x = left; x < left + width; ++x) {
                picture[static_cast<std::size_t>(y * 320 + x)] = colour;
            }
        }
    };
    fill(phase * 3 % 256, phase * 2 % 160, 64, 64, 250);
    fill(256 - phase * 5 % 256, 100, 48, 32, 251);
    return to_tiles(picture);
}

}  // namespace

bytes make_dense_frame_sequence() {
    bytes file;
    bytes last_palette;
    bytes last_tiles;
    std::size_t last_size = 0;
    for (int k = 0;; ++k) {
        bytes palette = make_palette(k % 4, k);
        bytes tiles = make_flat_frame(k);
        const bytes record = make_frame_record(palette, tiles);
        if (file.size() + record.size() > frame_sequence_size) {
            break;
        }
        append(file, record);
        last_palette = std::move(palette);
        last_tiles = std::move(tiles);
        last_size = record.size();
    }
    // Stretch the last record over what is left, so no zero records follow.
    if (file.size() < frame_sequence_size && last_size > 0) {
        const std::size_t start = file.size() - last_size;
        file.resize(start);
        const std::size_t units = (frame_sequence_size - start) / record_unit;
        append(file, make_frame_record(last_palette, last_tiles, units));
    }
    return pad_to(std::move(file), frame_sequence_size);
}

}  // namespace torv::samples
