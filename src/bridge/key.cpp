// Key equality: the bridge from the trie's eq to Python's __eq__.
#include "bridge/key.hpp"

#include <new>
#include <utility>

#include "quil/common/panic.hpp"
#include "runtime/attach.hpp"
#include "runtime/errors.hpp"
#include "runtime/interpreter.hpp"

namespace quil {

namespace {

/// Whether a QuietComparisons scope is open on this thread.
thread_local bool quiet_comparisons = false;

/// Exact built-in types whose __eq__ is their own rich comparison slot: calling the slot
/// directly gives the answer __eq__ would, without the method lookup. (Their types are
/// immutable, so the slot cannot be replaced.)
bool compares_by_own_slot(PyTypeObject* type) noexcept {
    return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type ||
           type == &PyBytes_Type || type == &PyTuple_Type || type == &PyFrozenSet_Type ||
           type == &PyBool_Type || type == &PyComplex_Type;
}

/// `self.__eq__(other)`: a new reference, or null with the error set.
PyObject* call_eq(PyObject* self, PyObject* other) {
    if (compares_by_own_slot(Py_TYPE(self))) [[likely]] {
        return Py_TYPE(self)->tp_richcompare(self, other, Py_EQ);
    }
    PyObject* args[] = {self, other};
    return PyObject_VectorcallMethod(InterpreterState::get().name(MethodName::kEq), args,
                                     2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

/// The internal failure for a failed comparison, carrying the Python error's text. (A
/// PanicException raised inside __eq__ never gets here: fetching it resumes it.) Running
/// out of memory is no fault of the key: a MemoryError unwinds as the engine's own
/// allocation failures do, and the call frame raises MemoryError.
[[noreturn, gnu::cold]] void eq_failed(PendingError error) {
    if (error.matches(PyExc_MemoryError)) {
        throw std::bad_alloc();
    }
    py::Ref exception = std::move(error).into_exception();
    panic("__eq__ failed!: " + (exception ? error_text(exception.get()) : std::string()));
}

}  // namespace

QuietComparisons::QuietComparisons() noexcept : outer_(std::exchange(quiet_comparisons, true)) {}
QuietComparisons::~QuietComparisons() { quiet_comparisons = outer_; }

bool Key::bytes_compare_quietly() noexcept {
    // The option is fixed at start-up, so it is read once.
    static const bool quiet = [] {
        int warning = 1;
        if (PyConfig_GetInt("bytes_warning", &warning) < 0) {
            PyErr_Clear();
            return false;
        }
        return warning == 0;
    }();
    return quiet;
}

bool Key::equals_by_call(const Key& probe) const {
    PyObject* stored = object();
    PyObject* other = probe.object();
    if (Py_IS_TYPE(stored, &PyUnicode_Type) && Py_IS_TYPE(other, &PyUnicode_Type)) [[likely]] {
        // str.__eq__ between exact strs answers what PyUnicode_Equal does, runs no code
        // and cannot fail, so nobody can tell the call was not made.
        return PyUnicode_Equal(stored, other) == 1;
    }
    // The thread-local flag is read last: most comparisons that get here are between
    // inert keys (equal ints that are distinct objects, say), and skip it.
    if (!(is_inert(Py_TYPE(stored)) && is_inert(Py_TYPE(other))) && quiet_comparisons) {
        throw LoudComparison{};
    }
    CallbackAttach attach;
    py::Ref result = py::Ref::steal(call_eq(stored, other));
    if (result.get() == Py_NotImplemented) {
        // As the == operator does: ask the other side, then fall back to identity.
        result = py::Ref::steal(call_eq(other, stored));
        if (result.get() == Py_NotImplemented) {
            return stored == other;
        }
    }
    if (!result) [[unlikely]] {
        eq_failed(PendingError::fetch());
    }
    if (result.get() == Py_True) [[likely]] {
        return true;
    }
    if (result.get() == Py_False) {
        return false;
    }
    auto truth = strict_bool(result.get());
    if (!truth.ok()) {
        eq_failed(std::move(truth).take_error());
    }
    return truth.value();
}

}  // namespace quil
