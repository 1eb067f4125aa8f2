// Type objects and instances. Every class of the module is a heap type made from a
// ClassSpec once per interpreter (InterpreterState); an instance is the object header
// followed by the class's engine value (its payload) inline.
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

/// Allocates an instance of `type` and moves `payload` into it. On failure the payload
/// stays with the caller (and is released with it).
template <class Payload>
Outcome<py::Ref> new_instance(PyTypeObject* type, Payload&& payload) {
    // What object.__new__ does for these types (no GC header, no instance dict), minus
    // zeroing memory that the payload's constructor overwrites.
    PyObject* object = static_cast<PyObject*>(PyObject_Malloc(sizeof(Instance<Payload>)));
    if (object == nullptr) {
        return PendingError::message(PyExc_MemoryError, "");
    }
    PyObject_Init(object, type);
    ::new (&payload_of<Payload>(object)) Payload(std::move(payload));
    return py::Ref::steal(object);
}

namespace detail {
/// Runs `destroy(self)` unless the thread is already that deep inside nested
/// destructions (a List holding a List holding ...), in which case `self` waits in a
/// thread-local queue that the outermost destruction drains. Keeps the C stack flat.
void guarded_dealloc(PyObject* self, void (*destroy)(PyObject*)) noexcept;
}  // namespace detail

/// tp_dealloc of every class: release the payload, free the object, then drop the
/// instance's reference to its heap type.
template <class Payload>
void dealloc_instance(PyObject* self) noexcept {
    detail::guarded_dealloc(self, [](PyObject* object) {
        PyTypeObject* type = Py_TYPE(object);
        payload_of<Payload>(object).~Payload();
        type->tp_free(object);
        Py_DECREF(type);
    });
}

}  // namespace quil
