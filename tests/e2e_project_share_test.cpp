// The modder's loop end to end: palettes out that paint programs load and
// that pack back; watch rebuilding on every save, never a half-written one;
// a mod shared as one zip whose patches say
// what it is and apply here and in a decoder written from the format's
// description; a zip that would write outside its folder, twice to one
// file, or unpack to too much, refused by name with nothing written.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "bps_by_hand.h"
#include "harness.h"
#include "libtorv/patch.h"
#include "libtorv/zip.h"
#include "png_file.h"
#include "project_scene.h"
#include "samples.h"

namespace torv::test {
namespace {

namespace fs = std::filesystem;

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string text_of(const bytes& data) {
    return {data.begin(), data.end()};
}

// A project with two sources edited: data/four.bin and sub/intro.bin.
bool edited_project(const game_scene& scene) {
    return scene.unpack() && scene.edit("proj/data/four/four2.png", scene.four, "s2.bmp") &&
           scene.edit("proj/sub/intro/intro005.png", scene.intro, "s005.bmp");
}

TEST(ProjectBundle, OneZipCarriesEveryPatchAndSaysWhatTheModIs) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    if (!edited_project(scene))
        GTEST_SKIP() << "no PNG writer in this test build";
    const run_result built = scene.project({"build", "proj", "game", "out", "--patch-file", "share/mod.zip", "--title",
                                            "Café colours", "--author", "Ann", "--description", "Brighter panels."});
    ASSERT_EQ(built.status, 0) << built.errors;
    EXPECT_TRUE(has(built.output, "share/mod.zip: 2 patches and README.txt, ")) << built.output;

    const libtorv::result<std::vector<libtorv::zip_entry>> zip = libtorv::read_zip(dir.read("share/mod.zip"), 1 << 26);
    ASSERT_TRUE(zip) << zip.error().words;
    ASSERT_EQ(zip->size(), 3u);
    EXPECT_EQ((*zip)[0].name, "README.txt");
    const std::string readme = text_of((*zip)[0].contents);
    for (const char* part : {"Café colours\nby Ann\n\nBrighter panels.\n", "  data/four.bin\n", "  sub/intro.bin\n",
                             "torv-project apply"}) {
        EXPECT_TRUE(has(readme, part)) << part << " not in\n" << readme;
    }
    const std::pair<std::string, bytes> sources[] = {{"data/four.bin", scene.four}, {"sub/intro.bin", scene.intro}};
    for (std::size_t k = 0; k < 2; ++k) {
        const auto& [path, original] = sources[k];
        SCOPED_TRACE(path);
        EXPECT_EQ((*zip)[k + 1].name, path + ".bps");
        const auto applied = bps_by_hand::apply((*zip)[k + 1].contents, original);
        ASSERT_TRUE(applied) << "a decoder written from the format's description refuses it";
        EXPECT_TRUE(applied->target == dir.read("out/" + path));
        EXPECT_EQ(applied->metadata, R"({"title":"Café colours","author":"Ann","description":"Brighter panels.",)"
                                     R"("file":")" +
                                         path + "\"}");
    }

    // The zip applies as a folder of patches does.
    const run_result applied = scene.project({"apply", "share/mod.zip", "game", "applied"});
    ASSERT_EQ(applied.status, 0) << applied.errors;
    EXPECT_TRUE(tree(dir, "applied") == tree(dir, "out"));

    // With nothing changed, no zip; with --patch too, both; the words are
    // for patches only.
    ASSERT_EQ(scene.project({"unpack", "game", "fresh", "-q"}).status, 0);
    const run_result unchanged = scene.project({"build", "fresh", "game", "out2", "--patch-file", "none.zip"});
    EXPECT_EQ(unchanged.status, 0) << unchanged.errors;
    EXPECT_TRUE(has(unchanged.output, "none.zip: not written, as no file changed"));
    EXPECT_FALSE(dir.exists("none.zip"));
    const run_result both =
        scene.project({"build", "proj", "game", "out3", "--patch", "patches", "--patch-file", "both.zip", "-q",
                       "--title", "Café colours", "--author", "Ann", "--description", "Brighter panels."});
    EXPECT_EQ(both.status, 0) << both.errors;
    EXPECT_TRUE(dir.read("patches/data/four.bin.bps") == (*zip)[1].contents) << "the same patch either way";
    EXPECT_EQ(scene.project({"build", "proj", "game", "out4", "--title", "x"}).status, 2);
    EXPECT_FALSE(dir.exists("out4"));
}

// A zip of the patch `patch` under each of `names`.
bytes zip_of(const std::vector<std::string>& names, const bytes& patch) {
    libtorv::zip_archive zip;
    for (const std::string& name : names) EXPECT_TRUE(libtorv::add_to_zip(zip, name, patch));
    return libtorv::finish_zip(zip);
}

