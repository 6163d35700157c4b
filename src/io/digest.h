// Checksums of bytes: CRC32 (zlib's, the one zip, PNG and BPS patches keep)
// and SHA-256, which tells files apart for certain (its rounds on the
// processor's SHA extensions where it has them, else libmd's).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace torv {

// The CRC32 of `bytes`, going on from `crc` (the CRC32 of the bytes before
// them; 0 for none).
std::uint32_t crc32_of(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

// The SHA-256 of `bytes`, as 64 lower-case hex digits.
std::string sha256_of(std::span<const std::uint8_t> bytes);

// The same, its rounds on the fastest way this processor has, or on portable
// code whatever it has (so that both are tested on any machine).
enum class sha256_rounds : std::uint8_t { fastest, portable };
std::string sha256_of(std::span<const std::uint8_t> bytes, sha256_rounds rounds);

}  // namespace torv
