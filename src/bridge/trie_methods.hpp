// Method bodies HashTrieMap and HashTrieSet share over their records.
#pragma once

#include <Python.h>

#include "bridge/key.hpp"
#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

/// What remove does with a missing key, and what discard does.
enum class MissingKey { kRaise, kIgnore };

/// remove and discard: the record without the key `key_object` (the method's argument
/// named `argument`). The key is looked up first, then removed, so a stored key's __eq__
/// runs in both steps. A missing key is KeyError(key_object) for kRaise; for kIgnore the
/// result is the receiver's record itself.
template <class Record>
Outcome<Record> without_key(const Record& record, PyObject* key_object, const char* argument,
                            MissingKey missing) {
    const Py_hash_t hash = PyObject_Hash(key_object);
    if (hash == -1) [[unlikely]] {
        return Key::argument_hash_failed(argument);
    }
    const BorrowedKey key(key_object, hash);
    if (record.lookup(key.get()) != nullptr) {
        return record.remove(key.get());
    }
    if (missing == MissingKey::kRaise) {
        return PendingError::object(PyExc_KeyError, py::Ref::borrow(key_object));
    }
    return record;
}

}  // namespace quil
