// Equality of elements as the classes' == and != and membership tests ask it: through
// PyObject_RichCompare, with no identity shortcut.
#pragma once

#include <Python.h>

#include <utility>

#include "runtime/errors.hpp"
#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

/// The truth of `a == b`; an error of the comparison or of its truth is returned.
inline Outcome<bool> equal_objects(PyObject* a, PyObject* b) {
    py::Ref result = py::Ref::steal(PyObject_RichCompare(a, b, Py_EQ));
    const int truth = result ? PyObject_IsTrue(result.get()) : -1;
    if (truth < 0) {
        return PendingError::fetch();
    }
    return truth == 1;
}

/// == or != (`op`) of two collections compared pair by pair: they differ when their
/// sizes do, when an element has no partner, or when a pair answers `op` with a
/// difference (False for ==, True for !=). `next_pair()` gives the next (a, b): a null
/// `a` ends the walk, a null `b` means that `a` has no partner. A comparison that raises
/// counts as a difference and its error is discarded, unless it may not be
/// (raised_error_is_discardable): that error is returned. The walk stops at the first
/// difference.
template <class NextPair>
Outcome<py::Ref> pairwise_equality(int op, bool same_size, NextPair next_pair) {
    const bool want_equal = op == Py_EQ;
    bool differ = !same_size;
    while (!differ) {
        const std::pair<PyObject*, PyObject*> pair = next_pair();
        if (pair.first == nullptr) {
            break;
        }
        if (pair.second == nullptr) {
            differ = true;
            break;
        }
        py::Ref result = py::Ref::steal(PyObject_RichCompare(pair.first, pair.second, op));
        const int truth = result ? PyObject_IsTrue(result.get()) : -1;
        if (truth < 0) {
            if (!raised_error_is_discardable()) {
                return PendingError::fetch();
            }
            PyErr_Clear();
            differ = true;
        } else {
            differ = want_equal ? truth == 0 : truth == 1;
        }
    }
    return py::Ref::borrow(want_equal != differ ? Py_True : Py_False);
}

}  // namespace quil
