// HashTrieMap's engine value and the operations the set and view families share with it.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <utility>

#include "bridge/key.hpp"
#include "quil/trie/trie.hpp"
#include "runtime/outcome.hpp"
#include "runtime/py_heap.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

/// A map: Keys to strong references.
using MapValue = TrieMap<Key, py::HeldRef, SipHash13Hasher, PyHeap>;
/// A set: Keys alone, without a value slot.
using SetValue = TrieSet<Key, SipHash13Hasher, PyHeap>;

/// Makes a new map or set (Value) from items converted one at a time, in input order,
/// under one freshly drawn HashBuilder. While every key is inert (Key::is_inert) the
/// items are only collected, then built at once (TrieMap::build): no Python code runs
/// in between, so no one can tell this from insertion one by one. The first other key
/// builds what was collected so far, and it and every later item are inserted one by
/// one, so each __hash__ and __eq__ of Python code runs just where it always did.
template <class Value>
class TrieMaker {
public:
    TrieMaker() noexcept : builder_(HashBuilder::draw()) {}

    /// Room for `count` more items.
    void reserve(std::size_t count) {
        if (!one_by_one_) {
            items_.reserve(items_.size() + count);
        }
    }

    /// Adds (key, value), or the key alone for a set; takes them over.
    template <class... Rest>
    void add(Key&& key, Rest&&... value) {
        if (!one_by_one_ && key.is_inert()) [[likely]] {
            items_.push(std::move(key), std::forward<Rest>(value)...);
            return;
        }
        insert_one(std::move(key), std::forward<Rest>(value)...);
    }

    Value finish() && {
        if (one_by_one_) {
            return std::move(*one_by_one_);
        }
        return Value::build(builder_, std::move(items_));
    }

private:
    template <class... Rest>
    [[gnu::noinline]] void insert_one(Key&& key, Rest&&... value) {
        if (!one_by_one_) {
            one_by_one_.emplace(Value::build(builder_, std::move(items_)));
        }
        one_by_one_->insert_in_place(std::move(key), std::forward<Rest>(value)...);
    }

    HashBuilder builder_;
    typename Value::Items items_;
    std::optional<Value> one_by_one_;  // set from the first key that is not inert
};

/// A new map built from a mapping (a dict, or any collections.abc.Mapping, through its
/// items()) or from an iterable of (key, value) pairs; later pairs win. Errors are
/// returned without a note.
Outcome<MapValue> map_from(PyObject* value);

/// Wraps `map` in a new HashTrieMap object.
Outcome<py::Ref> new_map_object(MapValue map);

/// Whether `object` is a HashTrieMap (or a subtype).
bool is_map_object(PyObject* object);

/// The engine value of a HashTrieMap object.
const MapValue& map_value(PyObject* map_object);

}  // namespace quil
