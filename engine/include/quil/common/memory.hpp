// Where engine blocks come from, and how their owners are counted. Every engine
// structure takes a Heap policy as a template parameter: tests count allocations with
// their own, and the extension allocates where the interpreter's allocation tracing can
// see it, with the count policy its interpreter calls for (common/counts.hpp).
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

#include "quil/common/counts.hpp"
#include "quil/common/panic.hpp"

namespace quil {

/// A Heap hands out raw blocks and names the count policy of the blocks made from it
/// (H::Counts). allocate never returns null: when no block can be had it throws
/// std::bad_alloc, which the engine propagates like a failing key comparison (every
/// operation only writes private copies until it commits, so the receiver and every
/// older version stay as they were; see the essay in trie/trie.hpp).
template <class H>
concept Heap = CountPolicy<typename H::Counts> && requires(std::size_t size, void* block) {
    { H::allocate(size) } -> std::same_as<void*>;
    { H::deallocate(block, size) } noexcept;
};

/// The C library's allocator, with the count policy C.
template <CountPolicy C>
struct BasicSystemHeap {
    using Counts = C;

    static void* allocate(std::size_t size) {
        void* block = std::malloc(size);
        if (block == nullptr) [[unlikely]] {
            throw std::bad_alloc();
        }
        return block;
    }
    static void deallocate(void* block, std::size_t /*size*/) noexcept { std::free(block); }
};

/// The default for engine users outside the extension: atomic counts, safe whatever
/// the threads do.
using SystemHeap = BasicSystemHeap<AtomicCounts>;

/// Constructs a T in a block from H. If the constructor throws, the block is returned.
template <class T, Heap H, class... Args>
T* heap_new(Args&&... args) {
    void* block = H::allocate(sizeof(T));
    try {
        return ::new (block) T(std::forward<Args>(args)...);
    } catch (...) {
        H::deallocate(block, sizeof(T));
        throw;
    }
}

template <class T, Heap H>
void heap_delete(T* object) noexcept {
    object->~T();
    H::deallocate(object, sizeof(T));
}

}  // namespace quil
