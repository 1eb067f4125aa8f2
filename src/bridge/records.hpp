// The engine record each class family holds inline in its objects: the engine's
// structures over Keys and strong references, allocated from the interpreter's heap.
// A view holds a MapRecord; an iterator holds a private copy of its collection's record.
#pragma once

#include "bridge/key.hpp"
#include "quil/list/list.hpp"
#include "quil/queue.hpp"
#include "quil/stack.hpp"
#include "quil/trie/trie.hpp"
#include "runtime/py_heap.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

/// HashTrieMap and its views: Keys mapped to strong references (an entry's value()).
using MapRecord = TrieMap<Key, py::HeldRef, SipHash13Hasher, PyHeap>;

/// HashTrieSet: Keys alone, without a value slot.
using SetRecord = TrieSet<Key, SipHash13Hasher, PyHeap>;

/// List: one strong reference per element.
using ListRecord = PersistentList<py::HeldRef, PyHeap>;

/// Stack: its list, top first. The same memory form as ListRecord, so a Stack object is
/// laid out like a List object.
using StackRecord = PersistentStack<py::HeldRef, PyHeap>;
static_assert(sizeof(StackRecord) == sizeof(ListRecord));

/// Queue: rear_list (newest first) and front_list (oldest first).
using QueueRecord = PersistentQueue<py::HeldRef, PyHeap>;

}  // namespace quil
