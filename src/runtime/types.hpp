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
#include <utility>

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

/// Allocates an instance of `type` and moves `payload` into it; the collector tracks it
/// when `track` says the payload may hold an object the collector tracks (tracking.hpp).
/// On failure the payload stays with the caller (and is released with it).
template <class Payload>
Outcome<py::Ref> new_instance(PyTypeObject* type, Payload&& payload, bool track) {
    // What object.__new__ does for these types (a GC header, no instance dict), minus
    // zeroing memory that the payload's constructor overwrites.
    PyObject* object = reinterpret_cast<PyObject*>(PyObject_GC_New(Instance<Payload>, type));
    if (object == nullptr) {
        return PendingError::fetch();
    }
    ::new (&payload_of<Payload>(object)) Payload(std::move(payload));
    // Only a complete instance may be traversed.
    if (track) {
        PyObject_GC_Track(object);
    }
    return py::Ref::steal(object);
}

namespace detail {
/// Runs `destroy(self)` unless the thread is already that deep inside nested
/// destructions (a List holding a List holding ...), in which case `self` waits in a
/// thread-local queue that the outermost destruction drains. Keeps the C stack flat.
void guarded_dealloc(PyObject* self, void (*destroy)(PyObject*)) noexcept;
}  // namespace detail

/// tp_dealloc of every class: stop the collector's tracking, release the payload, free
/// the object, then drop the instance's reference to its heap type.
template <class Payload>
void dealloc_instance(PyObject* self) noexcept {
    // First of all: a collection started by what the release runs must not traverse a
    // payload being torn down, nor an object waiting in the queue with no references.
    PyObject_GC_UnTrack(self);
    detail::guarded_dealloc(self, [](PyObject* object) {
        PyTypeObject* type = Py_TYPE(object);
        payload_of<Payload>(object).~Payload();
        PyObject_GC_Del(object);
        Py_DECREF(type);
    });
}

}  // namespace quil
