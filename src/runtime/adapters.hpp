// The adapter family: every entry point CPython calls in this module is one of these
// noexcept function templates over run_frame. Each adapts one calling convention and
// its error sentinel, and nothing else; the implementations are ordinary typed
// functions returning Outcome<T>.
//
//   form         used for                          implementation signature
//   unary        tp_iter, tp_iternext              Outcome<py::Ref>(PyObject* self)
//   repr         tp_repr                           Outcome<py::Ref>(PyObject* self)
//   noargs       METH_NOARGS methods               Outcome<py::Ref>(PyObject* self)
//   getter       tp_getset getters                 Outcome<py::Ref>(PyObject* self)
//   binary       mp_subscript, nb_and/or/xor/sub,  Outcome<py::Ref>(PyObject*, PyObject*)
//                METH_O methods
//   contains     sq_contains                       Outcome<bool>(PyObject*, PyObject*)
//   store        mp_ass_subscript                  Status(PyObject* self, PyObject* key,
//                                                         PyObject* value), value null: del
//   length       mp_length, sq_length              Outcome<Py_ssize_t>(PyObject*)
//   hash         tp_hash                           Outcome<Py_hash_t>(PyObject*)
//   richcompare  tp_richcompare                    Outcome<py::Ref>(PyObject*, PyObject*, int)
//   fastcall     METH_FASTCALL | METH_KEYWORDS     Outcome<py::Ref>(PyObject*, const ParsedArgs&)
//                (+METH_CLASS)
//   tuplecall    METH_VARARGS | METH_KEYWORDS      Outcome<py::Ref>(PyObject*, PyObject*,
//                                                                   PyObject*)
//   constructor  tp_new                            Outcome<py::Ref>(PyTypeObject*,
//                                                                   const ParsedArgs&)
//   exec_step    Py_mod_exec                       Status(PyObject* module)
//   leaf_next    tp_iternext of a walk that runs   PyObject*(PyObject* self) noexcept,
//                no Python code (list, stack)       a new reference or null at the end
//
// fastcall and constructor parse against a static ArgumentSpec first (args.hpp).
//
// leaf_next is the one form without run_frame, and it is equivalent to running the same
// step inside one: the implementation is noexcept (checked), so there is nothing to
// catch; it cannot fail short of ending the process, so there is no outcome to raise; it
// releases no reference, so the attach count, which only decides whether a release is
// done or deferred, has nothing to decide; and the deferred releases a frame entry would
// have drained wait for the next frame. What it saves is a third of a list iterator's
// step.
//
// repr, hash and richcompare reach the elements' own repr, hash and ==, so a collection
// nested in a collection nested in ... recurses through them, one C frame or more per
// level; they enter the interpreter's recursion guard, which raises RecursionError
// before the C stack runs out (as tuple and frozenset do) instead of letting it overflow.
//
// An empty py::Ref as a success value means "no result, no error": tp_iternext uses
// it for the end of iteration.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

#include "quil/common/panic.hpp"
#include "runtime/args.hpp"
#include "runtime/attach.hpp"
#include "runtime/errors.hpp"
#include "runtime/outcome.hpp"

