// Key: a Python object with its Python hash, computed once. Map keys and set elements
// are Keys; the trie engine sees only hash_feed() and equals().
#pragma once

#include <Python.h>

#include <cstdint>

#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

class Key {
public:
    Key() = default;

    /// Hashes `object` (its __hash__ runs here and never again for this Key).
    static Outcome<Key> make(PyObject* object) {
        const Py_hash_t hash = PyObject_Hash(object);
        if (hash == -1) [[unlikely]] {
            return PendingError::fetch();
        }
        return Key(py::HeldRef::borrow(object), hash);
    }
    /// make(), with a failure annotated "while processing '{argument}'".
    static Outcome<Key> make_argument(PyObject* object, const char* argument) {
        auto key = make(object);
        if (!key.ok()) [[unlikely]] {
            return std::move(key).take_error().with_note(argument);
        }
        return key;
    }
    /// A Key for an object whose hash is already known (moving between sets).
    Key(py::HeldRef object, Py_hash_t hash) noexcept : object_(std::move(object)), hash_(hash) {}

    PyObject* object() const noexcept { return object_.get(); }
    Py_hash_t hash() const noexcept { return hash_; }

    /// The engine hashes these 8 bytes (little-endian) under the map's keys. Changing
    /// this changes every trie shape and iteration order.
    std::uint64_t hash_feed() const noexcept { return static_cast<std::uint64_t>(hash_); }

    /// Equality as the trie asks it, on the stored key with the probe: the stored
    /// object's __eq__, then (when that answers NotImplemented) the probe's __eq__ with
    /// the stored object, then identity. A call that raises, or an answer that is not a
    /// bool (numpy booleans accepted), is an internal failure: throws Panic.
    bool equals(const Key& probe) const;

    /// Whether the object's own __eq__ answers True for the object itself without running
    /// Python code: exact str, int, bool, bytes, tuple and frozenset. Not float or complex,
    /// which hold NaNs, and no other type, whose __eq__ may be Python code. Callers skip
    /// comparing such a key with itself, or re-inserting its very object, because nobody
    /// could tell.
    bool equals_itself_silently() const noexcept {
        PyTypeObject* type = Py_TYPE(object_.get());
        return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyBytes_Type ||
               type == &PyTuple_Type || type == &PyFrozenSet_Type || type == &PyBool_Type;
    }

    /// Whether hashing an object of this exact type, and comparing it with any object of
    /// such a type, runs no Python code: str, int, float, bool, and bytes unless the
    /// interpreter warns when bytes meet str (a warning can run code). Not tuple or
    /// frozenset, which hash and compare their elements. Bulk building relies on it.
    static bool is_inert(PyTypeObject* type) noexcept {
        return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type ||
               type == &PyBool_Type || (type == &PyBytes_Type && bytes_compare_quietly());
    }

private:
    /// Whether comparing bytes with str stays silent (no -b or -bb option).
    static bool bytes_compare_quietly() noexcept;

    py::HeldRef object_;
    Py_hash_t hash_ = 0;
};

}  // namespace quil
