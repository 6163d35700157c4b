// Checksums of bytes: the CRC32 that zip, PNG and BPS keep, and SHA-256.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace libtorv {

std::uint32_t crc32_of(std::span<const std::uint8_t> data);

// A CRC32 as people compare them: eight lower-case hex digits.
std::string crc32_text(std::uint32_t crc);

// As 64 lower-case hex digits.
std::string sha256_of(std::span<const std::uint8_t> data);

// True if `text` is what sha256_of gives: 64 lower-case hex digits.
bool is_sha256_text(std::string_view text);

}  // namespace libtorv
