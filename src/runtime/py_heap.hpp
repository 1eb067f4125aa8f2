// The heap the extension gives the engine: the interpreter's object allocator, so
// engine nodes are fast to allocate and visible to tracemalloc like any Python object.
#pragma once

#include <Python.h>

#include <cstddef>
#include <new>

#include "quil/common/counts.hpp"

namespace quil {

/// Blocks from PyObject_Malloc. Engine blocks are only made and freed by code running
/// inside a call frame, with the thread attached, as that allocator requires.
///
/// Counts are plain where the interpreter has a global lock: the attached thread holds
/// it whenever engine blocks are made, cloned or released, and no engine block is ever
/// reachable from two interpreters (common/counts.hpp says why that is enough). A
/// free-threaded interpreter runs attached threads in parallel, so counts are atomic.
struct PyHeap {
#ifdef Py_GIL_DISABLED
    using Counts = AtomicCounts;
#else
    using Counts = PlainCounts;
#endif

    /// Throws std::bad_alloc when the allocator has no block: the engine unwinds, leaving
    /// every version as it was, and the call frame raises MemoryError (adapters.hpp).
    static void* allocate(std::size_t size) {
        void* block = PyObject_Malloc(size);
        if (block == nullptr) [[unlikely]] {
            throw std::bad_alloc();
        }
        return block;
    }
    static void deallocate(void* block, std::size_t /*size*/) noexcept { PyObject_Free(block); }
};

}  // namespace quil
