// The heap the extension gives the engine: the interpreter's object allocator, so
// engine nodes are fast to allocate and visible to tracemalloc like any Python object.
#pragma once

#include <Python.h>

#include <cstddef>

#include "quil/common/panic.hpp"

namespace quil {

/// Blocks from PyObject_Malloc. Engine blocks are only made and freed by code running
/// inside a call frame, with the thread attached, as that allocator requires.
struct PyHeap {
    static void* allocate(std::size_t size) {
        void* block = PyObject_Malloc(size);
        if (block == nullptr) [[unlikely]] {
            fatal("out of memory");
        }
        return block;
    }
    static void deallocate(void* block, std::size_t /*size*/) noexcept { PyObject_Free(block); }
};

}  // namespace quil
