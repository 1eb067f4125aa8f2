// What List, Stack and Queue share: construction from arguments, the element-wise repr,
// the SipHash sequence hash and pairwise equality. The walks take a `next` callable that
// yields the elements in the class's order as borrowed PyObject*, and null at the end.
#pragma once

#include <Python.h>

#include <span>
#include <string>
#include <string_view>

#include "bridge/iterate.hpp"
#include "quil/hash/siphash13.hpp"
#include "runtime/errors.hpp"
#include "runtime/outcome.hpp"
#include "runtime/types.hpp"

namespace quil {

inline constexpr std::string_view kReprFailed = "<repr failed>";

/// Appends the element's own __repr__ text, or "<repr failed>".
inline void append_element_repr(std::string& text, PyObject* element) {
    if (!method_repr(element, text)) {
        text += kReprFailed;
    }
}

inline Outcome<py::Ref> text_result(const std::string& text) {
    PyObject* result = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (result == nullptr) {
        return PendingError::fetch();
    }
    return py::Ref::steal(result);
}

/// "{open}e1, e2, ...{close}" from the elements' own __repr__ methods. Never fails
/// because of an element.
template <class Next>
Outcome<py::Ref> sequence_repr(std::string_view open, std::string_view close, Next next) {
    std::string text(open);
    bool first = true;
    while (PyObject* element = next()) {
        if (!first) {
            text += ", ";
        }
        first = false;
        append_element_repr(text, element);
    }
    text += close;
    return text_result(text);
}

/// SipHash-1-3 under the zero key over each element's hash as 8 little-endian bytes.
/// An unhashable element gives "Unhashable type at {i} element in {class}: {repr}".
template <class Next>
Outcome<Py_hash_t> sequence_hash(const char* class_name, Next next) {
    SipHasher13 hasher(0, 0);
    std::size_t position = 0;
    while (PyObject* element = next()) {
        const Py_hash_t element_hash = PyObject_Hash(element);
        if (element_hash == -1) [[unlikely]] {
            PyErr_Clear();
            return PendingError::message(
                PyExc_TypeError, "Unhashable type at " + std::to_string(position) +
                                     " element in " + class_name + ": " +
                                     repr_or(element, "<repr> error"));
        }
        hasher.write_u64(static_cast<std::uint64_t>(element_hash));
        ++position;
    }
    return static_cast<Py_hash_t>(hasher.finish());
}

/// == and != of two sequences of the same class, element by element, without identity
/// shortcuts. A comparison that raises is discarded and counts as a difference.
template <class NextA, class NextB>
py::Ref sequence_equality(int op, std::size_t length_a, std::size_t length_b, NextA next_a,
                          NextB next_b) {
    const bool want_equal = op == Py_EQ;
    bool differ = length_a != length_b;
    while (!differ) {
        PyObject* a = next_a();
        PyObject* b = next_b();
        if (a == nullptr || b == nullptr) {
            break;
        }
        py::Ref result = py::Ref::steal(PyObject_RichCompare(a, b, want_equal ? Py_EQ : Py_NE));
        const int truth = result ? PyObject_IsTrue(result.get()) : -1;
        if (truth < 0) {
            PyErr_Clear();
            differ = true;
        } else {
            differ = want_equal ? truth == 0 : truth == 1;
        }
    }
    return py::Ref::borrow(want_equal != differ ? Py_True : Py_False);
}

/// A `next` callable over the elements of a List, Stack or Queue value (anything with a
/// cursor() yielding `const py::HeldRef*`), in the class's order.
template <class Value>
auto elements_of(const Value& value) {
    return [cursor = value.cursor()]() mutable -> PyObject* {
        const py::HeldRef* element = cursor.next();
        return element != nullptr ? element->get() : nullptr;
    };
}

/// The elements a Stack(*args) or Queue(*elements) is made of, in order, handed to
/// `put` as new references: the items of the one argument (any iterable), or else the
/// arguments themselves.
template <class Put>
Status put_constructor_elements(std::span<PyObject* const> arguments, Put&& put) {
    if (arguments.size() == 1) {
        return for_each_item(arguments[0], [&](py::Ref item) -> Status {
            put(py::HeldRef::from(std::move(item)));
            return Unit{};
        });
    }
    for (PyObject* argument : arguments) {
        put(py::HeldRef::borrow(argument));
    }
    return Unit{};
}

/// The slots List, Stack and Queue implement alike, for a class whose instances hold a
/// Value: length, equality with another instance of the same class, and the hash.
template <class Value, const char* kClassName>
struct SequenceSlots {
    static const Value& value_of(PyObject* self) { return payload_of<Value>(self); }

    static Outcome<Py_ssize_t> len(PyObject* self) {
        return static_cast<Py_ssize_t>(value_of(self).len());
    }

    /// == and != element by element in the class's order; NotImplemented for any other
    /// class and for the orderings.
    static Outcome<py::Ref> richcompare(PyObject* self, PyObject* other, int op) {
        if (!Py_IS_TYPE(other, Py_TYPE(self)) || (op != Py_EQ && op != Py_NE)) {
            return py::Ref::borrow(Py_NotImplemented);
        }
        const Value& a = value_of(self);
        const Value& b = value_of(other);
        return sequence_equality(op, a.len(), b.len(), elements_of(a), elements_of(b));
    }

    static Outcome<Py_hash_t> hash(PyObject* self) {
        return sequence_hash(kClassName, elements_of(value_of(self)));
    }
};

}  // namespace quil
