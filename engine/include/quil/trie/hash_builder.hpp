// HashBuilder: the key pair under which one map (and every version derived from it)
// hashes its keys, drawn from a per-thread random seed; and the default trie hasher.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "quil/common/panic.hpp"
#include "quil/hash/siphash13.hpp"

#if defined(__linux__)
#include <sys/random.h>
#include <sys/types.h>
#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__OpenBSD__) || defined(__NetBSD__)
#include <stdlib.h>
#define QUIL_HAVE_ARC4RANDOM_BUF 1
#else
#error "quil needs a source of random bytes for its hash seed on this platform"
#endif

namespace quil {

/// The SipHash keys of one map. Copied into every version derived from the map, so all
/// of them agree on every key's trie hash and share one iteration order.
struct HashBuilder {
    std::uint64_t k0 = 0;
    std::uint64_t k1 = 0;

    /// Takes the calling thread's next key pair: the seed's (k0, k1), after which the
    /// thread's k0 is incremented (wrapping). The first draw on a thread fills the seed.
    static HashBuilder draw() noexcept;

    bool operator==(const HashBuilder&) const = default;
};

/// The default trie hasher: SipHash-1-3 under the map's keys of the key's 8-byte feed.
/// Changing this changes every trie shape and iteration order.
struct SipHash13Hasher {
    static std::uint64_t hash(const HashBuilder& builder, std::uint64_t feed) noexcept {
        return siphash13_u64(builder.k0, builder.k1, feed);
    }
};

namespace detail {

/// One thread's seed. Thread-local, so drawing needs no synchronisation.
struct ThreadSeed {
    bool filled = false;
    std::uint64_t k0 = 0;
    std::uint64_t k1 = 0;
};

/// The calling thread's seed (tests use it to set a seed of their choosing).
inline ThreadSeed& thread_seed() noexcept {
    thread_local ThreadSeed seed;
    return seed;
}

/// Fills `out` with unpredictable bytes from the system, or ends the process: maps
/// must not fall back to a guessable seed.
inline void fill_random(unsigned char* out, std::size_t size) noexcept {
#if defined(QUIL_HAVE_ARC4RANDOM_BUF)
    arc4random_buf(out, size);
#else
    while (size > 0) {
        const ssize_t got = getrandom(out, size, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            fatal("no random bytes available for the hash seed");
        }
        out += got;
        size -= static_cast<std::size_t>(got);
    }
#endif
}

inline std::uint64_t load_le64(const unsigned char* bytes) noexcept {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

}  // namespace detail

inline HashBuilder HashBuilder::draw() noexcept {
    detail::ThreadSeed& seed = detail::thread_seed();
    if (!seed.filled) {
        unsigned char bytes[16];
        detail::fill_random(bytes, sizeof bytes);
        seed.k0 = detail::load_le64(bytes);
        seed.k1 = detail::load_le64(bytes + 8);
        seed.filled = true;
    }
    const HashBuilder drawn{seed.k0, seed.k1};
    ++seed.k0;  // unsigned: wraps at 2^64
    return drawn;
}

}  // namespace quil
