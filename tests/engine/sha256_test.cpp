// SHA-256 against the FIPS 180-4 example vectors, and the same digests whatever the
// update sizes (every padding boundary crossed).
#include "engine/core/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace engine {
namespace {

std::string Hex(const uint8_t (&digest)[32]) {
    std::string hex;
    for (uint8_t byte : digest) hex += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
    return hex;
}

TEST(Sha256, StandardVectors) {
    const struct { std::string message; const char* digest; } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    // The processor's instructions (where it has them) and the portable code alike.
    for (const Sha256Engine engine : {Sha256Engine::ProcessorExtensions, Sha256Engine::Portable}) {
        for (const auto& c : cases) {
            uint8_t digest[32];
            Sha256 hash(engine);
            hash.update(c.message.data(), c.message.size());
            hash.finish(digest);
            EXPECT_EQ(Hex(digest), c.digest) << c.message.size() << " bytes, engine " << static_cast<int>(engine);
        }
    }
}

TEST(Sha256, UpdateSizesAndReuseDoNotChangeTheDigest) {
    std::string message;
    for (int i = 0; i < 200; ++i) message += static_cast<char>(i * 7);
    Sha256 hash;  // reused: finish must leave it fresh
    for (size_t length = 0; length <= message.size(); ++length) {
        uint8_t whole[32], pieces[32];
        Sha256 portable(Sha256Engine::Portable);
        portable.update(message.data(), length);
        portable.finish(whole);
        for (size_t at = 0, piece = 0; at < length; at += piece) {
            piece = std::min<size_t>(1 + at % 13, length - at);
            hash.update(message.data() + at, piece);
        }
        hash.finish(pieces);
        ASSERT_EQ(Hex(whole), Hex(pieces)) << length;
    }
}

}  // namespace
}  // namespace engine
