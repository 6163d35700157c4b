// --fit against what a patient user gets by hand and against the best
// quantizer known, on pictures no one here drew (tools/make_fit_corpus.sh).
// Quality is PSNR (and SSIM) against the picture given at the game's levels,
// as the packed file decodes: measured here with the product's own readers.
//
//   1. one 640x480 picture into a single_picture_block (134,573 bytes):
//      - the patient user: ImageMagick's -colors for each of nine settings
//        (no dithering, Floyd-Steinberg, Riemersma; blur 0, 0.7, 1.5), the
//        most colours of 256, 128, 64, 32, 16 that packs, the best of them
//      - --fit
//      - pngquant's 256 colours (--nofs), as if the room did not exist
//   2. three pictures into a raw_triple (room to spare): --fit against
//      pngquant --nofs 256
//   3. a photo crop in place of one image of a four_image_block, the others
//      as the original has them: --fit against ImageMagick's -remap onto the
//      original's palette, with or without dithering, whichever fits better
//   4. a frame sequence of FRAMES true-colour frames that does not fit as
//      given: --fit's worst frame against the best uniform ImageMagick
//      setting (-colors 256 to 16, dithering or not) that fits
//
// Usage: fit_bench CORPUS [FRAMES]   (the programs are found beside this one;
// ImageMagick's convert and pngquant on the PATH)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/oklab.h"
#include "image/png_read.h"
#include "image/quality.h"
#include "image/quantize.h"
#include "libtorv/unpack.h"

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;
using torv::rgb8;

namespace {

struct run_result {
    int status = -1;
    double seconds = 0;
};

// Runs a program in `folder`, its output thrown away.
run_result run_in(const fs::path& folder, std::vector<std::string> command) {
    const auto start = std::chrono::steady_clock::now();
    std::fflush(stdout);  // else the child would write what is buffered again
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0)
            _exit(127);
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(127);
        std::vector<char*> argv;
        for (std::string& word : command) argv.push_back(word.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct image {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<rgb8> pixels;  // at the game's levels
};

// A PNG's pixels at the game's levels.
image image_of_png(const fs::path& path) {
    const torv::result<torv::picture> read = torv::read_png(read_file(path), 1 << 22);
    if (!read) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), read.error().words.c_str());
        std::exit(1);
    }
    image made{read->width, read->height, {}};
    for (std::size_t k = 0; k < static_cast<std::size_t>(read->width) * static_cast<std::size_t>(read->height); ++k) {
        made.pixels.push_back(torv::at_game_levels(read->colour_at(k)));
    }
    return made;
}

// The images a packed file shows.
std::vector<image> shown_by(const fs::path& packed) {
    const bytes file = read_file(packed);
    std::vector<image> images;
    const auto walked = libtorv::unpack_bytes(file, "x", [&](const libtorv::image_view& view) {
        image made{view.width, view.height, {}};
        for (const std::uint8_t index : view.indices) made.pixels.push_back(torv::rgb8_of(view.palette[index]));
        images.push_back(std::move(made));
        return true;
    });
    if (!walked) {
        std::fprintf(stderr, "cannot unpack %s\n", packed.c_str());
        std::exit(1);
    }
    return images;
}

torv::picture_quality quality(const image& given, const image& shown) {
    return torv::quality_of(given.pixels, shown.pixels, given.width, given.height);
}

std::string db(double psnr) {
    char text[32];
    std::snprintf(text, sizeof text, std::isfinite(psnr) ? "%.2f" : "exact", psnr);
    return text;
}

struct tools {
    std::string pack;
};

// The patient user's best for one picture in a single_picture_block.
struct baseline {
    torv::picture_quality quality{-1, 0, 0};
    std::string setting = "none fits";
};

baseline patient_user(const tools& with, const fs::path& work, const fs::path& picture, const image& given) {
    baseline best;
    for (const std::string dither : {"None", "FloydSteinberg", "Riemersma"}) {
        for (const std::string blur : {"0", "0.7", "1.5"}) {
            for (const int colours : {256, 128, 64, 32, 16}) {
                std::vector<std::string> convert = {"convert", picture.string()};
                if (blur != "0")
                    convert.insert(convert.end(), {"-blur", "0x" + blur});
                convert.insert(convert.end(), {"-dither", dither, "-colors", std::to_string(colours), "PNG8:x.png"});
                run_in(work, convert);
                if (run_in(work, {with.pack, "--no-like", "--layout", "single_picture_block", "x", "", "-o",
                                  "baseline.bin", "-f", "-q"})
                        .status != 0) {
                    continue;  // fewer colours, then
                }
                const torv::picture_quality q = quality(given, shown_by(work / "baseline.bin").front());
                if (q.psnr > best.quality.psnr) {
                    best.quality = q;
                    best.setting = dither + ", blur " + blur + ", " + std::to_string(colours) + " colours";
                }
                break;
            }
        }
    }
    return best;
}

