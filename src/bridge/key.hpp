// Key: a Python object with its Python hash, computed once. Map keys and set elements
// are Keys; the trie engine sees only hash_feed() and equals().
#pragma once

#include <Python.h>

#include <cstdint>
#include <utility>

#include "runtime/attach.hpp"
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
    /// The error of a failed hash of a method's argument named `argument`, annotated
    /// "while processing '{argument}'" as make_argument annotates it.
    [[gnu::cold]] static PendingError argument_hash_failed(const char* argument) {
        return PendingError::fetch().with_note(argument);
    }

    /// A Key for an object whose hash is already known (moving between sets).
    Key(py::HeldRef object, Py_hash_t hash) noexcept
        : bits_(tagged(object.release())), hash_(hash) {}

    Key(const Key& other) noexcept : bits_(other.bits_), hash_(other.hash_) {
        Py_XINCREF(object());
    }
    Key(Key&& other) noexcept : bits_(std::exchange(other.bits_, 0)), hash_(other.hash_) {}
    Key& operator=(const Key& other) noexcept {
        Key(other).swap(*this);
        return *this;
    }
    Key& operator=(Key&& other) noexcept {
        Key(std::move(other)).swap(*this);
        return *this;
    }
    ~Key() {
        if (PyObject* object = this->object()) {
            release_reference(object);
        }
    }
    void swap(Key& other) noexcept {
        std::swap(bits_, other.bits_);
        std::swap(hash_, other.hash_);
    }

    PyObject* object() const noexcept {
        return reinterpret_cast<PyObject*>(bits_ & ~kEqualsItselfSilently);
    }
    Py_hash_t hash() const noexcept { return hash_; }

    /// The engine hashes these 8 bytes (little-endian) under the map's keys. Changing
    /// this changes every trie shape and iteration order.
    std::uint64_t hash_feed() const noexcept { return static_cast<std::uint64_t>(hash_); }

    /// Equality as the trie asks it, on the stored key with the probe: the stored
    /// object's __eq__, then (when that answers NotImplemented) the probe's __eq__ with
    /// the stored object, then identity. A call that raises, or an answer that is not a
    /// bool (numpy booleans accepted), is an internal failure: throws Panic.
    /// The very object of a key that equals itself silently is equal without a call, and
    /// the tag bit says so: neither object is read.
    bool equals(const Key& probe) const {
        if (bits_ == probe.bits_ && equals_itself_silently()) [[likely]] {
            return true;  // what the type's own comparison answers, without calling it
        }
        return equals_by_call(probe);
    }

    /// Whether the object's own __eq__ answers True for the object itself without running
    /// Python code: exact str, int, bool, bytes, tuple and frozenset. Not float or complex,
    /// which hold NaNs, and no other type, whose __eq__ may be Python code. Callers skip
    /// comparing such a key with itself, or re-inserting its very object, because nobody
    /// could tell. Read from the key, not from the object.
    bool equals_itself_silently() const noexcept { return (bits_ & kEqualsItselfSilently) != 0; }

    /// Whether both keys hold the very same object.
    bool same_object(const Key& other) const noexcept { return object() == other.object(); }

    /// Whether hashing an object of this exact type, and comparing it with any object of
    /// such a type, runs no Python code: str, int, float, bool, and bytes unless the
    /// interpreter warns when bytes meet str (a warning can run code). Not tuple or
    /// frozenset, which hash and compare their elements. Bulk building relies on it.
    static bool is_inert(PyTypeObject* type) noexcept {
        return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type ||
               type == &PyBool_Type || (type == &PyBytes_Type && bytes_compare_quietly());
    }

private:
    friend class BorrowedKey;

    /// Set in bits_ when the object equals itself silently: known from its exact type
    /// when the key is made (the type is read then anyway, beside the hash), and kept in
    /// the word a lookup reads to reach the object, so a lookup that finds the very probe
    /// object stored needs nothing more. Object addresses are at least 8-aligned.
    static constexpr std::uintptr_t kEqualsItselfSilently = 1;

    static std::uintptr_t tagged(PyObject* object) noexcept {
        const auto bits = reinterpret_cast<std::uintptr_t>(object);
        if (object == nullptr) {
            return bits;
        }
        PyTypeObject* type = Py_TYPE(object);
        const bool silent = type == &PyUnicode_Type || type == &PyLong_Type ||
                            type == &PyBytes_Type || type == &PyTuple_Type ||
                            type == &PyFrozenSet_Type || type == &PyBool_Type;
        return silent ? bits | kEqualsItselfSilently : bits;
    }

    /// equals() past the identity shortcut: calls __eq__.
    bool equals_by_call(const Key& probe) const;

    /// Whether comparing bytes with str stays silent (no -b or -bb option).
    static bool bytes_compare_quietly() noexcept;

    std::uintptr_t bits_ = 0;  // the object (one strong reference), tagged
    Py_hash_t hash_ = 0;
};

/// Thrown by Key::equals, inside a QuietComparisons scope, in place of a comparison that
/// could run Python code (or raise a warning). Nothing has been called when it is thrown.
struct LoudComparison {};

/// A scope, on the calling thread, in which key comparisons stay unobservable: a
/// comparison between two keys that are not both inert (Key::is_inert) is not made but
/// throws LoudComparison, so the operation is abandoned before any Python code runs.
/// Operations use it to do their steps in an order of their choosing (see
/// quil/trie/rehash.hpp) and fall back to the order callers can observe when it throws.
/// Identity with a key that equals itself silently needs no call, so it stays allowed.
class QuietComparisons {
public:
    QuietComparisons() noexcept;
    ~QuietComparisons();
    QuietComparisons(const QuietComparisons&) = delete;
    QuietComparisons& operator=(const QuietComparisons&) = delete;

private:
    bool outer_;
};

/// A Key over an object the caller holds for the whole operation (a method's argument,
/// used as a probe): it takes no reference and releases none, which a lookup would only
/// spend time on. Never stored: the engine copies keys it keeps, and only from Keys.
class BorrowedKey {
public:
    BorrowedKey(PyObject* object, Py_hash_t hash) noexcept {
        key_.bits_ = Key::tagged(object);
        key_.hash_ = hash;
    }
    ~BorrowedKey() { key_.bits_ = 0; }  // the reference was never taken
    BorrowedKey(const BorrowedKey&) = delete;
    BorrowedKey& operator=(const BorrowedKey&) = delete;

    const Key& get() const noexcept { return key_; }

private:
    Key key_;
};

}  // namespace quil
