// The repr protocol every class shares: "{open}piece, piece, ...{close}" as a new str.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>
#include <utility>

#include "runtime/errors.hpp"
#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

/// Appends the element's own __repr__ text, or "<repr failed>" (append_method_repr).
inline Status append_element_repr(std::string& text, PyObject* element) {
    return append_method_repr(text, element, "<repr failed>");
}

/// "{open}p1, p2, ...{close}": `next()` gives each item to show (null-like at the end) and
/// `append(text, item)` appends its piece, returning a Status; its first error ends the
/// repr.
template <class Next, class Append>
Outcome<py::Ref> joined_repr(std::string_view open, std::string_view close, Next next,
                             Append append) {
    std::string text(open);
    bool first = true;
    while (auto item = next()) {
        if (!first) {
            text += ", ";
        }
        first = false;
        if (Status appended = append(text, item); !appended.ok()) {
            return std::move(appended).take_error();
        }
    }
    text += close;
    PyObject* result =
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (result == nullptr) {
        return PendingError::fetch();
    }
    return py::Ref::steal(result);
}

/// joined_repr of the objects `next()` yields (borrowed; null at the end), each by its
/// own __repr__ method. Fails because of an element only with an error that may not be
/// discarded.
template <class Next>
Outcome<py::Ref> elements_repr(std::string_view open, std::string_view close, Next next) {
    return joined_repr(open, close, std::move(next), append_element_repr);
}

}  // namespace quil
