// The module's objects and CPython's cyclic garbage collector: which objects the collector
// may come to track, which decides whether a new collection is tracked, and the mark of
// the classes whose instances never gain a reference after they are made.
//
// A collection is tracked only when it may hold an object the collector tracks: only then
// can a reference cycle pass through it. Whether it may is known in O(1) as the collection
// is made: a collection derived from another may hold what the other holds plus whatever
// the operation put in, so the receiver's tracked state, or'ed with may_be_tracked() of
// each object put in, is the answer. An operation that only takes things out (remove,
// rest, difference) keeps the receiver's state, which may be conservative; an empty result
// holds nothing. A collection that is wrongly untracked leaks the cycles through it, and
// one that is needlessly tracked only costs the collector a visit.
#pragma once

#include <Python.h>

namespace quil {

namespace detail {
/// The Py_tp_token of the classes whose instances never gain a reference (ClassSpec::
/// immutable): an untracked instance of one holds only untracked objects, for good.
inline constexpr char kImmutableClassToken = 0;

/// may_be_tracked() for an object whose type supports the collector.
bool may_be_tracked_by_instance(PyObject* object) noexcept;
}  // namespace detail

/// Whether the collector tracks `object` now or may track it later: CPython's own rule for
/// what dict and tuple hold, with this module's immutable classes taken as tuples are. An
/// object whose type has no collector support never is; an exact tuple, or an instance of
/// an immutable class, only while it is tracked, since an untracked one holds only
/// untracked objects and never gains more; anything else (a list or a dict even while
/// empty and untracked, an instance of a class, a mutation) may come to be.
inline bool may_be_tracked(PyObject* object) noexcept {
    if (!PyType_IS_GC(Py_TYPE(object))) [[likely]] {
        return false;
    }
    return detail::may_be_tracked_by_instance(object);
}

/// Whether the collector tracks `object`, an instance of one of the module's classes. For
/// a collection, view or iterator: whether it may hold an object the collector tracks.
inline bool is_tracked(PyObject* object) noexcept { return PyObject_GC_IsTracked(object) != 0; }

}  // namespace quil
