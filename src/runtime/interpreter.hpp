// What the module keeps for each interpreter that executes it: the type objects, the
// PanicException class, collections.abc.Mapping, the method names it calls by name and
// the deferred-release list.
//
// No Python object is shared between interpreters: each one (the main interpreter, a
// legacy subinterpreter sharing its lock, an isolated one with its own lock and object
// allocator) gets its own set, made by the first execution of the module in it and kept
// until the interpreter is torn down, so every module object of one interpreter (a
// re-import after `del sys.modules["quil"]`) shows the same classes. Objects cross
// interpreters only by pickling, so engine nodes are never reachable from two.
#pragma once

#include <Python.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "runtime/free_lists.hpp"
#include "runtime/once.hpp"
#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

struct ClassSpec;

/// Method names the module calls by name, interned once per interpreter.
enum class MethodName : unsigned char { kEq, kRepr, kAddNote, kRegister };

class InterpreterState;

namespace detail {
/// Changes whenever a state is added or removed. A cached answer is valid only for the
/// generation it was read in, so a thread never trusts a state that has been freed, nor
/// "none" for an interpreter that has since executed the module.
extern std::atomic<std::uint64_t> registry_generation;

struct CachedState {
    PyInterpreterState* interpreter;
    std::uint64_t generation;
    InterpreterState* state;
};
/// The calling thread's last answer of InterpreterState::current().
extern constinit thread_local CachedState cached_state __attribute__((tls_model("initial-exec")));

/// current() past the cache: looks the interpreter up in the registry and caches it.
InterpreterState* look_up_state(PyInterpreterState* interpreter,
                                std::uint64_t generation) noexcept;
}  // namespace detail

class InterpreterState {
public:
    /// The state of the interpreter the calling thread is attached to, or null when the
    /// module has not been executed in it, or the interpreter is being torn down past the
    /// point where its state is released. A thread-local cache answers repeated calls
    /// from one interpreter without locking; inline, since instance allocation and
    /// release ask on every step.
    static InterpreterState* current() noexcept {
        PyInterpreterState* interpreter = PyInterpreterState_Get();
        const std::uint64_t generation =
            detail::registry_generation.load(std::memory_order_acquire);
        const detail::CachedState& cache = detail::cached_state;
        if (cache.interpreter == interpreter && cache.generation == generation) [[likely]] {
            return cache.state;
        }
        return detail::look_up_state(interpreter, generation);
    }

    /// current(), which must exist: an internal failure otherwise.
    static InterpreterState& get();

    /// The current interpreter's state, made on the first call in this interpreter: a type
    /// object for each of `classes` (at its ClassSpec::index), the PanicException class and
    /// the method names. The state lives until the interpreter clears its dict at
    /// finalisation (a capsule there releases it).
    static Outcome<InterpreterState*> install(std::span<ClassSpec* const> classes);

    InterpreterState(const InterpreterState&) = delete;
    InterpreterState& operator=(const InterpreterState&) = delete;
    /// Releases every reference the state holds, deferred ones included. Runs attached.
    ~InterpreterState();

    /// The type object of the class whose ClassSpec::index is `index` (borrowed).
    PyTypeObject* type(std::size_t index) const noexcept {
        return reinterpret_cast<PyTypeObject*>(types_[index].get());
    }
    PyObject* panic_exception() const noexcept { return panic_exception_.get(); }
    /// collections.abc.Mapping, filled on first use (bridge/abc.cpp).
    OnceCell& abc_mapping() noexcept { return abc_mapping_; }
    /// Instance memory kept for reuse by this interpreter's objects (runtime/types.hpp).
    FreeLists& free_lists() noexcept { return free_lists_; }
    /// An interned str of this interpreter (borrowed).
    PyObject* name(MethodName which) const noexcept {
        return names_[static_cast<std::size_t>(which)].get();
    }

    /// Puts `object` on the deferred-release list of `interpreter`'s state, to be released
    /// by the next frame entered in that interpreter. Uses no C API, so a thread that is
    /// not attached may call it. An interpreter without a state (torn down past its last
    /// module) can no longer release anything safely: the reference is kept, a leak
    /// rather than a crash.
    static void defer_release(PyInterpreterState* interpreter, PyObject* object) noexcept;
    /// Releases everything on the list. The thread must be attached to this interpreter.
    void drain_deferred_releases() noexcept;

private:
    static constexpr std::size_t kNameCount = 4;

    InterpreterState() = default;

    std::vector<py::Ref> types_;
    FreeLists free_lists_;
    py::Ref panic_exception_;
    OnceCell abc_mapping_;
    std::array<py::Ref, kNameCount> names_;
    std::mutex deferred_mutex_;
    std::vector<PyObject*> deferred_;
};

}  // namespace quil
