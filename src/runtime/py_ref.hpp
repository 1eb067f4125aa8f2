// Owners of Python references.
//
// py::Ref owns one reference for code that runs inside a call frame (the thread is
// attached). py::HeldRef is the strong reference engine structures store: it can be
// cloned like any engine handle, and its release goes through release_reference so
// that a thread that is not attached defers the decrement instead of doing it.
// A bare PyObject* is always borrowed.
#pragma once

#include <Python.h>

#include <utility>

#include "runtime/attach.hpp"

namespace quil::py {

class Ref {
public:
    Ref() noexcept = default;
    /// Takes over a reference the caller owns (a "new reference" from the C API).
    [[nodiscard]] static Ref steal(PyObject* object) noexcept { return Ref(object); }
    /// Takes a new reference to a borrowed object.
    [[nodiscard]] static Ref borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    void swap(Ref& other) noexcept { std::swap(object_, other.object_); }
    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    /// Gives the reference away; the caller owns it afterwards.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}

    PyObject* object_ = nullptr;
};

/// The strong reference stored in engine structures (list elements, trie values).
/// Default-made is "absent" (null), which the engine uses for empty slots.
class HeldRef {
public:
    HeldRef() noexcept = default;
    /// Takes a new reference to a borrowed object.
    [[nodiscard]] static HeldRef borrow(PyObject* object) noexcept {
        Py_INCREF(object);
        return HeldRef(object);
    }
    /// Takes over the reference `ref` owns.
    [[nodiscard]] static HeldRef from(Ref&& ref) noexcept { return HeldRef(ref.release()); }

    HeldRef(const HeldRef& other) noexcept : object_(other.object_) { Py_XINCREF(object_); }
    HeldRef(HeldRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    HeldRef& operator=(const HeldRef& other) noexcept {
        HeldRef(other).swap(*this);
        return *this;
    }
    HeldRef& operator=(HeldRef&& other) noexcept {
        HeldRef(std::move(other)).swap(*this);
        return *this;
    }
    ~HeldRef() {
        if (object_ != nullptr) {
            release_reference(object_);
        }
    }

    void swap(HeldRef& other) noexcept { std::swap(object_, other.object_); }
    PyObject* get() const noexcept { return object_; }
    /// Gives the reference away; the caller owns it afterwards.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    /// A new reference for handing to Python.
    Ref ref() const noexcept { return Ref::borrow(object_); }
    /// Starts loading the object's header (the engine calls it on a found value).
    void prefetch() const noexcept { __builtin_prefetch(object_, 1); }

private:
    explicit HeldRef(PyObject* object) noexcept : object_(object) {}

    PyObject* object_ = nullptr;
};

}  // namespace quil::py
