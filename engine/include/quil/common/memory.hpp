// Where engine blocks come from. Every engine structure takes a Heap policy as a
// template parameter: tests count allocations with their own, and the extension
// allocates where the interpreter's allocation tracing can see it.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

#include "quil/common/panic.hpp"

namespace quil {

/// A Heap hands out raw blocks. allocate never returns null: running out of memory
/// ends the process, because the engine never reports allocation failure upwards.
template <class H>
concept Heap = requires(std::size_t size, void* block) {
    { H::allocate(size) } -> std::same_as<void*>;
    { H::deallocate(block, size) } noexcept;
};

/// The C library's allocator.
struct SystemHeap {
    static void* allocate(std::size_t size) {
        void* block = std::malloc(size);
        if (block == nullptr) {
            fatal("out of memory");
        }
        return block;
    }
    static void deallocate(void* block, std::size_t /*size*/) noexcept { std::free(block); }
};

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
