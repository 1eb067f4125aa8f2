// What the class families need from each other, declared here so that no class family
// includes another: the fifteen ClassSpecs (for the module's execution step and for
// objects of one class made by another), and one function per class that makes an object
// from its engine record. Each is defined in the file of its class family.
#pragma once

#include "bridge/records.hpp"
#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"
#include "runtime/types.hpp"

namespace quil {

extern ClassSpec kHashTrieMapClass;     // classes/map.cpp
extern ClassSpec kKeysViewClass;        // classes/map_views.cpp
extern ClassSpec kValuesViewClass;
extern ClassSpec kItemsViewClass;
extern ClassSpec kHashTrieSetClass;     // classes/set.cpp
extern ClassSpec kListClass;            // classes/list.cpp
extern ClassSpec kStackClass;           // classes/stack.cpp
extern ClassSpec kQueueClass;           // classes/queue.cpp
extern ClassSpec kKeysIteratorClass;    // classes/iterators.cpp
extern ClassSpec kValuesIteratorClass;
extern ClassSpec kItemsIteratorClass;
extern ClassSpec kSetIteratorClass;
extern ClassSpec kListIteratorClass;
extern ClassSpec kStackIteratorClass;
extern ClassSpec kQueueIteratorClass;

// Each takes over the record (already a copy of the caller's, O(1)) and returns the new
// object; if the object cannot be made, the record is released with the error.

/// A HashTrieSet (the map views' algebra returns sets).
Outcome<py::Ref> new_set_object(SetRecord set);

/// The views HashTrieMap's keys(), values() and items() return, and KeysView's union.
Outcome<py::Ref> new_keys_view(MapRecord map);
Outcome<py::Ref> new_values_view(MapRecord map);
Outcome<py::Ref> new_items_view(MapRecord map);

/// The iterators each collection's __iter__ returns, over a private copy, in the
/// collection's order: a map's keys, values or (key, value) tuples and a set's elements
/// in trie order, a list and a stack front to back, a queue oldest first.
Outcome<py::Ref> new_keys_iterator(MapRecord map);
Outcome<py::Ref> new_values_iterator(MapRecord map);
Outcome<py::Ref> new_items_iterator(MapRecord map);
Outcome<py::Ref> new_set_iterator(SetRecord set);
Outcome<py::Ref> new_list_iterator(ListRecord list);
Outcome<py::Ref> new_stack_iterator(StackRecord stack);
Outcome<py::Ref> new_queue_iterator(QueueRecord queue);

}  // namespace quil
