// Error texts and conversions shared by every class, and the PanicException type.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>

#include "quil/common/panic.hpp"
#include "runtime/outcome.hpp"

namespace quil {

/// A new PanicException class, for an interpreter's state (InterpreterState::install):
/// it exists before any operation can fail, so raising one never has to make it, even
/// with the C stack nearly exhausted.
Outcome<py::Ref> new_panic_exception_type();

/// Raises `failure` as the current interpreter's PanicException carrying its message.
/// Never throws.
void raise_panic_exception(const Panic& failure) noexcept;

/// Whether the error currently raised may be discarded where the design discards errors (an
/// element comparison that fails counts as a difference, a repr that fails shows a
/// placeholder, an element that cannot be hashed gets a fixed message, a failing
/// isinstance means "no"). KeyboardInterrupt, SystemExit, MemoryError and RecursionError,
/// and their subclasses, may not: a program interrupted, exiting, out of memory or out of
/// stack must hear about it, not get a wrong answer. Every place that discards an error
/// asks here first and returns the error instead when the answer is no.
bool raised_error_is_discardable() noexcept;

/// "'{T}' object is not an instance of '{target}'" (TypeError), with "'None' is not an
/// instance of '{target}'" for None.
[[gnu::cold]] PendingError type_mismatch(PyObject* object, const char* target);

/// "expected tuple of length 2, but got tuple of length {N}" (ValueError).
[[gnu::cold]] PendingError wrong_pair_length(Py_ssize_t length);

/// The __qualname__ of the object's type, or "<failed to extract type name>".
std::string type_qualname(PyObject* object);

/// The text of an object inside a message: str(object). If str() fails with an error
/// that may be discarded, the error goes to the unraisable hook and the text is
/// "<unprintable {T} object>"; text that does not encode gets that text too. Other
/// errors are returned.
Outcome<std::string> object_text(PyObject* object);

/// "<unprintable {T} object>" for an object whose text could not be had. A pending error
/// (the failure of str() or repr()) goes to the unraisable hook first; when the text was
/// had but does not encode, there is none to report.
std::string unprintable(PyObject* object);

/// repr(object) as UTF-8, or `fallback` if repr fails with an error that may be discarded
/// or its text does not encode. Other errors are returned.
Outcome<std::string> repr_or(PyObject* object, std::string_view fallback);

/// Appends the result of calling the object's own __repr__ method, as UTF-8, or
/// `fallback` when the call raises an error that may be discarded, returns a non-str or
/// gives text that does not encode. Other errors are returned.
Status append_method_repr(std::string& out, PyObject* object, std::string_view fallback);

/// The UTF-8 of a str, its invalid parts (lone surrogates) each replaced by U+FFFD as
/// `text.encode("utf-8", "surrogatepass").decode("utf-8", "replace")` does.
Outcome<std::string> utf8_replacing_invalid(PyObject* text);

/// "PyErr { type: {X}, value: {Y}, traceback: {Z} }" for an exception object.
std::string error_text(PyObject* exception);

/// Strict boolean conversion of a comparison result: True/False, or a numpy boolean
/// through its type's nb_bool; anything else is a TypeError.
Outcome<bool> strict_bool(PyObject* object);

/// A UTF-8 view of a str object, or nullopt-like failure (returns false) when it does
/// not encode; the error is cleared.
bool utf8_of(PyObject* text, std::string_view& out) noexcept;

}  // namespace quil
