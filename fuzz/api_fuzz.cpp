// The public headers given what a careless or hostile caller builds: image
// views whose sizes disagree with their indices, record points anywhere,
// names of any bytes, batches of prepared frames of any bytes (or a real
// one, changed). A call gives a value or a failure; it never reads or
// writes outside what it was given (the sanitizers watch), and never gives a
// file of the wrong size.
//
// Input: 4 bytes of width, 4 of height, 8 of record offset, 4 of record
// number (all little-endian, signed), one byte that picks a sample file;
// the rest is the view's indices, and also names, one a line.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "libtorv/pack.h"
#include "libtorv/unpack.h"
#include "samples.h"

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "api_fuzz: %s\n", what);
    std::abort();
}

template <class T>
T take(const std::uint8_t*& data, std::size_t& size) {
    T value{};
    if (size >= sizeof value) {
        std::memcpy(&value, data, sizeof value);
        data += sizeof value;
        size -= sizeof value;
    }
    return value;
}

// Source files of three layouts, made once before the runs: a frame
// sequence of nothing but zero records (as cheap as a walk can be).
std::vector<std::uint8_t> samples_made[3];

// Two frames to pack, the outline of their packing and a batch of them.
std::map<std::string, libtorv::bytes> two_frames;
libtorv::image_folder frames_folder;
libtorv::pack_settings frames_settings;
libtorv::pack_outline frames_outline;
libtorv::bytes frames_batch;

const std::vector<std::uint8_t>& sample(std::uint8_t pick) {
    return samples_made[pick % std::size(samples_made)];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    samples_made[0] = torv::samples::make_four_image_block();
    samples_made[1] = torv::samples::make_three_panel_block();
    samples_made[2].assign(torv::samples::frame_sequence_size, 0);

    (void)libtorv::unpack_bytes(torv::samples::make_frame_sequence(2), "f", [](const libtorv::image_view& image) {
        two_frames[std::string(image.name)] = *libtorv::bmp_bytes(image);
        return true;
    });
    frames_folder.has = [](const std::string& name) { return two_frames.contains(name); };
    frames_folder.read = [](const std::string& name, std::uint64_t) -> libtorv::result<libtorv::bytes> {
        return two_frames.at(name);
    };
    frames_settings.layout = "frame_sequence";
    frames_outline = *libtorv::outline_images("f", frames_folder, nullptr, frames_settings);
    frames_batch = libtorv::prepare_frames(frames_outline, frames_folder, nullptr, frames_settings, 0, 2)->data;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto width = take<std::int32_t>(data, size);
    const auto height = take<std::int32_t>(data, size);
    const libtorv::record_point point{take<std::int64_t>(data, size), take<std::int32_t>(data, size)};
    const auto pick = take<std::uint8_t>(data, size);
    const std::span<const std::uint8_t> rest(data, size);

    // A view as a caller may build it.
    static const std::array<std::uint16_t, 256> palette = [] {
        std::array<std::uint16_t, 256> entries{};
        for (std::size_t k = 0; k < entries.size(); ++k) entries[k] = static_cast<std::uint16_t>(k * 97);
        return entries;
    }();
    const libtorv::image_view view{"x.bmp", width, height, rest, palette, point};
    const libtorv::result<libtorv::bytes> bmp = libtorv::bmp_bytes(view);
    if (bmp) {
        const std::size_t stride = (static_cast<std::size_t>(width) + 3) / 4 * 4;
        if (bmp->size() != 1078 + stride * static_cast<std::size_t>(height)) {
            finding("a BMP of another size than its view's");
        }
    } else if (bmp.error().code != libtorv::code::bad_argument) {
        finding("a BMP refused for another reason than its view");
    }
    const libtorv::result<libtorv::bytes> png = libtorv::png_bytes(view);
    if (png && bmp.ok() != png.ok()) {
        finding("a PNG made of a view the BMP writer refused");
    }

    // Unpacking from a point of the caller's: images, or a refusal.
    int images = 0;
    const libtorv::result<libtorv::unpack_result> unpacked = libtorv::unpack_bytes(
        sample(pick), "s",
        [&](const libtorv::image_view& image) {
            if (image.indices.size() !=
                static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
                finding("an image whose indices disagree with its size");
            }
            if (image.record.number < point.number) {
                finding("a record numbered before the point it started from");
            }
            return ++images < 3;
        },
        point);
    if (!unpacked && unpacked.error().code != libtorv::code::bad_argument) {
        finding("unpacking refused for another reason than its point");
    }

    // Names of any bytes.
    std::vector<std::string> names;
    std::string line;
    for (const std::uint8_t byte : rest) {
        if (byte == '\n') {
            names.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(byte);
        }
    }
    names.push_back(line);
    const std::string prefix = libtorv::prefix_of_images(names);
    const std::vector<std::string> expected = {"four0.bmp", "four1.bmp", "four2.bmp", "four3.bmp"};
    const libtorv::result<libtorv::image_match> matched = libtorv::match_images(expected, names);
    if (matched && matched->files.size() != names.size()) {
        finding("a match that lost a file");
    }
    (void)libtorv::image_stem(line);
    (void)libtorv::image_prefix(line, prefix);

    // A batch of prepared frames: the bytes as they come, or the real one
    // with some of them in it.
    libtorv::bytes batch(rest.begin(), rest.end());
    if (pick % 2 == 1 && !frames_batch.empty()) {
        batch = frames_batch;
        const std::size_t at = static_cast<std::size_t>(point.offset) % batch.size();
        std::copy_n(rest.begin(), std::min(rest.size(), batch.size() - at),
                    batch.begin() + static_cast<std::ptrdiff_t>(at));
        batch.resize(batch.size() - static_cast<std::size_t>(point.number & 3));
    }
    libtorv::pack_settings settings = frames_settings;
    settings.prepared = {batch};
    std::size_t written = 0;
    const libtorv::result<libtorv::pack_result> packed =
        libtorv::pack_outlined(frames_outline, frames_folder, nullptr, settings,
                               [&](std::span<const std::uint8_t> part) { written += part.size(); });
    if (packed && written != torv::samples::frame_sequence_size) {
        finding("a packing with a batch given wrote a file of the wrong size");
    }
    return 0;
}