// How many dB `a` is above `b`; two exact images are level.
double gain(double a, double b) {
    return std::isinf(a) && std::isinf(b) ? 0 : a - b;
}

torv::picture_quality pngquant_of(const fs::path& work, const fs::path& picture, const image& given) {
    run_in(work, {"pngquant", "--nofs", "256", "-f", "-o", "pq.png", picture.string()});
    return quality(given, image_of_png(work / "pq.png"));
}

void single_pictures(const tools& with, const fs::path& work, const std::vector<fs::path>& pictures) {
    std::printf("\n1. One 640x480 picture into a single_picture_block (room 134,573 bytes); PSNR dB / SSIM\n\n");
    std::printf(
        "| picture | patient user (its setting) | --fit | time | pngquant 256, unconstrained | --fit - pngquant |\n");
    std::printf("|---|---|---|---:|---|---:|\n");
    std::vector<double> gains;
    int not_worse = 0;  // pictures where --fit's PSNR and SSIM are at least the patient user's
    for (const fs::path& picture : pictures) {
        const image given = image_of_png(picture);
        const baseline user = patient_user(with, work, picture, given);
        fs::copy_file(picture, work / "x.png", fs::copy_options::overwrite_existing);
        const run_result fitted = run_in(work, {with.pack, "--fit", "--no-like", "--layout", "single_picture_block",
                                                "x", "", "-o", "fit.bin", "-f"});
        if (fitted.status != 0) {
            std::printf("| %s | --fit failed |\n", picture.filename().c_str());
            continue;
        }
        const torv::picture_quality fit = quality(given, shown_by(work / "fit.bin").front());
        const torv::picture_quality pq = pngquant_of(work, picture, given);
        if (user.quality.psnr > 0) {
            gains.push_back(gain(fit.psnr, user.quality.psnr));
            not_worse += fit.psnr >= user.quality.psnr && fit.ssim >= user.quality.ssim ? 1 : 0;
        }
        std::printf("| %s | %s / %.4f (%s) | %s / %.4f | %.1f s | %s / %.4f | %+.2f |\n", picture.filename().c_str(),
                    db(user.quality.psnr).c_str(), user.quality.ssim, user.setting.c_str(), db(fit.psnr).c_str(),
                    fit.ssim, fitted.seconds, db(pq.psnr).c_str(), pq.ssim, gain(fit.psnr, pq.psnr));
        std::fflush(stdout);
    }
    std::sort(gains.begin(), gains.end());
    if (!gains.empty()) {
        std::printf("\n--fit over the patient user: least %+.2f dB, median %+.2f dB, most %+.2f dB\n", gains.front(),
                    gains[gains.size() / 2], gains.back());
        std::printf("PSNR and SSIM at least the patient user's on %d of %zu pictures\n", not_worse, gains.size());
    }
}

void raw_triples(const tools& with, const fs::path& work, const std::vector<fs::path>& pictures) {
    std::printf("\n2. Three pictures into a raw_triple (room to spare); PSNR dB\n\n");
    std::printf("| picture | --fit | pngquant --nofs 256 | difference |\n|---|---|---|---:|\n");
    for (std::size_t first = 0; first + 3 <= pictures.size(); first += 3) {
        for (const char* const name : {"t0.png", "t1.png", "t2.png"}) {
            const std::size_t k = static_cast<std::size_t>(name[1] - '0');
            fs::copy_file(pictures[first + k], work / name, fs::copy_options::overwrite_existing);
        }
        if (run_in(work, {with.pack, "--fit", "--no-like", "--layout", "raw_triple", "t", "", "-o", "triple.bin", "-f"})
                .status != 0) {
            std::printf("| --fit failed |\n");
            continue;
        }
        const std::vector<image> shown = shown_by(work / "triple.bin");
        for (std::size_t k = 0; k < 3; ++k) {
            const image given = image_of_png(pictures[first + k]);
            const torv::picture_quality fit = quality(given, shown[k]);
            const torv::picture_quality pq = pngquant_of(work, pictures[first + k], given);
            std::printf("| %s | %s | %s | %+.2f |\n", pictures[first + k].filename().c_str(), db(fit.psnr).c_str(),
                        db(pq.psnr).c_str(), gain(fit.psnr, pq.psnr));
        }
    }
}

