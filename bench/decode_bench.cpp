// Decoder throughput, in decoded bytes per second, on a stream of literals
// and on a stream of long matches. Both are read from a real file through the
// converter's own input buffer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "codec/lzss_decode.h"
#include "codec/lzss_encode.h"
#include "io/input.h"
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
    return torv::lzss_encode(data);
}

// Picture data of the kind the layouts hold: mostly matches of 18 bytes.
bytes match_heavy_block() {
    bytes data;
    for (int frame = 0; data.size() < (16u << 20); ++frame) {
        const bytes picture = torv::samples::make_picture(320, 224, frame % 4, frame);
        data.insert(data.end(), picture.begin(), picture.end());
    }
    return torv::lzss_encode(data);
}

void decode_file(benchmark::State& state, const std::filesystem::path& path) {
    torv::result<torv::input_stream> opened = torv::open_input(path.string());
    if (!opened) {
        state.SkipWithError("cannot open the stream file");
        return;
    }
    torv::input_stream& in = *opened;
    std::size_t decoded = 0;
    std::size_t last_size = 0;
    for (auto _ : state) {
        torv::seek_input(in, 0);
        const torv::decoded_block block = torv::decode_block(in);
        benchmark::DoNotOptimize(block.bytes.data());
        last_size = block.bytes.size();
        decoded += last_size;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(decoded));
    state.counters["stream_bytes"] = static_cast<double>(in.size);
    state.counters["decoded_bytes"] = static_cast<double>(last_size);
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
