// Pending errors, PanicException and the shared error texts.
#include "runtime/errors.hpp"

#include <cstdio>
#include <cstring>

#include "runtime/interpreter.hpp"

namespace quil {

namespace {

constexpr const char* kPanicDoc =
    "Raised when quil's native code fails an internal check.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that it "
    "usually propagates to the top and ends the interpreter instead of being caught by "
    "a generic handler.";

/// The UTF-8 of `text`, str() or repr() of `object` (a new reference, null when the call
/// failed), or unprintable(object) when there is none or it does not encode.
std::string text_or_unprintable(const py::Ref& text, PyObject* object) {
    std::string_view view;
    if (text && utf8_of(text.get(), view)) {
        return std::string(view);
    }
    return unprintable(object);
}

std::string repr_for_error_text(PyObject* object) {
    return text_or_unprintable(py::Ref::steal(PyObject_Repr(object)), object);
}

}  // namespace

bool utf8_of(PyObject* text, std::string_view& out) noexcept {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {
        PyErr_Clear();
        return false;
    }
    out = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

Outcome<py::Ref> new_panic_exception_type() {
    PyObject* type = PyErr_NewExceptionWithDoc("vexa_runtime.PanicException", kPanicDoc,
                                               PyExc_BaseException, nullptr);
    if (type == nullptr) {
        return PendingError::fetch();
    }
    return py::Ref::steal(type);
}

void raise_panic_exception(const Panic& failure) noexcept {
    // Only an interpreter whose state is gone (torn down past its last module) has no
    // PanicException; the failure is still reported, as a SystemError.
    const InterpreterState* state = InterpreterState::current();
    PyObject* type = state != nullptr ? state->panic_exception() : PyExc_SystemError;
    const std::string& message =
        failure.message().empty() ? std::string(kMissingValue) : failure.message();
    py::Ref text = py::Ref::steal(PyUnicode_DecodeUTF8(
        message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    py::Ref args = text ? py::Ref::steal(PyTuple_Pack(1, text.get())) : py::Ref();
    if (!args) {
        fatal("could not build the PanicException for an internal failure");
    }
    PyErr_SetObject(type, args.get());
}

PendingError PendingError::fetch() {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised == nullptr) {
        return message(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    py::Ref exception = py::Ref::steal(raised);
    const InterpreterState* state = InterpreterState::current();
    if (state == nullptr ||
        !Py_IS_TYPE(exception.get(), reinterpret_cast<PyTypeObject*>(state->panic_exception()))) {
        return ready(std::move(exception));
    }
    // Python code the module called raised PanicException: resume it as an internal
    // failure of the current operation, keeping its message.
    std::string text = "Unwrapped panic from Python code";
    if (py::Ref str = py::Ref::steal(PyObject_Str(exception.get()))) {
        std::string_view view;
        if (utf8_of(str.get(), view)) {
            text = std::string(view);
        }
    } else {
        PyErr_Clear();
    }
    std::fputs("quil: resuming an internal failure raised by Python code:\n", stderr);
    PyErr_SetRaisedException(exception.release());
    PyErr_PrintEx(0);
    throw Panic(std::move(text), __builtin_FILE(), __builtin_LINE());
}

void PendingError::raise() && {
    switch (kind_) {
        case Kind::Ready:
            PyErr_SetRaisedException(value_.release());
            return;
        case Kind::Object:
        case Kind::Message: {
            if (!PyExceptionClass_Check(type_)) {
                PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
                return;
            }
            py::Ref value = kind_ == Kind::Object
                                ? std::move(value_)
                                : py::Ref::steal(PyUnicode_DecodeUTF8(
                                      text_.data(), static_cast<Py_ssize_t>(text_.size()),
                                      "replace"));
            if (!value) {
                return;  // the failure to make the text is the error raised
            }
            PyErr_SetObject(type_, value.get());
            return;
        }
    }
}

py::Ref PendingError::into_exception() && {
    std::move(*this).raise();
    return py::Ref::steal(PyErr_GetRaisedException());
}

PendingError PendingError::with_note(const char* argument) && {
    if (kind_ != Kind::Ready) {
        py::Ref raised = std::move(*this).into_exception();
        if (!raised) {
            return message(PyExc_SystemError, "attempted to fetch exception but none was set");
        }
        value_ = std::move(raised);
        kind_ = Kind::Ready;
    }
    py::Ref note = py::Ref::steal(PyUnicode_FromFormat("while processing '%s'", argument));
    py::Ref result;
    if (note) {
        PyObject* call_args[] = {value_.get(), note.get()};
        result = py::Ref::steal(
            PyObject_VectorcallMethod(InterpreterState::get().name(MethodName::kAddNote), call_args,
                                      2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    }
    if (!result) {
        // The note is a courtesy; the conversion error still stands, unless what stopped
        // the note must be heard.
        if (!raised_error_is_discardable()) {
            return fetch();
        }
        PyErr_Clear();
    }
    return std::move(*this);
}

bool PendingError::matches(PyObject* type) const {
    if (kind_ == Kind::Ready) {
        return PyErr_GivenExceptionMatches(value_.get(), type) != 0;
    }
    return PyErr_GivenExceptionMatches(type_, type) != 0;
}

std::string type_qualname(PyObject* object) {
    py::Ref name = py::Ref::steal(PyType_GetQualName(Py_TYPE(object)));
    std::string_view view;
    if (name && utf8_of(name.get(), view)) {
        return std::string(view);
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

PendingError type_mismatch(PyObject* object, const char* target) {
    if (object == Py_None) {
        return PendingError::message(PyExc_TypeError,
                                     "'None' is not an instance of '" + std::string(target) + "'");
    }
    return PendingError::message(PyExc_TypeError, "'" + type_qualname(object) +
                                                      "' object is not an instance of '" +
                                                      target + "'");
}

PendingError wrong_pair_length(Py_ssize_t length) {
    return PendingError::message(
        PyExc_ValueError,
        "expected tuple of length 2, but got tuple of length " + std::to_string(length));
}

bool raised_error_is_discardable() noexcept {
    return !(PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) ||
             PyErr_ExceptionMatches(PyExc_SystemExit) ||
             PyErr_ExceptionMatches(PyExc_MemoryError) ||
             PyErr_ExceptionMatches(PyExc_RecursionError));
}

std::string unprintable(PyObject* object) {
    if (PyErr_Occurred() != nullptr) {
        PyErr_WriteUnraisable(object);
    }
    py::Ref name = py::Ref::steal(PyType_GetName(Py_TYPE(object)));
    std::string_view view;
    if (name && utf8_of(name.get(), view)) {
        return "<unprintable " + std::string(view) + " object>";
    }
    PyErr_Clear();
    return "<unprintable object>";
}

Outcome<std::string> object_text(PyObject* object) {
    py::Ref text = py::Ref::steal(PyObject_Str(object));
    if (!text && !raised_error_is_discardable()) {
        return PendingError::fetch();
    }
    return text_or_unprintable(text, object);
}

Outcome<std::string> repr_or(PyObject* object, std::string_view fallback) {
    py::Ref repr = py::Ref::steal(PyObject_Repr(object));
    if (!repr) {
        if (!raised_error_is_discardable()) {
            return PendingError::fetch();
        }
        PyErr_Clear();
        return std::string(fallback);
    }
    std::string_view view;
    return utf8_of(repr.get(), view) ? std::string(view) : std::string(fallback);
}

Status append_method_repr(std::string& out, PyObject* object, std::string_view fallback) {
    PyObject* call_args[] = {object};
    py::Ref result = py::Ref::steal(
        PyObject_VectorcallMethod(InterpreterState::get().name(MethodName::kRepr), call_args,
                                  1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!result) {
        if (!raised_error_is_discardable()) {
            return PendingError::fetch();
        }
        PyErr_Clear();
        out.append(fallback);
        return Unit{};
    }
    std::string_view view;
    if (PyUnicode_Check(result.get()) && utf8_of(result.get(), view)) {
        out.append(view);
    } else {
        out.append(fallback);
    }
    return Unit{};
}

Outcome<std::string> utf8_replacing_invalid(PyObject* text) {
    std::string_view view;
    if (utf8_of(text, view)) [[likely]] {
        return std::string(view);
    }
    // Lone surrogates pass through as their three-byte forms, which are not UTF-8; the
    // decoder then replaces each invalid byte, as Python's own codecs do.
    py::Ref bytes = py::Ref::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    py::Ref replaced =
        bytes ? py::Ref::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()),
                                                    PyBytes_GET_SIZE(bytes.get()), "replace"))
              : py::Ref();
    if (!replaced) {
        return PendingError::fetch();
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(replaced.get(), &size);
    if (data == nullptr) {
        return PendingError::fetch();
    }
    return std::string(data, static_cast<std::size_t>(size));
}

std::string error_text(PyObject* exception) {
    std::string text = "PyErr { type: ";
    text += repr_for_error_text(reinterpret_cast<PyObject*>(Py_TYPE(exception)));
    text += ", value: ";
    text += repr_for_error_text(exception);
    text += ", traceback: ";
    py::Ref traceback = py::Ref::steal(PyException_GetTraceback(exception));
    if (traceback) {
        text += "Some(" + repr_for_error_text(traceback.get()) + ")";
    } else {
        text += "None";
    }
    text += " }";
    return text;
}

Outcome<bool> strict_bool(PyObject* object) {
    if (object == Py_True) {
        return true;
    }
    if (object == Py_False) {
        return false;
    }
    PyTypeObject* type = Py_TYPE(object);
    py::Ref module = py::Ref::steal(PyType_GetModuleName(type));
    py::Ref name = py::Ref::steal(PyType_GetName(type));
    std::string_view module_text;
    std::string_view name_text;
    const bool numpy_bool = module && name && utf8_of(module.get(), module_text) &&
                            utf8_of(name.get(), name_text) && module_text == "numpy" &&
                            (name_text == "bool_" || name_text == "bool");
    PyErr_Clear();
    if (!numpy_bool) {
        return type_mismatch(object, "bool");
    }
    inquiry to_bool = type->tp_as_number != nullptr ? type->tp_as_number->nb_bool : nullptr;
    if (to_bool == nullptr) {
        auto type_text = object_text(reinterpret_cast<PyObject*>(type));
        if (!type_text.ok()) {
            return std::move(type_text).take_error();
        }
        return PendingError::message(
            PyExc_TypeError,
            "object of type '" + type_text.value() + "' does not define a '__bool__' conversion");
    }
    const int truth = to_bool(object);
    if (truth == 0 || truth == 1) {
        return truth == 1;
    }
    return PendingError::fetch();
}

}  // namespace quil
