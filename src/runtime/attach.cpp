// Attach counts, deferred releases and callback attachment.
#include "runtime/attach.hpp"

#include "quil/common/panic.hpp"
#include "runtime/interpreter.hpp"

namespace quil {

namespace detail {

constinit thread_local std::intptr_t attach_count __attribute__((tls_model("initial-exec"))) = 0;
std::atomic<std::size_t> deferred_waiting{0};

void defer_release(PyObject* object) noexcept {
    // The object belongs to the interpreter the thread runs in: that of its current thread
    // state, else of the one the C API recorded for the thread. A thread the C API knows
    // nothing about is taken to work for the main interpreter, where PyGILState_Ensure
    // would attach it.
    PyThreadState* thread = PyThreadState_GetUnchecked();
    if (thread == nullptr) {
        thread = PyGILState_GetThisThreadState();
    }
    InterpreterState::defer_release(
        thread != nullptr ? PyThreadState_GetInterpreter(thread) : PyInterpreterState_Main(),
        object);
}

void drain_deferred_releases() noexcept {
    if (InterpreterState* state = InterpreterState::current()) {
        state->drain_deferred_releases();
    }
}

}  // namespace detail

CallbackAttach::CallbackAttach() {
    if (detail::attach_count > 0) {
        ++detail::attach_count;
        return;
    }
    if (!Py_IsInitialized() || Py_IsFinalizing()) {
        panic("Cannot attach to the Python interpreter while it is finalizing.");
    }
    state_ = PyGILState_Ensure();
    ensured_ = true;
    ++detail::attach_count;
}

CallbackAttach::~CallbackAttach() {
    --detail::attach_count;
    if (ensured_) {
        PyGILState_Release(state_);
    }
}

}  // namespace quil