// A PNG of the 256 colours of image 2 of the original four_image_block, as
// torv shows them: what ImageMagick's -remap maps onto.
void palette_png(const fs::path& work) {
    const bytes file = read_file(work / "four.bin");
    const auto walked = libtorv::unpack_bytes(file, "x", [&](const libtorv::image_view& view) {
        std::vector<std::uint8_t> indices(256);
        for (std::size_t k = 0; k < 256; ++k) indices[k] = static_cast<std::uint8_t>(k);
        std::array<std::uint16_t, 256> palette{};
        std::copy(view.palette.begin(), view.palette.end(), palette.begin());
        const auto png = libtorv::png_bytes({"p.png", 16, 16, indices, palette, {}});
        std::ofstream(work / "palette.png", std::ios::binary)
            .write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
        return false;
    });
    if (!walked) {
        std::fprintf(stderr, "cannot unpack the sample four.bin\n");
        std::exit(1);
    }
}

void with_an_original(const tools& with, const fs::path& here, const fs::path& work,
                      const std::vector<fs::path>& pictures) {
    std::printf("\n3. A photo crop in place of four2 of a four_image_block, with its original; PSNR dB\n\n");
    std::printf(
        "| picture | --fit | ImageMagick -remap onto the palette (best that fits) | difference "
        "|\n|---|---|---|---:|\n");
    for (const fs::path& picture : pictures) {
        fs::remove_all(work / "four");
        fs::create_directories(work / "four");
        fs::copy_file(work / "four.bin", work / "four/four.bin");
        run_in(work / "four", {(here / "torv").string(), "four.bin", ""});
        fs::remove(work / "four/four2.bmp");
        run_in(work, {"convert", picture.string(), "-gravity", "center", "-crop", "320x224+0+0", "+repage", "-type",
                      "TrueColor", "PNG24:crop.png"});
        const image given = image_of_png(work / "crop.png");
        fs::copy_file(work / "crop.png", work / "four/four2.png", fs::copy_options::overwrite_existing);
        if (run_in(work / "four", {with.pack, "--fit", "four.bin", "", "-o", "fit.bin", "-f"}).status != 0) {
            std::printf("| %s | --fit failed |\n", picture.filename().c_str());
            continue;
        }
        const torv::picture_quality fit = quality(given, shown_by(work / "four/fit.bin")[2]);
        double remap = -1;
        for (const std::string dither : {"None", "FloydSteinberg"}) {
            run_in(work, {"convert", "crop.png", "-dither", dither, "-remap", "palette.png", "PNG8:four/four2.png"});
            if (run_in(work / "four", {with.pack, "--nearest", "four.bin", "", "-o", "remap.bin", "-f", "-q"}).status ==
                0) {
                remap = std::max(remap, quality(given, shown_by(work / "four/remap.bin")[2]).psnr);
            }
        }
        std::printf("| %s | %s | %s | %+.2f |\n", picture.filename().c_str(), db(fit.psnr).c_str(),
                    remap < 0 ? "none fits" : db(remap).c_str(), gain(fit.psnr, remap));
    }
}

// Two photo crops in place of four2 and four3 of a four_image_block: one
// palette and one block for both, the change spread so that their qualities
// are as even as may be.
void two_in_one_block(const tools& with, const fs::path& here, const fs::path& work,
                      const std::vector<fs::path>& pictures) {
    std::printf("\n4. Two photo crops in place of four2 and four3 of a four_image_block; PSNR dB\n\n");
    std::printf("| four2 | four3 | four2 --fit | four3 --fit | spread |\n|---|---|---:|---:|---:|\n");
    std::vector<double> spreads;
    for (std::size_t k = 0; k + 1 < pictures.size(); k += 2) {
        fs::remove_all(work / "two");
        fs::create_directories(work / "two");
        fs::copy_file(work / "four.bin", work / "two/four.bin");
        run_in(work / "two", {(here / "torv").string(), "four.bin", ""});
        std::vector<image> given;
        for (const std::size_t which : {std::size_t{2}, std::size_t{3}}) {
            const std::string name = "four" + std::to_string(which);
            fs::remove(work / "two" / (name + ".bmp"));
            run_in(work, {"convert", pictures[k + which - 2].string(), "-gravity", "center", "-crop", "320x224+0+0",
                          "+repage", "-type", "TrueColor", "PNG24:two/" + name + ".png"});
            given.push_back(image_of_png(work / "two" / (name + ".png")));
        }
        if (run_in(work / "two", {with.pack, "--fit", "four.bin", "", "-o", "fit.bin", "-f"}).status != 0) {
            std::printf("| %s | %s | --fit failed |\n", pictures[k].filename().c_str(),
                        pictures[k + 1].filename().c_str());
            continue;
        }
        const std::vector<image> shown = shown_by(work / "two/fit.bin");
        const double one = quality(given[0], shown[2]).psnr, two = quality(given[1], shown[3]).psnr;
        spreads.push_back(std::abs(gain(one, two)));
        std::printf("| %s | %s | %s | %s | %.2f |\n", pictures[k].filename().c_str(),
                    pictures[k + 1].filename().c_str(), db(one).c_str(), db(two).c_str(), spreads.back());
    }
    std::sort(spreads.begin(), spreads.end());
    if (!spreads.empty())
        std::printf("\nspread: median %.2f dB, most %.2f dB\n", spreads[spreads.size() / 2], spreads.back());
}

