// Packing through the public header, with a folder of the caller's: a folder
// that cannot be listed is probed name by name, so a gap in the frames is
// still found; the names front ends are given map onto the images they
// stand for, or are refused by name; frames prepared in batches elsewhere
// pack as one packing does, and batches or outlines of another packing are
// refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "libtorv/pack.h"
#include "libtorv/unpack.h"
#include "pack/prepared_frames.h"
#include "samples.h"

namespace libtorv {
namespace {

// Image files in memory, by name.
struct memory_folder {
    std::map<std::string, bytes> files;
    bool listable = true;

    image_folder folder() const {
        image_folder made;
        made.has = [this](const std::string& name) { return files.contains(name); };
        made.read = [this](const std::string& name, std::uint64_t) -> result<bytes> { return files.at(name); };
        made.each_name = [this](const std::function<void(const std::string&)>& visit) -> result<> {
            if (!listable) {
                failure why;
                why.code = code::cannot_list;
                why.words = "cannot list .: Permission denied";
                return why;
            }
            for (const auto& [name, contents] : files) visit(name);
            return {};
        };
        return made;
    }
};

TEST(PackApi, AGapInTheFramesIsFoundWhenTheFolderCannotBeListed) {
    const bytes original = torv::samples::make_frame_sequence(12);
    memory_folder frames;
    ASSERT_TRUE(unpack_bytes(original, "intro", [&](const image_view& image) {
        frames.files[std::string(image.name)] = *bmp_bytes(image);
        return true;
    }));
    frames.files.erase("intro005.bmp");
    const original_file like{"intro.bin", original};
    for (const bool listable : {true, false}) {
        SCOPED_TRACE(listable);
        frames.listable = listable;
        bytes packed;
        const result<pack_result> refused = pack_images(
            "intro", frames.folder(), &like, {},
            [&](std::span<const std::uint8_t> part) { packed.insert(packed.end(), part.begin(), part.end()); });
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().code, code::missing_frame);
        EXPECT_NE(refused.error().words.find("up to intro011.bmp"), std::string::npos) << refused.error().words;
    }
}

TEST(PackApi, NamesAFrontEndIsGivenMapOntoImagesOrAreRefused) {
    const std::vector<std::string> four = {"four0.bmp", "four1.bmp", "four2.bmp", "four3.bmp"};
    const result<image_match> matched = match_images(four, {"four2.png", "four1 (1).bmp", "four3 (12).png"});
    ASSERT_TRUE(matched) << matched.error().words;
    EXPECT_EQ(matched->files,
              (std::vector<std::pair<std::string, std::string>>{
                  {"four2.png", "four2.png"}, {"four1 (1).bmp", "four1.bmp"}, {"four3 (12).png", "four3.png"}}));
    EXPECT_EQ(matched->notes.size(), 2u);

    // Names of no image: another case, another folder, another file's, a zip.
    const result<image_match> unused =
        match_images(four, {"four1.bmp", "Four1.bmp", "dir/four2.bmp", "four-bmp.zip", "four1 (x).bmp"});
    ASSERT_FALSE(unused);
    EXPECT_EQ(unused.error().code, code::unused_image);
    EXPECT_EQ(unused.error().words,
              "no image of the original is named Four1.bmp, dir/four2.bmp, four-bmp.zip, "
              "four1 (x).bmp: its images are four0.bmp, four1.bmp, four2.bmp, four3.bmp, as "
              "BMP or PNG");
    EXPECT_EQ(match_images(four, {}).error().code, code::nothing_to_pack);
    EXPECT_EQ(match_images(four, {"four1.bmp", "four1 (1).png"}).error().code, code::both_kinds);

    EXPECT_EQ(prefix_of_images({"x001.bmp", "x000.bmp"}), "x");
    EXPECT_EQ(prefix_of_images({"pic0.png", "pic1.png"}), "pic");
    EXPECT_EQ(prefix_of_images({"pic.bmp"}), "pic");
    EXPECT_EQ(prefix_of_images({"notes.txt"}), "");
    EXPECT_EQ(image_stem("e:pic0.bmp"), "e:pic0");
    EXPECT_EQ(image_stem("dir.v2/pic"), "dir.v2/pic");
    EXPECT_EQ(image_stem("pic.jpeg"), "pic");
}

// The frames of `original` as torv writes them, named intro000.bmp, ...
memory_folder frames_of(const bytes& original) {
    memory_folder frames;
    EXPECT_TRUE(unpack_bytes(original, "intro", [&](const image_view& image) {
        frames.files[std::string(image.name)] = *bmp_bytes(image);
        return true;
    }));
    return frames;
}

// A BMP's pixels changed: every pixel of rows `from` to `to` (counted from
// the bottom, as stored) takes index (x * 7 + y * 13) % 256.
void paint(bytes& bmp, std::size_t from, std::size_t to, std::size_t width = 320) {
    constexpr std::size_t pixels_at = 1078;
    for (std::size_t y = from; y < to; ++y) {
        for (std::size_t x = 0; x < width; ++x)
            bmp[pixels_at + y * width + x] = static_cast<std::uint8_t>(x * 7 + y * 13);
    }
}

struct packed_file {
    result<pack_result> done;
    bytes bytes_written;
};

packed_file packed_with(const std::function<result<pack_result>(const byte_writer&)>& pack) {
    bytes written;
    result<pack_result> done =
        pack([&](std::span<const std::uint8_t> part) { written.insert(written.end(), part.begin(), part.end()); });
    return {std::move(done), std::move(written)};
}

TEST(PackApi, FramesPreparedInBatchesPackAsOnePackingDoes) {
    const bytes original = torv::samples::make_frame_sequence(30);
    const original_file like{"intro.bin", original};
    struct packing {
        const char* what;
        bool with_original;
        std::function<void(memory_folder&)> edit;
    };
    const std::vector<packing> packings = {
        {"no original, every frame given", false, [](memory_folder&) {}},
        {"three frames edited, one of them grown past its record", true,
         [](memory_folder& frames) {
             paint(frames.files["intro003.bmp"], 0, 4);
             paint(frames.files["intro011.bmp"], 0, 224);
             paint(frames.files["intro029.bmp"], 100, 101);
         }},
        {"a frame cut short", true, [](memory_folder& frames) { frames.files["intro017.bmp"].resize(5000); }},
        {"frames added after the original's", true,
         [](memory_folder& frames) {
             for (int k = 30; k < 34; ++k)
                 frames.files["intro0" + std::to_string(k) + ".bmp"] = frames.files["intro001.bmp"];
         }},
    };
    for (const packing& p : packings) {
        SCOPED_TRACE(p.what);
        memory_folder frames = frames_of(original);
        p.edit(frames);
        const original_file* from = p.with_original ? &like : nullptr;
        pack_settings settings;
        settings.layout = p.with_original ? "" : "frame_sequence";
        const packed_file alone = packed_with(
            [&](const byte_writer& write) { return pack_images("intro", frames.folder(), from, settings, write); });

        // Batches of seven frames, prepared last first; one is never given,
        // and its frames are prepared by the packing itself.
        const result<pack_outline> outline = outline_images("intro", frames.folder(), from, settings);
        ASSERT_TRUE(outline) << outline.error().words;
        ASSERT_TRUE(outline->in_batches);
        std::vector<bytes> batches;
        for (std::size_t first = outline->files.size() / 7 * 7;; first -= 7) {
            if (first != 14) {
                batches.push_back(prepare_frames(*outline, frames.folder(), from, settings, first, 7)->data);
            }
            if (first == 0)
                break;
        }
        pack_settings with_batches = settings;
        with_batches.prepared.assign(batches.begin(), batches.end());
        const packed_file in_steps = packed_with([&](const byte_writer& write) {
            return pack_outlined(*outline, frames.folder(), from, with_batches, write);
        });

        ASSERT_EQ(alone.done.ok(), in_steps.done.ok());
        if (alone.done) {
            EXPECT_EQ(alone.done->report, in_steps.done->report);
            EXPECT_EQ(alone.done->notes, in_steps.done->notes);
            EXPECT_EQ(alone.bytes_written, in_steps.bytes_written);
            EXPECT_EQ(alone.bytes_written.size(), torv::samples::frame_sequence_size);
        } else {
            EXPECT_EQ(alone.done.error().code, in_steps.done.error().code);
            EXPECT_EQ(alone.done.error().words, in_steps.done.error().words);
            EXPECT_EQ(alone.done.error().file, in_steps.done.error().file);
        }
    }
}

TEST(PackApi, BatchesAreTakenAsTheyAreAndThoseOfAnotherPackingRefused) {
    const bytes original = torv::samples::make_frame_sequence(12);
    const original_file like{"intro.bin", original};
    const memory_folder frames = frames_of(original);
    const result<pack_outline> outline = outline_images("intro", frames.folder(), &like, {});
    ASSERT_TRUE(outline);
    const bytes batch = prepare_frames(*outline, frames.folder(), &like, {}, 0, 4)->data;

    auto refusal = [&](const pack_outline& given_outline, std::vector<bytes> batches) {
        pack_settings settings;
        settings.prepared.assign(batches.begin(), batches.end());
        const packed_file done = packed_with([&](const byte_writer& write) {
            return pack_outlined(given_outline, frames.folder(), &like, settings, write);
        });
        EXPECT_TRUE(done.bytes_written.empty());
        return done.done ? std::string("packed") : done.done.error().words;
    };
    bytes damaged = batch;
    damaged[0] = 'x';
    EXPECT_EQ(refusal(*outline, {damaged}), "the prepared frames given are no batch of frames this packing reads");
    for (const std::size_t cut : {std::size_t{9}, batch.size() / 2, batch.size() - 1}) {
        EXPECT_EQ(refusal(*outline, {bytes(batch.begin(), batch.begin() + static_cast<std::ptrdiff_t>(cut))}),
                  "the prepared frames given are damaged");
    }
    EXPECT_EQ(refusal(*outline, {batch, batch}),
              "frame 0 of the prepared frames given is not one of this packing: it is not there, or given twice");
    bytes longer = batch;
    longer.push_back(0);
    EXPECT_EQ(refusal(*outline, {longer}), "the prepared frames given are damaged") << "a byte after its last entry";
    bytes newer = batch;
    newer[4] = 2;
    EXPECT_EQ(refusal(*outline, {newer}), "the prepared frames given are no batch of frames this packing reads");
    // A batch that ends in a failure of a code no library has.
    torv::prepared_batch failing;
    failing.frames_in_packing = 12;
    failing.failed_frame = 0;
    failing.why = torv::failure_of(code::bad_image, "intro000.bmp: broken", "intro000.bmp");
    bytes unknown = torv::batch_bytes(failing);
    ASSERT_TRUE(torv::read_batch(unknown));
    EXPECT_EQ(torv::read_batch(unknown)->why->words, "intro000.bmp: broken");
    const std::size_t code_at = 4 + 1 + 4 + 4 + 4 + 1;  // magic, version, frames, entries, number, kind
    ASSERT_EQ(unknown[code_at], static_cast<std::uint8_t>(code::bad_image));
    unknown[code_at] = 200;
    EXPECT_EQ(refusal(*outline, {unknown}), "the prepared frames given are damaged");

    // A batch is taken as it is: one made of an edited frame puts that frame
    // in the file, though the folder holds the original's.
    memory_folder edited = frames;
    paint(edited.files["intro002.bmp"], 0, 224);
    pack_settings with_edit;
    const bytes edit_batch = prepare_frames(*outline, edited.folder(), &like, {}, 2, 1)->data;
    with_edit.prepared = {edit_batch};
    const packed_file taken = packed_with(
        [&](const byte_writer& write) { return pack_outlined(*outline, frames.folder(), &like, with_edit, write); });
    ASSERT_TRUE(taken.done);
    EXPECT_EQ(taken.done->kept.size(), 11u);
    EXPECT_EQ(std::count(taken.done->kept.begin(), taken.done->kept.end(), "intro002.bmp"), 0);

    pack_outline fewer = *outline;
    fewer.files.pop_back();
    fewer.from_original.pop_back();
    EXPECT_EQ(refusal(fewer, {batch}), "the prepared frames given are of a packing of 12 frames, not of these 11");
    pack_outline moved = *outline;
    moved.records[3].start += 2048;
    EXPECT_EQ(refusal(moved, {}), "the outline does not hold the original's records");
    pack_outline other = *outline;
    other.layout = "raw_triple";
    EXPECT_EQ(refusal(other, {}), "the outline is not of the original's layout");
}

}  // namespace
}  // namespace libtorv
