// Thread attachment bookkeeping for calls into the module.
//
// Each thread counts how deeply it is inside the module's call frames. A positive
// count means the thread is attached to the interpreter and may touch reference
// counts; a reference released with a count of zero (a thread that is not attached)
// goes to its interpreter's deferred-release list (InterpreterState), which the next
// frame entered in that interpreter, on any thread, drains.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quil {

namespace detail {

/// The thread's attach count: > 0 inside a frame (or a callback attachment), 0 outside.
/// Initial-exec: one instruction per access on the hot path of every call. The module
/// uses a few bytes of the static TLS surplus that the C library keeps for dlopen.
extern constinit thread_local std::intptr_t attach_count __attribute__((tls_model("initial-exec")));
/// References waiting on the deferred-release lists of all interpreters. Zero nearly
/// always, so a frame entry only reads it.
extern std::atomic<std::size_t> deferred_waiting;
/// Drains the current interpreter's list.
void drain_deferred_releases() noexcept;
void defer_release(PyObject* object) noexcept;
}  // namespace detail

/// Marks the current thread as inside a call frame for the scope's lifetime and
/// drains the interpreter's deferred-release list on entry.
class AttachScope {
public:
    AttachScope() noexcept {
        ++detail::attach_count;
        if (detail::deferred_waiting.load(std::memory_order_relaxed) != 0) [[unlikely]] {
            detail::drain_deferred_releases();
        }
    }
    ~AttachScope() { --detail::attach_count; }
    AttachScope(const AttachScope&) = delete;
    AttachScope& operator=(const AttachScope&) = delete;
};

/// For code that runs outside a frame but needs the interpreter (key comparisons
/// called from the engine). Inside a frame it only adds to the count; otherwise it
/// attaches with PyGILState_Ensure, and fails with an internal failure while the
/// interpreter is finalizing.
class CallbackAttach {
public:
    CallbackAttach();
    ~CallbackAttach();
    CallbackAttach(const CallbackAttach&) = delete;
    CallbackAttach& operator=(const CallbackAttach&) = delete;

private:
    bool ensured_ = false;
    PyGILState_STATE state_{};
};

/// Releases one reference: at once when the thread is attached, later otherwise.
inline void release_reference(PyObject* object) noexcept {
    if (detail::attach_count > 0) [[likely]] {
        Py_DECREF(object);
    } else {
        detail::defer_release(object);
    }
}

}  // namespace quil
