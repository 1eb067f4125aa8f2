// Type objects and instances. Every class of the module is a heap type made from a
// ClassSpec on first request and cached for the life of the process; an instance is
// the object header followed by the class's engine value (its payload) inline.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

#include "runtime/once.hpp"
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

/// One class of the module. Written with designated initialisers; `cell` is left to its
/// default and holds the type object once made.
struct ClassSpec {
    const char* qualified_name;  // "quil.List": module "quil", __name__ "List"
    const char* doc;             // "List(*elements)\n--\n\n", or null for no tp_doc
    Py_ssize_t basic_size;       // sizeof(Instance<Payload>)
    PyType_Slot* slots;          // the class's own slots, methods and getters; {0, null}-ended
    destructor dealloc;          // dealloc_instance<Payload>
    OnceCell cell{};
};

/// The class's type object (borrowed), created on first request.
Outcome<PyTypeObject*> type_object(ClassSpec& spec);

/// For operations that need an instance of another class (a view, an iterator): a type
/// that cannot be created is reported as unraisable and becomes an internal failure.
PyTypeObject* type_for_operation(ClassSpec& spec);

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
