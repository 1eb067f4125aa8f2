// The hashes the classes compute from their elements: the order-independent frozenset
// combination of maps and sets, and the SipHash sequence hash of List, Stack and Queue.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "quil/hash/siphash13.hpp"
#include "runtime/errors.hpp"
#include "runtime/outcome.hpp"

namespace quil {

// The combination maps and sets share with Python's frozenset: each element's 64-bit hash
// is shuffled and XORed into an accumulator, which is then mixed with the size. All
// arithmetic wraps modulo 2**64.

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

/// The error for the element at `position` that failed to hash, its error raised.
[[gnu::cold]] inline PendingError unhashable_element(const char* class_name, std::size_t position,
                                                     PyObject* element) {
    if (!raised_error_is_discardable()) {
        return PendingError::fetch();
    }
    PyErr_Clear();
    auto text = repr_or(element, "<repr> error");
    if (!text.ok()) {
        return std::move(text).take_error();
    }
    return PendingError::message(PyExc_TypeError, "Unhashable type at " + std::to_string(position) +
                                                      " element in " + class_name + ": " +
                                                      text.value());
}

/// SipHash-1-3 under the zero key over each element's hash as 8 little-endian bytes, the
/// elements coming from `next()` (borrowed; null at the end). An unhashable element gives
/// "Unhashable type at {i} element in {class}: {repr}" in place of its own error, unless
/// that error may not be discarded (raised_error_is_discardable).
template <class Next>
Outcome<Py_hash_t> sequence_hash(const char* class_name, Next next) {
    SipHasher13 hasher(0, 0);
    std::size_t position = 0;
    while (PyObject* element = next()) {
        const Py_hash_t element_hash = PyObject_Hash(element);
        if (element_hash == -1) [[unlikely]] {
            return unhashable_element(class_name, position, element);
        }
        hasher.write_u64(static_cast<std::uint64_t>(element_hash));
        ++position;
    }
    return static_cast<Py_hash_t>(hasher.finish());
}

}  // namespace quil
