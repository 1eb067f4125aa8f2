// Keyed SipHash-1-3 with a 64-bit result: one compression round per 8-byte block and
// three finalisation rounds. The trie hashes keys with it under per-map keys; the
// sequence and map hashes of the Python classes use it with both keys zero.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quil {

/// Streaming SipHash-1-3. Feed bytes with write / write_u64, then finish().
class SipHasher13 {
public:
    constexpr SipHasher13(std::uint64_t k0, std::uint64_t k1) noexcept
        : v0_(k0 ^ UINT64_C(0x736f6d6570736575)),
          v1_(k1 ^ UINT64_C(0x646f72616e646f6d)),
          v2_(k0 ^ UINT64_C(0x6c7967656e657261)),
          v3_(k1 ^ UINT64_C(0x7465646279746573)) {}

    /// Feeds `value` as 8 bytes, least significant first.
    constexpr void write_u64(std::uint64_t value) noexcept {
        if (tail_length_ == 0) {
            compress(value);
        } else {
            unsigned char bytes[8];
            for (int i = 0; i < 8; ++i) {
                bytes[i] = static_cast<unsigned char>(value >> (8 * i));
            }
            write(bytes, sizeof bytes);
            return;
        }
        length_ += 8;
    }

    constexpr void write(const unsigned char* data, std::size_t size) noexcept {
        length_ += size;
        while (size > 0) {
            tail_ |= static_cast<std::uint64_t>(*data++) << (8 * tail_length_);
            --size;
            if (++tail_length_ == 8) {
                compress(tail_);
                tail_ = 0;
                tail_length_ = 0;
            }
        }
    }

    constexpr std::uint64_t finish() const noexcept {
        SipHasher13 state = *this;
        const std::uint64_t last = (static_cast<std::uint64_t>(length_) << 56) | state.tail_;
        state.compress(last);
        state.v2_ ^= 0xff;
        state.round();
        state.round();
        state.round();
        return state.v0_ ^ state.v1_ ^ state.v2_ ^ state.v3_;
    }

private:
    constexpr void round() noexcept {
        v0_ += v1_;
        v1_ = std::rotl(v1_, 13);
        v1_ ^= v0_;
        v0_ = std::rotl(v0_, 32);
        v2_ += v3_;
        v3_ = std::rotl(v3_, 16);
        v3_ ^= v2_;
        v0_ += v3_;
        v3_ = std::rotl(v3_, 21);
        v3_ ^= v0_;
        v2_ += v1_;
        v1_ = std::rotl(v1_, 17);
        v1_ ^= v2_;
        v2_ = std::rotl(v2_, 32);
    }
    constexpr void compress(std::uint64_t block) noexcept {
        v3_ ^= block;
        round();
        v0_ ^= block;
    }

    std::uint64_t v0_, v1_, v2_, v3_;
    std::uint64_t tail_ = 0;
    unsigned tail_length_ = 0;
    std::uint64_t length_ = 0;
};

/// SipHash-1-3 of exactly one 8-byte message: the trie hash of a key.
constexpr std::uint64_t siphash13_u64(std::uint64_t k0, std::uint64_t k1,
                                      std::uint64_t message) noexcept {
    SipHasher13 hasher(k0, k1);
    hasher.write_u64(message);
    return hasher.finish();
}

}  // namespace quil
