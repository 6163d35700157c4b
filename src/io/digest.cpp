#include "io/digest.h"

#include <sha2.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace torv {

std::uint32_t crc32_of(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    // zlib takes at most an unsigned int's worth at a time.
    constexpr std::size_t chunk = 1u << 30;
    uLong value = crc;
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        const auto size = static_cast<uInt>(std::min(chunk, bytes.size() - at));
        value = crc32(value, bytes.data() + at, size);
    }
    return static_cast<std::uint32_t>(value);
}

std::string sha256_of(std::span<const std::uint8_t> bytes) {
    SHA2_CTX context;
    SHA256Init(&context);
    constexpr std::size_t chunk = 1u << 30;
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        SHA256Update(&context, bytes.data() + at, std::min(chunk, bytes.size() - at));
    }
    std::uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256Final(digest, &context);
    std::string hex;
    for (const std::uint8_t byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

}  // namespace torv
