// SipHash-1-3: the known vectors, and agreement with a plain byte-at-a-time version of
// the algorithm written here from its definition.
#include "quil/hash/siphash13.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quil {
namespace {

/// SipHash-1-3 the slow, obvious way: pad the message, then one round per 8-byte word
/// and three finalisation rounds.
std::uint64_t reference_siphash13(std::uint64_t k0, std::uint64_t k1,
                                  const std::vector<unsigned char>& message) {
    std::uint64_t v[4] = {k0 ^ 0x736f6d6570736575u, k1 ^ 0x646f72616e646f6du,
                          k0 ^ 0x6c7967656e657261u, k1 ^ 0x7465646279746573u};
    auto rotl = [](std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); };
    auto sip_round = [&] {
        v[0] += v[1];
        v[2] += v[3];
        v[1] = rotl(v[1], 13) ^ v[0];
        v[3] = rotl(v[3], 16) ^ v[2];
        v[0] = rotl(v[0], 32);
        v[2] += v[1];
        v[0] += v[3];
        v[1] = rotl(v[1], 17) ^ v[2];
        v[3] = rotl(v[3], 21) ^ v[0];
        v[2] = rotl(v[2], 32);
    };
    std::vector<unsigned char> padded = message;
    while (padded.size() % 8 != 7) {
        padded.push_back(0);
    }
    padded.push_back(static_cast<unsigned char>(message.size() & 0xff));
    for (std::size_t at = 0; at < padded.size(); at += 8) {
        std::uint64_t word = 0;
        for (int j = 7; j >= 0; --j) {
            word = (word << 8) | padded[at + static_cast<std::size_t>(j)];
        }
        v[3] ^= word;
        sip_round();
        v[0] ^= word;
    }
    v[2] ^= 0xff;
    sip_round();
    sip_round();
    sip_round();
    return v[0] ^ v[1] ^ v[2] ^ v[3];
}

std::vector<unsigned char> le_bytes(std::uint64_t value) {
    std::vector<unsigned char> bytes;
    for (int i = 0; i < 8; ++i) {
        bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    return bytes;
}

std::uint64_t streamed(std::uint64_t k0, std::uint64_t k1,
                       const std::vector<unsigned char>& message, std::size_t chunk) {
    SipHasher13 hasher(k0, k1);
    for (std::size_t at = 0; at < message.size(); at += chunk) {
        hasher.write(message.data() + at, std::min(chunk, message.size() - at));
    }
    return hasher.finish();
}

TEST(SipHash13, KnownVectorsUnderZeroKey) {
    const std::uint64_t empty = static_cast<std::uint64_t>(INT64_C(-3315872660926475476));
    const std::uint64_t one = UINT64_C(2206609067086327257);
    EXPECT_EQ(SipHasher13(0, 0).finish(), empty);
    EXPECT_EQ(siphash13_u64(0, 0, 1), one);
    EXPECT_EQ(reference_siphash13(0, 0, {}), empty);
    EXPECT_EQ(reference_siphash13(0, 0, le_bytes(1)), one);
}

TEST(SipHash13, StreamingAgreesWithReference) {
    const std::uint64_t keys[][2] = {
        {0, 0}, {0x0706050403020100u, 0x0f0e0d0c0b0a0908u}, {~0ull, 1}};
    for (const auto& key : keys) {
        std::vector<unsigned char> message;
        for (std::size_t length = 0; length <= 24; ++length) {
            const std::uint64_t expected = reference_siphash13(key[0], key[1], message);
            for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{8}, length + 1}) {
                EXPECT_EQ(streamed(key[0], key[1], message, chunk), expected)
                    << "length " << length << " chunk " << chunk;
            }
            message.push_back(static_cast<unsigned char>(length * 37 + 1));
        }
    }
}

TEST(SipHash13, WordFeedIsEightLittleEndianBytes) {
    const std::uint64_t words[] = {0, 1, 0x8000000000000000u, 0x0123456789abcdefu, ~0ull};
    for (std::uint64_t word : words) {
        EXPECT_EQ(siphash13_u64(3, 5, word), reference_siphash13(3, 5, le_bytes(word))) << word;
        // A word after a partial block goes through the byte path.
        SipHasher13 hasher(3, 5);
        const unsigned char lead = 0x42;
        hasher.write(&lead, 1);
        hasher.write_u64(word);
        std::vector<unsigned char> message = {lead};
        for (unsigned char b : le_bytes(word)) {
            message.push_back(b);
        }
        EXPECT_EQ(hasher.finish(), reference_siphash13(3, 5, message)) << word;
    }
}

}  // namespace
}  // namespace quil