TEST(ProjectBundle, AHostileZipIsRefusedByNameAndNothingIsWritten) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    bytes changed = scene.four;
    changed[100] ^= 1;
    const bytes patch = libtorv::bps_patch(scene.four, changed);
    auto expect_refused = [&](const bytes& zip, const std::string& line) {
        SCOPED_TRACE(line);
        dir.write("hostile.zip", zip);
        const run_result result = scene.project({"apply", "hostile.zip", "game", "applied"});
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(has(result.errors, "torv-project: hostile.zip: " + line)) << result.errors;
        EXPECT_TRUE(has(result.errors, "nothing was written")) << result.errors;
        EXPECT_FALSE(dir.exists("applied"));
        EXPECT_TRUE(dir.read("game/data/four.bin") == scene.four);
        EXPECT_FALSE(dir.exists("four.bin") || dir.exists("etc"));
    };
    expect_refused(zip_of({"data/four.bin.bps", "../four.bin.bps"}, patch),
                   "../four.bin.bps: it leads out of its folder (\"..\")");
    expect_refused(zip_of({"data/four.bin.bps", "data\\..\\..\\four.bin.bps"}, patch),
                   "data/../../four.bin.bps: it leads out of its folder");
    expect_refused(zip_of({"/etc/four.bin.bps"}, patch), "/etc/four.bin.bps: it is an absolute path");
    // Fine names of patches for files that are not: data/.. and data/.
    expect_refused(zip_of({"data/...bps"}, patch), "data/...bps: it leads out of its folder");
    expect_refused(zip_of({"data/..bps"}, patch), "data/..bps: it has an empty part or a \".\"");
    expect_refused(zip_of({"C:/four.bin.bps"}, patch), "C:/four.bin.bps: it is an absolute path");
    expect_refused(zip_of({"data/four.bin.bps", "data/FOUR.bin.BPS"}, patch),
                   "data/four.bin.bps and data/FOUR.bin.BPS are both patches for data/FOUR.bin: keep one");

    // Sizes a zip claims are believed only so far. Five patches, each of
    // 300 KB of 7-bit noise deflated, said to unpack to 250 MB each (within
    // what deflate can make of them) are refused, together, before one is
    // unpacked; one said to make 250 MB of 27 bytes is a lie.
    const auto claiming = [](bytes zip, std::uint32_t claimed) {
        for (std::size_t at = 0; at + 46 <= zip.size(); ++at) {
            if (zip[at] == 0x50 && zip[at + 1] == 0x4B && zip[at + 2] == 1 && zip[at + 3] == 2) {
                for (std::size_t k = 0; k < 4; ++k) zip[at + 24 + k] = static_cast<std::uint8_t>(claimed >> (8 * k));
            }
        }
        return zip;
    };
    std::mt19937 random(3);
    bytes noise(300'000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random() & 0x7F);
    expect_refused(
        claiming(zip_of({"a.bin.bps", "b.bin.bps", "c.bin.bps", "d.bin.bps", "e.bin.bps"}, noise), 250'000'000),
        "its patches unpack to 1,250,000,000 bytes, more than the 1,073,741,824 a zip of patches may hold");
    expect_refused(claiming(zip_of({"a.bin.bps"}, bytes(10'000, 0)), 250'000'000),
                   "the zip archive is damaged: a.bin.bps says it unpacks to 250000000 bytes from 27, more than "
                   "deflate can make");

    // What is no zip at all.
    expect_refused({'P', 'K', 3}, "it is no zip archive");
    // A zip without a patch in it says so.
    dir.write("readme.zip", zip_of({"README.txt"}, patch));
    const run_result empty = scene.project({"apply", "readme.zip", "game", "applied"});
    EXPECT_EQ(empty.status, 1);
    EXPECT_TRUE(has(empty.errors, "readme.zip holds no .bps patch")) << empty.errors;
}

using colour = std::array<int, 3>;

// The colours of a GIMP palette file, read as GIMP reads it: a header, then
// "r g b name" lines.
std::vector<colour> colours_of_gpl(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    std::vector<colour> colours;
    while (std::getline(lines, line)) {
        colour c{};
        std::istringstream fields(line);
        if (line.empty() || line[0] == '#' || !(fields >> c[0] >> c[1] >> c[2]))
            continue;
        colours.push_back(c);
    }
    return colours;
}

// A 24-bit BMP of squares of 16 pixels, each a colour picked at random
// from `colours`, as a paint program with the palette loaded saves it.
bytes painted_bmp(std::int32_t width, std::int32_t height, const std::vector<colour>& colours,
                  std::vector<colour>& pixels) {
    std::mt19937 random(7);
    const std::int32_t across = (width + 15) / 16;
    std::vector<colour> squares;
    for (std::int32_t k = 0; k < across * ((height + 15) / 16); ++k)
        squares.push_back(colours[random() % colours.size()]);
    bytes bmp = {'B', 'M'};
    const auto row = static_cast<std::uint32_t>(width * 3 + 3) / 4 * 4;
    for (const std::uint32_t v : {54 + row * static_cast<std::uint32_t>(height), 0u, 54u, 40u,
                                  static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 0x180001u}) {
        for (int shift = 0; shift < 32; shift += 8) bmp.push_back(static_cast<std::uint8_t>(v >> shift));
    }
    bmp.resize(54, 0);
    for (std::int32_t y = height - 1; y >= 0; --y) {  // bottom-up
        for (std::int32_t x = 0; x < width; ++x) {
            const colour& c = squares[static_cast<std::size_t>(y / 16 * across + x / 16)];
            bmp.insert(bmp.end(), {static_cast<std::uint8_t>(c[2]), static_cast<std::uint8_t>(c[1]),
                                   static_cast<std::uint8_t>(c[0])});
        }
        bmp.resize(bmp.size() + row - static_cast<std::size_t>(width) * 3, 0);
    }
    pixels.clear();
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x)
            pixels.push_back(squares[static_cast<std::size_t>(y / 16 * across + x / 16)]);
    }
    return bmp;
}

// The colours an 8-bit BMP as torv writes it shows, top row first.
std::vector<colour> shown_colours(const bytes& bmp) {
    const auto at32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24);
    };
    const std::uint32_t width = at32(18), height = at32(22), data = at32(10), row = (width + 3) / 4 * 4;
    std::vector<colour> colours;
    for (std::uint32_t y = height; y-- > 0;) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::size_t entry = 54 + 4 * std::size_t{bmp[data + y * row + x]};
            colours.push_back({bmp[entry + 2], bmp[entry + 1], bmp[entry]});
        }
    }
    return colours;
}

