// Walking a Python iterable from C++, item by item.
#pragma once

#include <Python.h>

#include <cstddef>
#include <utility>

#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

/// How many items iter(iterable) will yield, when that is known without running Python
/// code (exact lists and tuples); 0 otherwise. For reserving room.
inline std::size_t known_length(PyObject* iterable) noexcept {
    return PyList_CheckExact(iterable) || PyTuple_CheckExact(iterable)
               ? static_cast<std::size_t>(Py_SIZE(iterable))
               : 0;
}

/// Calls `test(item)` on the items of `iterable` in iteration order until one answers
/// false, and then stops pulling items; `item` is a new reference (py::Ref) the callee
/// may keep. `test` returns an Outcome<bool>. The result is whether every item passed,
/// or the first error, of the iteration or of `test`.
///
/// Exact lists and tuples are read by index exactly as their own iterators read them:
/// the item at each index while the index is below the current length, both read afresh
/// at every step (code that `test` runs may change a list). No iterator is made for them.
template <class Test>
Outcome<bool> all_items(PyObject* iterable, Test&& test) {
    if (PyList_CheckExact(iterable) || PyTuple_CheckExact(iterable)) {
        for (Py_ssize_t i = 0; i < Py_SIZE(iterable); ++i) {
            Outcome<bool> passed = test(py::Ref::borrow(PySequence_Fast_ITEMS(iterable)[i]));
            if (!passed.ok() || !passed.value()) {
                return passed;
            }
        }
        return true;
    }
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(iterable));
    if (!iterator) {
        return PendingError::fetch();
    }
    for (;;) {
        PyObject* item = nullptr;
        const int status = PyIter_NextItem(iterator.get(), &item);
        if (status < 0) {
            return PendingError::fetch();
        }
        if (status == 0) {
            return true;
        }
        Outcome<bool> passed = test(py::Ref::steal(item));
        if (!passed.ok() || !passed.value()) {
            return passed;
        }
    }
}

/// Calls `each(item)` for every item of `iterable`, as all_items does; `each` returns a
/// Status, and the walk stops at the first error, which it returns.
template <class Each>
Status for_each_item(PyObject* iterable, Each&& each) {
    Outcome<bool> done = all_items(iterable, [&](py::Ref item) -> Outcome<bool> {
        Status status = each(std::move(item));
        if (!status.ok()) {
            return std::move(status).take_error();
        }
        return true;
    });
    if (!done.ok()) {
        return std::move(done).take_error();
    }
    return Unit{};
}

}  // namespace quil
