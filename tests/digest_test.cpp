// SHA-256: the published examples, and every length around the block and
// padding boundaries against libmd's own, both on the processor's SHA
// extensions (where they are) and on portable code.
#include "io/digest.h"

#include <gtest/gtest.h>
#include <sha2.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace torv {
namespace {

std::string sha256_text(const std::string& text) {
    return sha256_of({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

// libmd's digest of the whole message at once.
std::string libmd_sha256(const std::uint8_t* data, std::size_t size) {
    SHA2_CTX context;
    SHA256Init(&context);
    SHA256Update(&context, data, size);
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

TEST(Digest, Sha256GivesThePublishedDigestsAndLibmdsForEveryLength) {
    EXPECT_EQ(sha256_text(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_text("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256_text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

    std::mt19937 random(5);
    std::vector<std::uint8_t> data(70000);
    for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(random());
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 200; ++n) lengths.push_back(n);
    lengths.insert(lengths.end(), {4095, 4096, 4097, 65536 + 55, data.size()});
    for (const std::size_t n : lengths) {
        const std::string expected = libmd_sha256(data.data(), n);
        ASSERT_EQ(sha256_of({data.data(), n}), expected) << n << " bytes";
        ASSERT_EQ(sha256_of({data.data(), n}, sha256_rounds::portable), expected) << n << " bytes, portably";
    }
}

}  // namespace
}  // namespace torv
