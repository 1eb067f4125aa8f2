// __copy__ and __deepcopy__ of the five collection classes. A collection never changes,
// so it is its own copy; its deep copy is itself too, unless an element deep-copies to a
// different object.
#pragma once

#include <Python.h>

#include <utility>
#include <vector>

#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

/// __copy__: the receiver itself.
inline Outcome<py::Ref> copy_self(PyObject* self) { return py::Ref::borrow(self); }

/// copy.deepcopy with one memo, applied to the elements of one collection.
class DeepCopier {
public:
    /// copy.deepcopy, read afresh from the copy module (so a replaced one is obeyed), and
    /// the memo the copies share: `memo`, or a new dict for None, as copy.deepcopy does.
    static Outcome<DeepCopier> make(PyObject* memo);

    /// The deep copy of `element` (a new reference). Objects that copy.deepcopy returns
    /// unexamined (str, int, float, bool, complex, bytes, None) are their own copies
    /// without the call.
    Outcome<py::Ref> copy(PyObject* element);

    /// What the memo holds for `self` (as copy keys it, by id), or an empty Ref when
    /// nothing. A memo that cannot be read is an error; one missing the key is not.
    Outcome<py::Ref> memoized(PyObject* self);

private:
    DeepCopier(py::Ref deepcopy, py::Ref memo) noexcept
        : deepcopy_(std::move(deepcopy)), memo_(std::move(memo)) {}

    py::Ref deepcopy_;
    py::Ref memo_;
};

/// __deepcopy__(memo) of a collection, as copy deep-copies a tuple: the elements that
/// `next()` yields (borrowed, null at the end) are deep-copied in that order with the
/// shared memo. Then, if the memo has come to hold a copy of the receiver (a cycle through
/// a mutable element reached it again), that copy is the result, so the cycle comes out
/// as one copy; else the receiver itself, if every element copied to itself; else
/// `rebuild(copies)`, a new collection made from the copies, in the order `next` gave.
/// The receiver is never changed, so walking it while copies run Python code is safe.
template <class Next, class Rebuild>
Outcome<py::Ref> deep_copy(PyObject* self, PyObject* memo, Next next, Rebuild rebuild) {
    auto made = DeepCopier::make(memo);
    if (!made.ok()) {
        return std::move(made).take_error();
    }
    DeepCopier& copier = made.value();
    std::vector<py::HeldRef> copies;
    bool changed = false;
    while (PyObject* element = next()) {
        auto copy = copier.copy(element);
        if (!copy.ok()) {
            return std::move(copy).take_error();
        }
        changed = changed || copy.value().get() != element;
        copies.push_back(py::HeldRef::from(std::move(copy).take_value()));
    }
    auto memoized = copier.memoized(self);
    if (!memoized.ok() || memoized.value()) {
        return memoized;
    }
    if (!changed) {
        return py::Ref::borrow(self);
    }
    return rebuild(std::move(copies));
}

}  // namespace quil
