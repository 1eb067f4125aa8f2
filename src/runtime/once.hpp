// Cells filled once, on first use, each holding one Python object of one interpreter
// (collections.abc.Mapping in InterpreterState). A thread that finds the cell being
// filled waits on a PyMutex, which detaches it from the interpreter while it waits, so
// the filling thread (which may need the interpreter lock) can finish: no deadlock.
#pragma once

#include <Python.h>

#include <atomic>

#include "runtime/outcome.hpp"

namespace quil {

class OnceCell {
public:
    constexpr OnceCell() = default;
    OnceCell(const OnceCell&) = delete;
    OnceCell& operator=(const OnceCell&) = delete;
    /// Releases the object; the thread must be attached to the cell's interpreter.
    ~OnceCell() { Py_XDECREF(value_.load(std::memory_order_acquire)); }

    /// The cell's object (borrowed), or null while it is not filled.
    PyObject* get() const noexcept { return value_.load(std::memory_order_acquire); }

    /// The cell's object, filling it with `init()` first if need be. `init` returns a
    /// new reference, which the cell keeps until it is destroyed; a failure is returned
    /// and leaves the cell empty for a later attempt.
    template <class Init>
    Outcome<PyObject*> get_or_init(Init&& init) {
        if (PyObject* value = get()) [[likely]] {
            return value;
        }
        PyMutex_Lock(&mutex_);
        struct Unlock {
            PyMutex* mutex;
            ~Unlock() { PyMutex_Unlock(mutex); }
        } unlock{&mutex_};
        if (PyObject* value = get()) {
            return value;
        }
        Outcome<py::Ref> made = init();
        if (!made.ok()) {
            return std::move(made).take_error();
        }
        PyObject* value = std::move(made).take_value().release();
        value_.store(value, std::memory_order_release);
        return value;
    }

private:
    std::atomic<PyObject*> value_{nullptr};
    PyMutex mutex_{};
};

}  // namespace quil
