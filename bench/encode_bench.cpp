// Encoder throughput on 640x480 256-colour pictures of three kinds:
// photographs (a smooth scene with film grain, mapped to a fixed palette of
// 8x8x4 colours, plainly and with Floyd-Steinberg dithering), flat-colour art
// (large areas of one colour with hard edges), and noise. Reports MB/s of
// input on one core, and the block sizes of the optimal and the greedy
// (longest match every step) parse.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "codec/lzss_encode.h"

namespace {

using bytes = std::vector<std::uint8_t>;

constexpr int width = 640;
constexpr int height = 480;

struct colour {
    double red, green, blue;  // 0 to 255
};

// The scene: soft light and shade from a few waves, colour drifting across
// it, and grain on every pixel.
std::vector<colour> photo_scene() {
    std::mt19937 random(17);
    std::normal_distribution<double> grain(0.0, 4.0);
    std::vector<colour> scene;
    scene.reserve(width * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double light = 0.5 + 0.25 * std::sin(x / 53.0 + 0.7 * std::sin(y / 41.0)) +
                                 0.15 * std::cos(y / 29.0 - x / 97.0) + 0.1 * std::sin((x + y) / 13.0);
            const double red = 255 * light * (0.6 + 0.4 * x / width);
            const double green = 255 * light * (0.8 - 0.3 * y / height);
            const double blue = 255 * (0.3 + 0.5 * light * y / height);
            scene.push_back({std::clamp(red + grain(random), 0.0, 255.0), std::clamp(green + grain(random), 0.0, 255.0),
                             std::clamp(blue + grain(random), 0.0, 255.0)});
        }
    }
    return scene;
}

// The palette: 8 levels of red, 8 of green, 4 of blue.
std::uint8_t nearest_index(const colour& c, colour& chosen) {
    const int r = std::clamp(static_cast<int>(std::lround(c.red / 255 * 7)), 0, 7);
    const int g = std::clamp(static_cast<int>(std::lround(c.green / 255 * 7)), 0, 7);
    const int b = std::clamp(static_cast<int>(std::lround(c.blue / 255 * 3)), 0, 3);
    chosen = {r * 255.0 / 7, g * 255.0 / 7, b * 255.0 / 3};
    return static_cast<std::uint8_t>(r << 5 | g << 2 | b);
}

bytes photograph(bool dithered) {
    std::vector<colour> scene = photo_scene();
    bytes picture(scene.size());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t at = static_cast<std::size_t>(y * width + x);
            colour chosen{};
            picture[at] = nearest_index(scene[at], chosen);
            if (!dithered) {
                continue;
            }
            const colour error{scene[at].red - chosen.red, scene[at].green - chosen.green,
                               scene[at].blue - chosen.blue};
            auto spread = [&](int dx, int dy, double share) {
                if (x + dx < 0 || x + dx >= width || y + dy >= height)
                    return;
                colour& c = scene[static_cast<std::size_t>((y + dy) * width + x + dx)];
                c.red += error.red * share;
                c.green += error.green * share;
                c.blue += error.blue * share;
            };
            spread(1, 0, 7.0 / 16);
            spread(-1, 1, 3.0 / 16);
            spread(0, 1, 5.0 / 16);
            spread(1, 1, 1.0 / 16);
        }
    }
    return picture;
}

bytes flat_art() {
    std::mt19937 random(23);
    bytes picture(width * height, 12);
    for (int shape = 0; shape < 40; ++shape) {
        const int left = static_cast<int>(random() % width), top = static_cast<int>(random() % height);
        const int w = 20 + static_cast<int>(random() % 200), h = 20 + static_cast<int>(random() % 150);
        const auto index = static_cast<std::uint8_t>(random() % 24);
        const bool disc = shape % 2 == 0;
        for (int y = top; y < std::min(height, top + h); ++y) {
            for (int x = left; x < std::min(width, left + w); ++x) {
                const double dx = (x - left - w / 2.0) / (w / 2.0), dy = (y - top - h / 2.0) / (h / 2.0);
                if (!disc || dx * dx + dy * dy <= 1) {
                    picture[static_cast<std::size_t>(y * width + x)] = index;
                }
            }
        }
    }
    return picture;
}

bytes noise() {
    std::mt19937 random(29);
    bytes picture(width * height);
    for (auto& b : picture) b = static_cast<std::uint8_t>(random());
    return picture;
}

void encode(benchmark::State& state, const bytes& picture) {
    std::size_t size = 0;
    for (auto _ : state) {
        const bytes block = torv::lzss_encode(picture);
        size = block.size();
        benchmark::DoNotOptimize(block.data());
    }
    const std::size_t greedy = torv::lzss_encode_greedy(picture).size();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * picture.size()));
    state.counters["optimal"] = static_cast<double>(size);
    state.counters["greedy"] = static_cast<double>(greedy);
    state.counters["saved_%"] = 100.0 * (1.0 - static_cast<double>(size) / static_cast<double>(greedy));
}

void BM_encode_photograph(benchmark::State& state) {
    static const bytes picture = photograph(false);
    encode(state, picture);
}
void BM_encode_photograph_dithered(benchmark::State& state) {
    static const bytes picture = photograph(true);
    encode(state, picture);
}
void BM_encode_flat_art(benchmark::State& state) {
    static const bytes picture = flat_art();
    encode(state, picture);
}
void BM_encode_noise(benchmark::State& state) {
    static const bytes picture = noise();
    encode(state, picture);
}

// The match finder alone, to see what the parse costs on top.
void BM_find_matches_flat_art(benchmark::State& state) {
    static const bytes picture = flat_art();
    for (auto _ : state) {
        benchmark::DoNotOptimize(torv::find_longest_matches(picture).data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * picture.size()));
}
void BM_find_matches_photograph(benchmark::State& state) {
    static const bytes picture = photograph(false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(torv::find_longest_matches(picture).data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * picture.size()));
}
BENCHMARK(BM_find_matches_flat_art)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_find_matches_photograph)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_encode_photograph)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_encode_photograph_dithered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_encode_flat_art)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_encode_noise)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