// Palettes out: each distinct palette once in three formats that agree,
// a list of which images use which, status quiet about them; and a picture
// painted only in the exported colours packs back exactly, with no
// --nearest and no --fit.
TEST(ProjectPalettes, EveryPaletteOnceInThreeFormatsAndWhatIsPaintedWithItPacksBack) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_EQ(scene.project({"unpack", "game", "proj", "--palettes", "-q"}).status, 0);
    EXPECT_EQ(text_of(dir.read("proj/data/four/four-palettes.txt"))
                  .substr(text_of(dir.read("proj/data/four/four-palettes.txt")).find("\nfour-palette:") + 1),
              "four-palette: four0.png four1.png four2.png four3.png\n")
        << "four images sharing one palette share one set of files";
    const std::string panels = text_of(dir.read("proj/data/panels/panels-palettes.txt"));
    EXPECT_EQ(panels.substr(panels.find("\npanels-palette1:") + 1),
              "panels-palette1: panels0.png\npanels-palette2: panels1.png panels2.png\n")
        << "the first panel's palette apart, the other two sharing theirs";
    EXPECT_TRUE(dir.exists("proj/data/panels/panels-palette2.act") &&
                !dir.exists("proj/data/panels/panels-palette3.gpl"));
    const std::vector<colour> colours = colours_of_gpl(text_of(dir.read("proj/data/four/four-palette.gpl")));
    ASSERT_EQ(colours.size(), 256u);
    const bytes act = dir.read("proj/data/four/four-palette.act");
    ASSERT_EQ(act.size(), 772u);
    EXPECT_EQ(act[768] << 8 | act[769], 256) << "the count";
    std::string jasc = "JASC-PAL\r\n0100\r\n256\r\n";
    for (std::size_t k = 0; k < 256; ++k) {
        EXPECT_EQ((colour{act[3 * k], act[3 * k + 1], act[3 * k + 2]}), colours[k]) << k;
        jasc += std::to_string(colours[k][0]) + " " + std::to_string(colours[k][1]) + " " +
                std::to_string(colours[k][2]) + "\r\n";
    }
    EXPECT_EQ(text_of(dir.read("proj/data/four/four-palette.pal")), jasc);
    EXPECT_EQ(scene.project({"status", "proj"}).output, "no changes: 3 sources, 19 images as they were unpacked\n");

    // Frames: as many sets as distinct palettes, every frame listed once.
    const std::string frames = text_of(dir.read("proj/sub/intro/intro-palettes.txt"));
    for (int k = 0; k < 12; ++k) {
        char name[16];
        std::snprintf(name, sizeof name, " intro%03d.png", k);
        EXPECT_TRUE(has(frames, name)) << name;
    }

    // Painted with the palette's colours, saved as a 24-bit BMP.
    std::vector<colour> pixels;
    dir.write("proj/data/four/four2.bmp", painted_bmp(320, 224, colours, pixels));
    fs::remove(dir.path() / "proj/data/four/four2.png");
    const run_result built = scene.project({"build", "proj", "game", "out"});
    ASSERT_EQ(built.status, 0) << built.errors;
    EXPECT_FALSE(has(built.output, "nearest")) << built.output;
    std::map<std::string, bytes> images = torv_images(dir.read("out/data/four.bin"));
    EXPECT_TRUE(shown_colours(images["s2.bmp"]) == pixels) << "every pixel the colour painted";
}

