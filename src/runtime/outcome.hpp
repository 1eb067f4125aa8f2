// What an implementation hands back to its adapter: a value, or a Python error that
// the adapter raises. (Internal failures are thrown Panics; see common/panic.hpp.)
#pragma once

#include <Python.h>

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "runtime/py_ref.hpp"

namespace quil {

/// The success value of an outcome that carries none.
struct Unit {};

/// A Python error not yet raised. Lazy errors hold an exception type and the makings
/// of its value, and create nothing in the interpreter until raised; ready errors hold
/// an exception object fetched from the interpreter.
class PendingError {
public:
    /// type(message); `type` is a borrowed, process-lifetime exception class.
    [[nodiscard]] static PendingError message(PyObject* type, std::string text) {
        return PendingError(Kind::Message, type, std::move(text), {});
    }
    /// Raised as PyErr_SetObject(type, value): a tuple value becomes the arguments.
    [[nodiscard]] static PendingError object(PyObject* type, py::Ref value) {
        return PendingError(Kind::Object, type, {}, std::move(value));
    }
    [[nodiscard]] static PendingError ready(py::Ref exception) {
        return PendingError(Kind::Ready, nullptr, {}, std::move(exception));
    }
    /// The error the interpreter holds after a failed C API call (taken out of the
    /// thread state). A PanicException raised by Python code the module called is not
    /// an ordinary error: it is resumed as an internal failure (thrown Panic).
    [[nodiscard]] static PendingError fetch();

    PendingError(PendingError&&) noexcept = default;
    PendingError& operator=(PendingError&&) noexcept = default;

    /// Sets the error as the thread's current exception.
    void raise() &&;

    /// The error as an exception object: raised, then taken back from the thread state,
    /// so a lazy error is instantiated exactly as raising it would. Empty only when the
    /// interpreter ends up holding no exception.
    [[nodiscard]] py::Ref into_exception() &&;

    /// Adds the note "while processing '{argument}'" (the error is made ready first).
    [[nodiscard]] PendingError with_note(const char* argument) &&;

    /// Whether the error is an instance of `type` (a ready error is checked as is; a
    /// lazy one by its class).
    bool matches(PyObject* type) const;

private:
    enum class Kind : unsigned char { Message, Object, Ready };
    PendingError(Kind kind, PyObject* type, std::string text, py::Ref value)
        : kind_(kind), type_(type), text_(std::move(text)), value_(std::move(value)) {}

    Kind kind_;
    PyObject* type_;
    std::string text_;
    py::Ref value_;
};

template <class T>
class [[nodiscard]] Outcome {
public:
    Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Outcome(PendingError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    T& value() & { return std::get<0>(state_); }
    T take_value() && { return std::get<0>(std::move(state_)); }
    PendingError take_error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, PendingError> state_;
};

using Status = Outcome<Unit>;

}  // namespace quil
