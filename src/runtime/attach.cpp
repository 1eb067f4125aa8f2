// The attach count, the deferred-release list and callback attachment.
#include "runtime/attach.hpp"

#include <mutex>
#include <utility>
#include <vector>

#include "quil/common/panic.hpp"

namespace quil {

namespace detail {

constinit thread_local std::intptr_t attach_count __attribute__((tls_model("initial-exec"))) = 0;
std::atomic<bool> deferred_pending{false};

namespace {
// Never destroyed: references may be deferred during process teardown.
std::mutex& deferred_mutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::vector<PyObject*>& deferred_list() {
    static auto* list = new std::vector<PyObject*>;
    return *list;
}
}  // namespace

void defer_release(PyObject* object) noexcept {
    std::lock_guard lock(deferred_mutex());
    deferred_list().push_back(object);
    deferred_pending.store(true, std::memory_order_relaxed);
}

void drain_deferred_releases() noexcept {
    std::vector<PyObject*> taken;
    {
        std::lock_guard lock(deferred_mutex());
        taken.swap(deferred_list());
        deferred_pending.store(false, std::memory_order_relaxed);
    }
    for (PyObject* object : taken) {
        Py_DECREF(object);
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
