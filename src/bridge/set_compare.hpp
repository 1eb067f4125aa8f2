// The comparison protocol HashTrieSet, KeysView and ItemsView share: against any
// collections.abc.Set, by length and containment, never NotImplemented.
#pragma once

#include <Python.h>

#include "runtime/outcome.hpp"

namespace quil {

/// Which containment decides a comparison once the lengths allow it.
enum class Containment {
    kSelfInOther,  // every element of the receiver is in `other` (walks the receiver)
    kOtherInSelf,  // every element of `other` belongs to the receiver (walks `other`)
};

/// A set comparison reduced to a containment check, or already answered.
struct SetComparison {
    bool answered;  // when true, `answer` is the result and nothing needs walking
    bool answer;
    Containment containment;
};

/// Reduces `receiver op other` for a receiver of `size` elements, for the five operators
/// other than !=. A non-Set `other` (by isinstance against collections.abc.Set, looked
/// up afresh: the module and its attribute may be replaced) answers False; so does a
/// length that rules the operator out. `equality_walks_receiver` says which way ==
/// checks containment. Errors of the import, isinstance and len are returned.
Outcome<SetComparison> reduce_set_comparison(PyObject* other, int op, Py_ssize_t size,
                                             bool equality_walks_receiver);

/// receiver != other: the negation of ==, whatever == answers; its errors propagate.
Outcome<py::Ref> set_not_equal(PyObject* receiver, PyObject* other);

}  // namespace quil