// Error diffusion against none, with colours chosen as --fit chooses them
// (256, and 16 as where an original leaves few entries free) and room to
// spare: what dithering gains or loses by each measure.
void dithering(const std::vector<fs::path>& pictures) {
    for (const std::size_t colours : {std::size_t{256}, std::size_t{16}}) {
        std::printf(
            "\n6. %zu colours chosen as --fit chooses them, mapped plainly or error-diffused "
            "(Floyd-Steinberg);\n   PSNR dB / SSIM / mean OKLab difference\n\n",
            colours);
        std::printf("| picture | plain | diffused |\n|---|---|---|\n");
        int psnr_wins = 0, ssim_wins = 0, oklab_wins = 0;
        for (const fs::path& picture : pictures) {
            const image given = image_of_png(picture);
            std::vector<double> bins;
            torv::add_to_histogram(given.pixels, bins);
            const std::vector<std::uint16_t> chosen = torv::choose_colours(torv::colours_of(bins), {}, colours);
            torv::rgb15_palette palette{};
            torv::usable_entries usable{};
            for (std::size_t k = 0; k < chosen.size(); ++k) {
                palette[k] = chosen[k];
                usable[k] = true;
            }
            torv::picture_quality q[2];
            for (const bool dither : {false, true}) {
                const std::vector<std::uint8_t> indices =
                    torv::map_to_palette(given.pixels, given.width, given.height, palette, usable, dither);
                q[dither] = quality(given, {given.width, given.height, torv::shown_colours(indices, palette)});
            }
            psnr_wins += q[1].psnr > q[0].psnr ? 1 : 0;
            ssim_wins += q[1].ssim > q[0].ssim ? 1 : 0;
            oklab_wins += q[1].oklab_mean < q[0].oklab_mean ? 1 : 0;
            std::printf("| %s | %s / %.4f / %.4f | %s / %.4f / %.4f |\n", picture.filename().c_str(),
                        db(q[0].psnr).c_str(), q[0].ssim, q[0].oklab_mean, db(q[1].psnr).c_str(), q[1].ssim,
                        q[1].oklab_mean);
            std::fflush(stdout);
        }
        std::printf("\ndiffused better on %d (PSNR), %d (SSIM), %d (OKLab) of %zu pictures\n", psnr_wins, ssim_wins,
                    oklab_wins, pictures.size());
    }
}

