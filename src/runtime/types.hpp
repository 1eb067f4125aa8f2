// Type objects and instances. Every class of the module is a heap type made from a
// ClassSpec once per interpreter (InterpreterState); an instance is the object header
// followed by the class's engine value (its payload) inline. Every class supports the
// cyclic garbage collector (runtime/tracking.hpp says which instances it tracks). The
// immutable classes have no clear slot: as with tuples, every cycle through one passes
// through a mutable object whose clear breaks it (a list, a dict, an instance's
// attributes, a mutation).
#pragma once

#include <Python.h>

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "runtime/attach.hpp"
#include "runtime/free_lists.hpp"
#include "runtime/interpreter.hpp"
#include "runtime/outcome.hpp"

namespace quil {

template <class Payload>
struct Instance {
    PyObject_HEAD
    Payload payload;
};

/// The payload of `self`, which CPython guarantees to be an instance of the class
/// whose slot or method is running.
template <class Payload>
Payload& payload_of(PyObject* self) noexcept {
    return reinterpret_cast<Instance<Payload>*>(self)->payload;
}

/// One class of the module. Written with designated initialisers.
struct ClassSpec {
    const char* qualified_name;  // "quil.List": module "quil", __name__ "List"
    const char* doc;             // "List(*elements)\n--\n\n", or null for no tp_doc
    Py_ssize_t basic_size;       // sizeof(Instance<Payload>)
    PyType_Slot* slots;          // the class's own slots, methods and getters; {0, null}-ended
    destructor dealloc;          // dealloc_instance<Payload>
    traverseproc traverse;       // what the cyclic collector sees of an instance
    bool immutable;              // an instance never gains a reference once made
    std::size_t index;           // its place in InterpreterState's table of type objects
};

/// A new type object for the class (InterpreterState::install makes one per interpreter).
Outcome<py::Ref> create_type(const ClassSpec& spec);

/// The class's type object in the current interpreter (borrowed), for operations that
/// make an instance of a class other than their receiver's (a view, an iterator) or test
/// for one. An operation on an instance of the class itself uses Py_TYPE(self), which is
/// the same object and costs nothing.
inline PyTypeObject* type_for_operation(const ClassSpec& spec) {
    return InterpreterState::get().type(spec.index);
}

namespace detail {

/// Memory for an instance of `Size` bytes, made an object of `type` (a new reference,
/// one more on the type), not tracked: from the interpreter's free lists when one waits
/// there, else what object.__new__ does for these types (a GC header, no instance dict),
/// minus zeroing memory that the payload's constructor overwrites. Null, with the error
/// set, when out of memory.
template <std::size_t Size>
PyObject* allocate_instance(PyTypeObject* type) noexcept {
    if constexpr (FreeLists::serves(Size)) {
        if (InterpreterState* state = InterpreterState::current()) [[likely]] {
            if (PyObject* object = state->free_lists().take<Size>()) {
                PyTypeObject* previous = Py_TYPE(object);
                PyObject_Init(object, type);
                Py_DECREF(previous);  // a type the state holds too: never the last one
                return object;
            }
        }
    }
    return PyObject_GC_New(PyObject, type);
}

/// Gives back the memory of an untracked instance of `Size` bytes whose payload is
/// destroyed: to the interpreter's free lists while they have room (the object keeps its
/// type's reference there), else to the allocator, dropping the type's reference last.
template <std::size_t Size>
void free_instance(PyObject* object) noexcept {
    if constexpr (FreeLists::serves(Size)) {
        // No state: the interpreter is past the point where it releases its state, or
        // the object outlives it; its memory goes straight back.
        if (InterpreterState* state = InterpreterState::current()) [[likely]] {
            if (state->free_lists().keep<Size>(object)) {
                return;
            }
        }
    }
    PyTypeObject* type = Py_TYPE(object);
    PyObject_GC_Del(object);
    Py_DECREF(type);
}

}  // namespace detail

/// Allocates an instance of `type` and makes its payload from `make()` in place (a
/// Payload prvalue: the engine builds the record straight into the object); the
/// collector tracks it when `track` says the payload may hold an object the collector
/// tracks (tracking.hpp). If making the payload throws, the object is released with an
/// empty payload and the exception goes on.
template <class Payload, class Make>
Outcome<py::Ref> make_instance(PyTypeObject* type, Make&& make, bool track) {
    PyObject* object = detail::allocate_instance<sizeof(Instance<Payload>)>(type);
    if (object == nullptr) [[unlikely]] {
        return PendingError::fetch();
    }
    Payload* where = &payload_of<Payload>(object);
    if constexpr (std::is_nothrow_invocable_v<Make>) {
        ::new (where) Payload(std::forward<Make>(make)());
    } else {
        static_assert(std::is_nothrow_default_constructible_v<Payload>,
                      "a payload whose making may throw needs an empty form to release");
        try {
            ::new (where) Payload(std::forward<Make>(make)());
        } catch (...) {
            ::new (where) Payload();
            Py_DECREF(object);
            throw;
        }
    }
    // Only a complete instance may be traversed.
    if (track) {
        PyObject_GC_Track(object);
    }
    return py::Ref::steal(object);
}

/// Allocates an instance of `type` and moves `payload` into it; tracked as make_instance
/// says. On failure the payload stays with the caller (and is released with it).
template <class Payload>
Outcome<py::Ref> new_instance(PyTypeObject* type, Payload&& payload, bool track) {
    static_assert(std::is_nothrow_move_constructible_v<Payload>);
    return make_instance<Payload>(
        type, [&payload]() noexcept { return std::move(payload); }, track);
}

namespace detail {

/// The calling thread's nesting of instance destructions, and the objects waiting for
/// the outermost one to destroy them.
struct DeallocQueue {
    int depth = 0;
    bool draining = false;
    std::vector<PyObject*>* waiting = nullptr;
};
extern constinit thread_local DeallocQueue dealloc_queue __attribute__((tls_model("initial-exec")));

inline constexpr int kMaxNestedDeallocs = 256;

/// Puts `self` on the thread's queue: the thread is kMaxNestedDeallocs destructions deep.
[[gnu::cold]] void defer_dealloc(PyObject* self) noexcept;
/// Destroys what waits on the thread's queue, each from depth 0.
[[gnu::cold]] void drain_deallocs() noexcept;

/// Runs `destroy(self)` unless the thread is already that deep inside nested
/// destructions (a List holding a List holding ...), in which case `self` waits in a
/// thread-local queue that the outermost destruction drains. Keeps the C stack flat.
/// Inline, with `destroy` a direct call: every step of a walk frees one object.
template <class Destroy>
void guarded_dealloc(PyObject* self, Destroy destroy) noexcept {
    AttachScope attach;
    DeallocQueue& state = dealloc_queue;
    if (state.depth >= kMaxNestedDeallocs) [[unlikely]] {
        defer_dealloc(self);
        return;
    }
    ++state.depth;
    destroy(self);
    --state.depth;
    if (state.depth == 0 && state.waiting != nullptr && !state.waiting->empty()) [[unlikely]] {
        drain_deallocs();
    }
}

}  // namespace detail

/// tp_dealloc of every class: stop the collector's tracking, release the payload, then
/// give the memory back (the instance's reference to its heap type goes with it, last).
template <class Payload>
void dealloc_instance(PyObject* self) noexcept {
    // First of all: a collection started by what the release runs must not traverse a
    // payload being torn down, nor an object waiting in the queue with no references.
    PyObject_GC_UnTrack(self);
    detail::guarded_dealloc(self, [](PyObject* object) {
        payload_of<Payload>(object).~Payload();
        detail::free_instance<sizeof(Instance<Payload>)>(object);
    });
}

}  // namespace quil
