// libtorv/checksums.h on the io layer's digests.
#include "libtorv/checksums.h"

#include "io/digest.h"
#include "io/words.h"

namespace libtorv {

std::uint32_t crc32_of(std::span<const std::uint8_t> data) {
    return torv::crc32_of(data);
}

std::string crc32_text(std::uint32_t crc) {
    return torv::crc32_text(crc);
}

std::string sha256_of(std::span<const std::uint8_t> data) {
    return torv::sha256_of(data);
}

bool is_sha256_text(std::string_view text) {
    constexpr std::size_t sha256_digits = 64;
    return text.size() == sha256_digits && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace libtorv
