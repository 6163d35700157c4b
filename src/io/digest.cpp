#include "io/digest.h"

#include <sha2.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TORV_SHA_EXTENSIONS 1
#include <cpuid.h>
#include <immintrin.h>
#endif

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

namespace {

// SHA-256 works on 64-byte blocks; its state is eight 32-bit words, a to h.
constexpr std::size_t block_bytes = SHA256_BLOCK_LENGTH;
using sha256_state = std::array<std::uint32_t, 8>;
constexpr sha256_state sha256_start = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

void compress_portably(sha256_state& state, const std::uint8_t* blocks, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) SHA256Transform(state.data(), blocks + k * block_bytes);
}

#ifdef TORV_SHA_EXTENSIONS
// The processor's SHA extensions do the rounds about ten times as fast as
// portable code: what hashing a game's files takes, mostly.
bool has_sha_extensions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const bool ssse3_and_sse41 = (c & bit_SSSE3) && (c & bit_SSE4_1);
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return false;
    constexpr unsigned sha_bit = 1u << 29;  // leaf 7, EBX
    return ssse3_and_sse41 && (b & sha_bit);
}

alignas(16) constexpr std::uint32_t round_constants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// The rounds take the state as two vectors, ABEF and CDGH, and four message
// words at a time; each group of four rounds also makes the next four words
// of the message schedule from the sixteen before them.
__attribute__((target("sha,ssse3,sse4.1"))) void compress_with_extensions(sha256_state& state,
                                                                          const std::uint8_t* blocks,
                                                                          std::size_t count) {
    const __m128i big_endian_words = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (std::size_t block = 0; block < count; ++block) {
        const std::uint8_t* data = blocks + block * block_bytes;
        const __m128i abef_before = abef, cdgh_before = cdgh;
        __m128i words[4];
        for (int k = 0; k < 4; ++k) {
            words[k] =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * k)), big_endian_words);
        }
        for (int group = 0; group < 16; ++group) {
            __m128i& now = words[group % 4];
            if (group >= 4) {
                const __m128i& last = words[(group + 3) % 4];
                const __m128i& before_last = words[(group + 2) % 4];
                const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(now, words[(group + 1) % 4]),
                                                      _mm_alignr_epi8(last, before_last, 4));
                now = _mm_sha256msg2_epu32(partial, last);
            }
            __m128i message =
                _mm_add_epi32(now, _mm_load_si128(reinterpret_cast<const __m128i*>(&round_constants[4 * group])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
            message = _mm_shuffle_epi32(message, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
        }
        abef = _mm_add_epi32(abef, abef_before);
        cdgh = _mm_add_epi32(cdgh, cdgh_before);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), hgfe);
}
#endif

using compressor = void (*)(sha256_state&, const std::uint8_t*, std::size_t);

compressor fastest_compressor() {
#ifdef TORV_SHA_EXTENSIONS
    if (has_sha_extensions())
        return compress_with_extensions;
#endif
    return compress_portably;
}

}  // namespace

std::string sha256_of(std::span<const std::uint8_t> bytes) {
    return sha256_of(bytes, sha256_rounds::fastest);
}

std::string sha256_of(std::span<const std::uint8_t> bytes, sha256_rounds rounds) {
    static const compressor fastest = fastest_compressor();
    const compressor compress = rounds == sha256_rounds::fastest ? fastest : compress_portably;
    sha256_state state = sha256_start;
    const std::size_t whole = bytes.size() / block_bytes;
    compress(state, bytes.data(), whole);

    // The last bytes, a one bit, zeros, and the length in bits (big-endian)
    // at the end of one or two blocks.
    std::uint8_t tail[2 * block_bytes] = {};
    const std::size_t left = bytes.size() - whole * block_bytes;
    if (left > 0)
        std::memcpy(tail, bytes.data() + whole * block_bytes, left);
    tail[left] = 0x80;
    const std::size_t tail_bytes = left + 1 + 8 <= block_bytes ? block_bytes : 2 * block_bytes;
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
    for (int k = 0; k < 8; ++k)
        tail[tail_bytes - 1 - static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(bits >> (8 * k));
    compress(state, tail, tail_bytes / block_bytes);

    std::string hex;
    hex.reserve(64);
    for (const std::uint32_t word : state) {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(word));
        hex += digits;
    }
    return hex;
}

}  // namespace torv