void frame_sequence(const tools& with, const fs::path& work, const fs::path& picture, int frames) {
    std::printf("\n5. %d true-colour frames panning over %s into a frame_sequence\n\n", frames,
                picture.filename().c_str());
    fs::remove_all(work / "frames");
    fs::create_directories(work / "frames");
    run_in(work, {"convert", picture.string(), "-resize", "1000x800!", "big.png"});
    std::vector<image> given;
    for (int k = 0; k < frames; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "frames/a%03d.png", k);
        run_in(work, {"convert", "big.png", "-crop",
                      "320x224+" + std::to_string(k * 600 / frames) + "+" + std::to_string(k * 500 / frames), "+repage",
                      "-type", "TrueColor", std::string("PNG24:") + name});
        given.push_back(image_of_png(work / name));
    }
    auto worst_of = [&](const fs::path& packed) {
        const std::vector<image> shown = shown_by(packed);
        double worst = 1e9, sum = 0;
        for (int k = 0; k < frames; ++k) {
            const double psnr =
                torv::psnr_of(given[static_cast<std::size_t>(k)].pixels, shown[static_cast<std::size_t>(k)].pixels);
            worst = std::min(worst, psnr);
            sum += psnr;
        }
        return std::pair<double, double>(worst, sum / frames);
    };
    const run_result plain =
        run_in(work / "frames", {with.pack, "--no-like", "--layout", "frame_sequence", "a", "", "-o", "x.bin", "-f"});
    const run_result fitted = run_in(work / "frames", {with.pack, "--fit", "--no-like", "--layout", "frame_sequence",
                                                       "a", "", "-o", "fit.bin", "-f"});
    if (fitted.status != 0) {
        std::printf("--fit failed\n");
        return;
    }
    const auto [fit_worst, fit_mean] = worst_of(work / "frames/fit.bin");
    std::printf("without --fit: %s; --fit: worst frame %.2f dB, mean %.2f dB, in %.0f s\n",
                plain.status == 0 ? "packs" : "refused", fit_worst, fit_mean, fitted.seconds);
    double best_worst = -1;
    std::string best_setting = "none fits";
    for (const int colours : {256, 128, 64, 32, 16}) {
        for (const std::string dither : {"None", "FloydSteinberg"}) {
            fs::remove_all(work / "uniform");
            fs::create_directories(work / "uniform");
            for (int k = 0; k < frames; ++k) {
                char name[32];
                std::snprintf(name, sizeof name, "a%03d.png", k);
                run_in(work, {"convert", (work / "frames" / name).string(), "-dither", dither, "-colors",
                              std::to_string(colours), "PNG8:" + (work / "uniform" / name).string()});
            }
            if (run_in(work / "uniform", {with.pack, "--nearest", "--no-like", "--layout", "frame_sequence", "a", "",
                                          "-o", "x.bin", "-f", "-q"})
                    .status != 0) {
                continue;
            }
            const double worst = worst_of(work / "uniform/x.bin").first;
            if (worst > best_worst) {
                best_worst = worst;
                best_setting = std::to_string(colours) + " colours, dither " + dither;
            }
        }
    }
    std::printf("the best uniform ImageMagick setting that fits: worst frame %.2f dB (%s); --fit %+.2f dB\n",
                best_worst, best_setting.c_str(), fit_worst - best_worst);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string only;  // one part of the benchmark, or all
    if (const auto at = std::find(args.begin(), args.end(), std::string("--only")); at != args.end()) {
        only = at + 1 != args.end() ? *(at + 1) : "?";
        args.erase(at, at + 1 != args.end() ? at + 2 : at + 1);
    }
    const std::vector<std::string> parts = {"single", "triple", "original", "two", "frames", "dither"};
    if (args.empty() || args[0].starts_with("-") ||
        (!only.empty() && std::find(parts.begin(), parts.end(), only) == parts.end())) {
        std::fprintf(stderr,
                     "usage: fit_bench CORPUS [FRAMES [PICTURE]] [--only single|triple|original|two|frames|dither]\n"
                     "  CORPUS: the pictures (tools/make_fit_corpus.sh); FRAMES (150) frames of a pan over\n"
                     "  PICTURE (astronaut.png) for the frame sequence\n");
        return 2;
    }
    const fs::path corpus = fs::absolute(args[0]);
    const int frames = args.size() > 1 ? std::max(2, std::atoi(args[1].c_str())) : 150;
    const std::string panned = args.size() > 2 ? args[2] : "astronaut.png";
    const fs::path here = fs::canonical("/proc/self/exe").parent_path();
    const tools with{(here / "torv-pack").string()};
    const fs::path work = fs::temp_directory_path() / ("torv-fit-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    std::vector<fs::path> pictures;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() == ".png")
            pictures.push_back(entry.path());
    }
    std::sort(pictures.begin(), pictures.end());
    run_in(work, {(here / "make_samples").string(), "."});
    palette_png(work);
    auto wanted = [&](const char* part) { return only.empty() || only == part; };
    if (wanted("single"))
        single_pictures(with, work, pictures);
    if (wanted("triple"))
        raw_triples(with, work, pictures);
    if (wanted("original"))
        with_an_original(with, here, work, pictures);
    if (wanted("two"))
        two_in_one_block(with, here, work, pictures);
    if (wanted("frames"))
        frame_sequence(with, work, corpus / panned, frames);
    if (wanted("dither"))
        dithering(pictures);
    fs::remove_all(work);
    return 0;
}
