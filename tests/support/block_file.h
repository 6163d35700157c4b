// Decodes blocks from real files, as the converter does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "codec/lzss_decode.h"
#include "io/input.h"

namespace torv::test {

struct decoded_block {
    std::vector<std::uint8_t> data;  // the kept bytes
    std::int64_t next_offset = 0;    // where the next record of a frame sequence would start
};

// Writes `file_bytes` to a temporary file, positions it at `start` and decodes
// one block.
decoded_block decode_file(const std::vector<std::uint8_t>& file_bytes, std::int64_t start = 0,
                          std::size_t max_kept = keep_everything);

// Decodes blocks one after the other from the same context.
class block_reader {
public:
    explicit block_reader(const std::vector<std::uint8_t>& file_bytes);
    ~block_reader();
    block_reader(const block_reader&) = delete;
    block_reader& operator=(const block_reader&) = delete;

    decoded_block next(std::size_t max_kept = keep_everything);
    void seek(std::int64_t offset);

private:
    std::filesystem::path path_;
    input_stream in_;
};

}  // namespace torv::test
