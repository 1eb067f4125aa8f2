// HashTrieMap's engine value and the operations the set and view families share with it.
#pragma once

#include <Python.h>

#include "frame/outcome.hpp"
#include "frame/py_ref.hpp"
#include "key.hpp"
#include "lib/py_heap.hpp"
#include "map/hash_trie_map/mod.hpp"

namespace quil {

/// A map: Keys to strong references.
using MapValue = TrieMap<Key, py::HeldRef, SipHash13Hasher, PyHeap>;
/// A set: Keys alone, without a value slot.
using SetValue = TrieSet<Key, SipHash13Hasher, PyHeap>;

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
