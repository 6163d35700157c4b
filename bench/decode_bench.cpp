// Decoder throughput, in decoded bytes per second, on a stream of literals
// and on a stream of long matches. Both are read from a real file through the
// converter's own input buffer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "decode/lzss.h"
#include "driver/context.h"
#include "driver/input.h"
#include "lzss_encode.h"
#include "samples.h"

namespace {

using torv::samples::bytes;

std::filesystem::path write_temp(const std::string& name, const bytes& data) {
    const auto path = std::filesystem::temp_directory_path() / name;
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), file);
    std::fclose(file);
    return path;
}

// Noise: nothing to match, every item a literal.
bytes literal_heavy_block() {
    bytes data(4 << 20);
    std::mt19937 random(1);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(random());
    }
    return torv::samples::lzss_encode(data);
}

// Picture data of the kind the layouts hold: mostly matches of 18 bytes.
bytes match_heavy_block() {
    bytes data;
    for (int frame = 0; data.size() < (16u << 20); ++frame) {
        const bytes picture = torv::samples::make_picture(320, 224, frame % 4, frame);
        data.insert(data.end(), picture.begin(), picture.end());
    }
    return torv::samples::lzss_encode(data);
}

void decode_file(benchmark::State& state, const std::filesystem::path& path) {
    auto ctx = std::make_unique<torv::conversion_context>();
    if (!torv::open_input(ctx->in_file, path.string())) {
        state.SkipWithError("cannot open the stream file");
        return;
    }
    std::size_t decoded = 0;
    for (auto _ : state) {
        torv::seek_input(ctx->in_file, 0);
        torv::decode_block(*ctx);
        benchmark::DoNotOptimize(ctx->block_data);
        decoded += ctx->block_size;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(decoded));
    state.counters["stream_bytes"] = static_cast<double>(ctx->in_file.size);
    state.counters["decoded_bytes"] = static_cast<double>(ctx->block_size);
}

void BM_decode_literal_heavy(benchmark::State& state) {
    static const auto path = write_temp("torv-bench-literals.bin", literal_heavy_block());
    decode_file(state, path);
}

void BM_decode_match_heavy(benchmark::State& state) {
    static const auto path = write_temp("torv-bench-matches.bin", match_heavy_block());
    decode_file(state, path);
}

BENCHMARK(BM_decode_literal_heavy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_decode_match_heavy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
