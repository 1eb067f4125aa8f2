// Memory of freed instances kept for reuse, one set per interpreter (InterpreterState
// owns it). A sequence step (List.rest, Stack.pop, Queue.dequeue, a new iterator) makes
// one object and, as the caller lets go of the previous one, frees one of the same size:
// with the memory going round here, neither costs the object allocator nor the
// collector's allocation count anything.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

namespace quil {

/// Instance memory by size. Every class of the module lays its instances out alike in
/// front of the object (the collector's header and nothing else: no dict, no weak
/// references), so memory freed by one class serves any class whose instances have the
/// same size. An object on a list has its payload destroyed and is not tracked; it keeps
/// its reference to its type, so that the type its tp_free reads outlives it, and the
/// taker drops that reference when it gives the memory a type again.
///
/// Only the interpreter's attached thread touches its lists, under the interpreter's
/// lock; a free-threaded interpreter has no such lock, and there the lists stay empty.
class FreeLists {
public:
    /// Instances of this many bytes or fewer (the type's basic size) are kept.
    static constexpr std::size_t kLargest = 128;
    /// How many objects of one size wait at most. A chain of steps needs one; nested
    /// loops over iterators need one per level.
    static constexpr std::size_t kDepth = 16;

    static constexpr bool serves([[maybe_unused]] std::size_t size) noexcept {
#ifdef Py_GIL_DISABLED
        return false;
#else
        return size <= kLargest && size % kGranule == 0;
#endif
    }

    FreeLists() = default;
    FreeLists(const FreeLists&) = delete;
    FreeLists& operator=(const FreeLists&) = delete;
    ~FreeLists() { release(); }

    /// An object of `Size` bytes from the list, or null when none waits. The caller
    /// initialises it (PyObject_Init) as it would fresh memory, then drops the reference
    /// to the type it had.
    template <std::size_t Size>
    PyObject* take() noexcept {
        static_assert(serves(Size));
        Stack& stack = stacks_[Size / kGranule];
        return stack.count != 0 ? stack.objects[--stack.count] : nullptr;
    }

    /// Keeps `object` (an instance of `Size` bytes whose payload is destroyed, untracked,
    /// still holding its type's reference); false when the list is full and the caller
    /// frees it.
    template <std::size_t Size>
    bool keep(PyObject* object) noexcept {
        static_assert(serves(Size));
        Stack& stack = stacks_[Size / kGranule];
        if (stack.count == kDepth) {
            return false;
        }
        stack.objects[stack.count++] = object;
        return true;
    }

    /// Frees every object waiting (through its type's tp_free), then drops its type's
    /// reference. Runs attached.
    void release() noexcept {
        for (Stack& stack : stacks_) {
            while (stack.count != 0) {
                PyObject* object = stack.objects[--stack.count];
                PyTypeObject* type = Py_TYPE(object);
                type->tp_free(object);
                Py_DECREF(type);
            }
        }
    }

private:
    static constexpr std::size_t kGranule = 8;

    struct Stack {
        std::size_t count = 0;
        std::array<PyObject*, kDepth> objects{};
    };
    std::array<Stack, kLargest / kGranule + 1> stacks_{};
};

}  // namespace quil