namespace quil {

namespace detail {

template <class R>
constexpr R error_sentinel() noexcept {
    if constexpr (std::is_pointer_v<R>) {
        return nullptr;
    } else {
        return -1;
    }
}

inline PyObject* to_cpython(py::Ref value) noexcept { return value.release(); }
inline int to_cpython(bool value) noexcept { return value ? 1 : 0; }
inline int to_cpython(Unit) noexcept { return 0; }
inline Py_ssize_t to_cpython(Py_ssize_t value) noexcept { return value; }

}  // namespace detail

/// Every call from CPython into the module passes through here: attach, run the body,
/// and map its outcome to a CPython result or a raised exception. Nothing unwinds into
/// the interpreter. Running out of memory anywhere in the body (std::bad_alloc, from the
/// engine's heap or the standard library) raises MemoryError: every operation has left
/// its receiver as it was by the time the exception gets here.
template <class R, class Body>
R run_frame(Body&& body) noexcept {
    AttachScope attach;
    try {
        auto outcome = std::forward<Body>(body)();
        if (outcome.ok()) {
            return static_cast<R>(detail::to_cpython(std::move(outcome).take_value()));
        }
        std::move(outcome).take_error().raise();
    } catch (const Panic& failure) {
        raise_panic_exception(failure);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        fatal("uncaught panic at ffi boundary");
    }
    return detail::error_sentinel<R>();
}

/// run_frame inside the interpreter's recursion guard (Py_EnterRecursiveCall): for the
/// slots through which nested collections recurse. `where` completes the RecursionError
/// message.
template <class R, class Body>
R run_guarded_frame(const char* where, Body&& body) noexcept {
    if (Py_EnterRecursiveCall(where) != 0) [[unlikely]] {
        return detail::error_sentinel<R>();
    }
    R result = run_frame<R>(std::forward<Body>(body));
    Py_LeaveRecursiveCall();
    return result;
}

template <auto Impl>
PyObject* unary(PyObject* self) noexcept {
    return run_frame<PyObject*>([&] { return Impl(self); });
}

template <auto Impl>
PyObject* repr(PyObject* self) noexcept {
    return run_guarded_frame<PyObject*>(" while getting the repr of an object",
                                        [&] { return Impl(self); });
}

template <auto Impl>
PyObject* noargs(PyObject* self, PyObject* /*unused*/) noexcept {
    return run_frame<PyObject*>([&] { return Impl(self); });
}

template <auto Impl>
PyObject* getter(PyObject* self, void* /*closure*/) noexcept {
    return run_frame<PyObject*>([&] { return Impl(self); });
}

template <auto Impl>
PyObject* binary(PyObject* self, PyObject* other) noexcept {
    return run_frame<PyObject*>([&] { return Impl(self, other); });
}

template <auto Impl>
int contains(PyObject* self, PyObject* item) noexcept {
    return run_frame<int>([&] { return Impl(self, item); });
}

template <auto Impl>
int store(PyObject* self, PyObject* key, PyObject* value) noexcept {
    return run_frame<int>([&] { return Impl(self, key, value); });
}

template <auto Impl>
Py_ssize_t length(PyObject* self) noexcept {
    return run_frame<Py_ssize_t>([&] { return Impl(self); });
}

/// A computed -1 is reported as -2: -1 is CPython's error sentinel for hashes.
template <auto Impl>
Py_hash_t hash(PyObject* self) noexcept {
    return run_guarded_frame<Py_hash_t>(" while hashing an object", [&]() -> Outcome<Py_ssize_t> {
        auto outcome = Impl(self);
        if (!outcome.ok()) {
            return std::move(outcome).take_error();
        }
        const Py_hash_t value = outcome.value();
        return value == -1 ? -2 : value;
    });
}

template <auto Impl>
PyObject* richcompare(PyObject* self, PyObject* other, int op) noexcept {
    return run_guarded_frame<PyObject*>(" in comparison", [&] { return Impl(self, other, op); });
}

template <const ArgumentSpec& Spec, auto Impl>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) noexcept {
    return run_frame<PyObject*>([&]() -> Outcome<py::Ref> {
        auto parsed = parse_fastcall(Spec, args, nargs, kwnames);
        if (!parsed.ok()) {
            return std::move(parsed).take_error();
        }
        return Impl(self, parsed.value());
    });
}

template <auto Impl>
PyObject* tuplecall(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return run_frame<PyObject*>([&] { return Impl(self, args, kwargs); });
}

template <const ArgumentSpec& Spec, auto Impl>
PyObject* constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return run_frame<PyObject*>([&]() -> Outcome<py::Ref> {
        auto parsed = parse_tuple(Spec, args, kwargs);
        if (!parsed.ok()) {
            return std::move(parsed).take_error();
        }
        return Impl(type, parsed.value());
    });
}

template <auto Impl>
PyObject* leaf_next(PyObject* self) noexcept {
    static_assert(noexcept(Impl(self)), "a leaf step must not throw: it has no frame to catch it");
    return Impl(self);
}

template <auto Impl>
int exec_step(PyObject* module) noexcept {
    return run_frame<int>([&] { return Impl(module); });
}

/// The one function-pointer cast of the module: method tables store every calling
/// form as a PyCFunction.
template <class F>
PyCFunction as_pycfunction(F* function) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

/// A slot entry's function pointer.
template <class F>
void* as_slot(F* function) noexcept {
    return reinterpret_cast<void*>(function);
}

}  // namespace quil