// Waits up to 30 s for `ready`.
bool wait_for(const std::function<bool()>& ready) {
    for (int k = 0; k < 300; ++k) {
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// watch: a save rebuilds its source; a file written in two halves a moment
// apart is taken whole, never half; two saves together make one build; a
// source edited back to what it was has its file taken out of OUT_DIR; and
// Ctrl-C ends it with nothing half-written left.
TEST(ProjectWatch, EverySaveRebuildsWhatChangedAndCtrlCLeavesNothingBehind) {
    game_scene scene;
    const scratch_dir& dir = scene.dir;
    ASSERT_TRUE(scene.unpack());
    const std::optional<bytes> four = edited_png(scene.four, "s2.bmp");
    const std::optional<bytes> four_again = edited_png(scene.four, "s3.bmp");
    const std::optional<bytes> panels = edited_png(scene.panels, "s1.bmp");
    const std::optional<bytes> frame = edited_png(scene.intro, "s005.bmp");
    if (!four || !four_again || !panels || !frame)
        GTEST_SKIP() << "no PNG writer in this test build";
    const bytes four2 = dir.read("proj/data/four/four2.png"), four3 = dir.read("proj/data/four/four3.png");
    const auto exists = [&](const std::string& name) { return [&dir, name] { return dir.exists(name); }; };
    bool all_seen = true;
    run_options options;
    options.project = true;
    options.while_running = [&](int pid) {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        dir.write("proj/data/four/four2.png", *four);
        all_seen &= wait_for(exists("out/data/four.bin"));
        // A frame written in two halves, 400 ms apart, as a slow save does.
        {
            std::ofstream half(dir.path() / "proj/sub/intro/intro005.png", std::ios::binary | std::ios::trunc);
            half.write(reinterpret_cast<const char*>(frame->data()), static_cast<std::streamsize>(frame->size() / 2));
            half.flush();
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            half.write(reinterpret_cast<const char*>(frame->data() + frame->size() / 2),
                       static_cast<std::streamsize>(frame->size() - frame->size() / 2));
        }
        all_seen &= wait_for(exists("out/sub/intro.bin"));
        // Two saves together, then the four images back as they were.
        dir.write("proj/data/four/four3.png", *four_again);
        dir.write("proj/data/panels/panels1.png", *panels);
        all_seen &= wait_for(exists("out/data/panels.bin"));
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        dir.write("proj/data/four/four2.png", four2);
        dir.write("proj/data/four/four3.png", four3);
        all_seen &= wait_for([&] { return !dir.exists("out/data/four.bin"); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, SIGINT);  // Ctrl-C (Wine passes it on to the Windows program as one)
    };
    const run_result watched = dir.run({"watch", "proj", "game", "out"}, options);
    EXPECT_TRUE(all_seen) << watched.output << watched.errors;
    EXPECT_FALSE(has(watched.errors, "torv-project:")) << "no build read a file half-written: " << watched.errors;
    if (!under_wine()) {
        EXPECT_EQ(watched.status, 128 + SIGINT);
    }
    EXPECT_TRUE(has(watched.output, "data/four.bin: 1 image changed (four2.png); block: ")) << watched.output;
    EXPECT_TRUE(has(watched.output, "sub/intro.bin: 1 image changed (intro005.png); records: ")) << watched.output;
    EXPECT_TRUE(has(watched.output, "data/four.bin: 2 images changed (four2.png, four3.png); block: "))
        << watched.output;
    EXPECT_TRUE(has(watched.output, "; data/panels.bin: 1 image changed (panels1.png)")) << "one build for both";
    EXPECT_TRUE(torv_images(dir.read("out/sub/intro.bin")).at("s005.bmp") ==
                scribbled(torv_images(scene.intro).at("s005.bmp")));
    for (const std::string& name : dir.files()) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

}  // namespace
}  // namespace torv::test
