#include "block_file.h"

#include <fstream>
#include <random>
#include <stdexcept>

#include "format/layouts.h"

namespace torv::test {

block_reader::block_reader(const std::vector<std::uint8_t>& file_bytes) {
    std::random_device seed;
    path_ = std::filesystem::temp_directory_path() / ("torv-block-" + std::to_string(seed()) + ".bin");
    {
        std::ofstream out(path_, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file_bytes.data()), static_cast<std::streamsize>(file_bytes.size()));
    }
    result<input_stream> opened = open_input(path_.string());
    if (!opened) {
        throw std::runtime_error(opened.error().words);
    }
    in_ = std::move(*opened);
}

block_reader::~block_reader() {
    close_input(in_);
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

void block_reader::seek(std::int64_t offset) {
    seek_input(in_, offset);
}

decoded_block block_reader::next(std::size_t max_kept) {
    decoded_block result;
    const torv::decoded_block block = decode_block(in_, max_kept);
    result.next_offset = next_record_start(frame_sequence_layout, block.end);
    result.data.assign(block.bytes.begin(), block.bytes.end());
    return result;
}

decoded_block decode_file(const std::vector<std::uint8_t>& file_bytes, std::int64_t start, std::size_t max_kept) {
    block_reader reader(file_bytes);
    reader.seek(start);
    return reader.next(max_kept);
}

}  // namespace torv::test
