// The per-interpreter states: their registry, the thread-local cache in front of it,
// their making at the execution step and their release at interpreter finalisation.
#include "runtime/interpreter.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <utility>

#include "quil/common/panic.hpp"
#include "runtime/attach.hpp"
#include "runtime/errors.hpp"
#include "runtime/types.hpp"

namespace quil {

namespace {

constexpr const char* kCapsuleName = "quil.InterpreterState";

constexpr const char* kMethodNames[] = {"__eq__", "__repr__", "add_note", "register"};

/// Every live state, by interpreter. Guarded by its mutex; never destroyed, since
/// interpreters may be torn down during process exit.
struct Registry {
    std::mutex mutex;
    std::vector<std::pair<PyInterpreterState*, InterpreterState*>> states;
};

Registry& registry() {
    static auto* instance = new Registry;
    return *instance;
}

using detail::registry_generation;

InterpreterState* lookup(PyInterpreterState* interpreter) noexcept {
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    for (const auto& [owner, state] : all.states) {
        if (owner == interpreter) {
            return state;
        }
    }
    return nullptr;
}

/// Adds `state` unless its interpreter already has one; returns the interpreter's state.
InterpreterState* register_state(PyInterpreterState* interpreter, InterpreterState* state) {
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    for (const auto& [owner, existing] : all.states) {
        if (owner == interpreter) {
            return existing;
        }
    }
    all.states.emplace_back(interpreter, state);
    registry_generation.fetch_add(1, std::memory_order_acq_rel);
    return state;
}

void unregister_state(InterpreterState* state) noexcept {
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    std::erase_if(all.states, [state](const auto& entry) { return entry.second == state; });
    registry_generation.fetch_add(1, std::memory_order_acq_rel);
}

/// The capsule's destructor, run when the interpreter clears its dict: after its modules
/// are gone and its last Python code has run, with the finalising thread attached.
void release_state(PyObject* capsule) noexcept {
    auto* state = static_cast<InterpreterState*>(PyCapsule_GetPointer(capsule, kCapsuleName));
    if (state == nullptr) {
        PyErr_Clear();
        return;
    }
    unregister_state(state);
    delete state;
}

}  // namespace

namespace detail {

std::atomic<std::uint64_t> registry_generation{1};
constinit thread_local CachedState cached_state
    __attribute__((tls_model("initial-exec"))) = {nullptr, 0, nullptr};

InterpreterState* look_up_state(PyInterpreterState* interpreter,
                                std::uint64_t generation) noexcept {
    InterpreterState* state = lookup(interpreter);
    cached_state = {interpreter, generation, state};
    return state;
}

}  // namespace detail

InterpreterState& InterpreterState::get() {
    InterpreterState* state = current();
    if (state == nullptr) [[unlikely]] {
        panic("quil is not initialised in this interpreter");
    }
    return *state;
}

Outcome<InterpreterState*> InterpreterState::install(std::span<ClassSpec* const> classes) {
    if (InterpreterState* existing = current()) [[likely]] {
        return existing;
    }
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    std::unique_ptr<InterpreterState> state(new InterpreterState);
    state->types_.resize(classes.size());
    for (const ClassSpec* spec : classes) {
        auto type = create_type(*spec);
        if (!type.ok()) {
            return std::move(type).take_error();
        }
        state->types_[spec->index] = std::move(type).take_value();
    }
    auto panic_type = new_panic_exception_type();
    if (!panic_type.ok()) {
        return std::move(panic_type).take_error();
    }
    state->panic_exception_ = std::move(panic_type).take_value();
    static_assert(std::size(kMethodNames) == kNameCount, "one text per MethodName");
    for (std::size_t i = 0; i < kNameCount; ++i) {
        state->names_[i] = py::Ref::steal(PyUnicode_InternFromString(kMethodNames[i]));
        if (!state->names_[i]) {
            return PendingError::fetch();
        }
    }

    // The capsule in the interpreter's dict is the state's owner from here on: clearing
    // the dict at finalisation releases it.
    PyObject* dict = PyInterpreterState_GetDict(interpreter);
    if (dict == nullptr) {
        return PendingError::message(PyExc_SystemError, "the interpreter keeps no dict");
    }
    py::Ref capsule = py::Ref::steal(PyCapsule_New(state.get(), kCapsuleName, release_state));
    if (!capsule) {
        return PendingError::fetch();
    }
    InterpreterState* made = state.release();
    InterpreterState* installed = register_state(interpreter, made);
    if (installed != made) {
        // Another thread of this interpreter got there first: ours is dropped with the
        // capsule, unregistered (a no-op) and freed.
        return installed;
    }
    if (PyDict_SetItemString(dict, kCapsuleName, capsule.get()) < 0) {
        return PendingError::fetch();  // dropping the capsule unregisters and frees the state
    }
    return made;
}

InterpreterState::~InterpreterState() {
    drain_deferred_releases();
    // Objects freed from here on (the state is unregistered) go straight back to the
    // allocator; those waiting go now.
    free_lists_.release();
}

void InterpreterState::defer_release(PyInterpreterState* interpreter, PyObject* object) noexcept {
    // Under the registry's lock, so that the state cannot be released in between: once
    // unregistered, it takes no more, and its destructor drains what it has.
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    for (const auto& [owner, state] : all.states) {
        if (owner == interpreter) {
            std::lock_guard deferred_lock(state->deferred_mutex_);
            state->deferred_.push_back(object);
            detail::deferred_waiting.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
}

void InterpreterState::drain_deferred_releases() noexcept {
    std::vector<PyObject*> taken;
    {
        std::lock_guard lock(deferred_mutex_);
        taken.swap(deferred_);
        detail::deferred_waiting.fetch_sub(taken.size(), std::memory_order_relaxed);
    }
    for (PyObject* object : taken) {
        Py_DECREF(object);
    }
}

}  // namespace quil
