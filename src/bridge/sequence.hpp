// What List, Stack and Queue share: construction from arguments, and the length,
// equality and hash slots, all in the class's order of its elements.
#pragma once

#include <Python.h>

#include <span>
#include <utility>

#include "bridge/equality.hpp"
#include "bridge/hashing.hpp"
#include "bridge/walks.hpp"
#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"
#include "runtime/tracking.hpp"
#include "runtime/types.hpp"

namespace quil {

/// Stack(*args) and Queue(*elements): a new object of `type` holding the Record made by
/// `put(record, element)` for each element in order, as a new reference, tracked when an
/// element may be. The elements are the items of the one argument (any iterable), or
/// else the arguments themselves.
template <class Record, class Put>
Outcome<py::Ref> new_from_arguments(PyTypeObject* type, std::span<PyObject* const> arguments,
                                    Put put) {
    Record record;
    bool tracked = false;
    if (arguments.size() == 1) {
        Status built = for_each_item(arguments[0], [&](py::Ref item) -> Status {
            tracked = tracked || may_be_tracked(item.get());
            put(record, py::HeldRef::from(std::move(item)));
            return Unit{};
        });
        if (!built.ok()) {
            return std::move(built).take_error();
        }
    } else {
        for (PyObject* argument : arguments) {
            tracked = tracked || may_be_tracked(argument);
            put(record, py::HeldRef::borrow(argument));
        }
    }
    return new_instance(type, std::move(record), tracked);
}

/// A new reference to the element a peek found, or IndexError(`empty_message`) when the
/// collection was empty (null).
inline Outcome<py::Ref> peeked(const py::HeldRef* element, const char* empty_message) {
    if (element == nullptr) {
        return PendingError::message(PyExc_IndexError, empty_message);
    }
    return element->ref();
}

/// The slots List, Stack and Queue implement alike, for a class whose instances hold a
/// Record: length, equality with another instance of the same class, and the hash.
template <class Record, const char* kClassName>
struct SequenceSlots {
    static const Record& record_of(PyObject* self) { return payload_of<Record>(self); }

    static Outcome<Py_ssize_t> len(PyObject* self) {
        return static_cast<Py_ssize_t>(record_of(self).len());
    }

    /// == and != element by element in the class's order; NotImplemented for any other
    /// class and for the orderings.
    static Outcome<py::Ref> richcompare(PyObject* self, PyObject* other, int op) {
        if (!Py_IS_TYPE(other, Py_TYPE(self)) || (op != Py_EQ && op != Py_NE)) {
            return py::Ref::borrow(Py_NotImplemented);
        }
        const Record& a = record_of(self);
        const Record& b = record_of(other);
        return pairwise_equality(op, a.len() == b.len(),
                                 [next_a = elements_of(a), next_b = elements_of(b)]() mutable {
                                     PyObject* x = next_a();
                                     PyObject* y = next_b();
                                     return x != nullptr && y != nullptr
                                                ? std::pair<PyObject*, PyObject*>(x, y)
                                                : std::pair<PyObject*, PyObject*>();
                                 });
    }

    static Outcome<Py_hash_t> hash(PyObject* self) {
        return sequence_hash(kClassName, elements_of(record_of(self)));
    }
};

}  // namespace quil
