#include "format/layouts.h"

#include <algorithm>

#include "format/names.h"

namespace torv {

const layout* find_layout(std::int64_t size) {
    for (const layout* format : all_layouts) {
        if (format->file_size == size) {
            return format;
        }
    }
    return nullptr;
}

const layout* layout_named(std::string_view name) {
    for (const layout* format : all_layouts) {
        if (format->name == name) {
            return format;
        }
    }
    return nullptr;
}

std::size_t block_extent(const layout& format) {
    std::size_t extent = 0;
    for (const palette_place& palette : format.palettes) {
        if (palette.from == source::block) {
            extent = std::max(extent, palette.offset + palette_bytes);
        }
    }
    for (const image_place& image : format.images) {
        if (image.from == source::block) {
            extent = std::max(extent, image.offset + image_bytes(image));
        }
    }
    return extent;
}

std::size_t header_extent(const layout& format) {
    return format.block_offset ? *format.block_offset : static_cast<std::size_t>(format.file_size);
}

std::int64_t next_record_start(const layout& format, std::int64_t end) {
    const std::int64_t unit = format.record_alignment;
    return unit == 0 ? end : (end + unit - 1) / unit * unit;
}

std::size_t largest_image_bytes() {
    std::size_t largest = 0;
    for (const layout* format : all_layouts) {
        for (const image_place& image : format->images) {
            largest = std::max(largest, image_bytes(image));
        }
    }
    return largest;
}

std::string output_name(std::string_view prefix, const image_place& image, std::int32_t record) {
    switch (image.naming) {
        case name_part::none: return bmp_name(prefix, no_suffix);
        case name_part::digit: return bmp_name(prefix, digit_suffix(image.digit));
        case name_part::record_number: break;
    }
    return frame_bmp_name(prefix, record);
}

}  // namespace torv
