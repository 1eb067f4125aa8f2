// The order-independent combination that maps and sets share with Python's frozenset:
// each element's 64-bit hash is shuffled and XORed into an accumulator, which is then
// mixed with the size. All arithmetic wraps modulo 2**64.
#pragma once

#include <Python.h>

#include <cstdint>

namespace quil {

constexpr std::uint64_t frozenset_shuffle(std::uint64_t h) noexcept {
    return ((h << 16) ^ h ^ UINT64_C(89869747)) * UINT64_C(3644798167);
}

/// The final mix; -1 (CPython's error value) becomes -2.
constexpr Py_hash_t frozenset_finish(std::uint64_t acc, std::uint64_t size) noexcept {
    acc ^= (size + 1) * UINT64_C(1927868237);
    acc ^= (acc >> 11) ^ (acc >> 25);
    acc = acc * UINT64_C(69069) + UINT64_C(907133923);
    const auto result = static_cast<Py_hash_t>(acc);
    return result == -1 ? -2 : result;
}

}  // namespace quil
