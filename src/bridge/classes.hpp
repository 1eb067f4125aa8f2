// What the class families need from each other, declared here so that no class family
// includes another: the ClassSpecs (for the module's execution step and for objects of
// one class made by another), one function per class that makes an object from its
// engine record, and the update work a mutation shares with its collection. Each is
// defined in the file of its class family.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>

#include "bridge/records.hpp"
#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"
#include "runtime/tracking.hpp"
#include "runtime/types.hpp"

namespace quil {

/// Each class's place in an interpreter's table of type objects (its ClassSpec::index).
/// The execution step makes them in this order.
enum ClassIndex : std::size_t {
    kHashTrieMapIndex,
    kKeysViewIndex,
    kValuesViewIndex,
    kItemsViewIndex,
    kHashTrieSetIndex,
    kListIndex,
    kStackIndex,
    kQueueIndex,
    kKeysIteratorIndex,
    kValuesIteratorIndex,
    kItemsIteratorIndex,
    kSetIteratorIndex,
    kListIteratorIndex,
    kStackIteratorIndex,
    kQueueIteratorIndex,
    kHashTrieMapMutationIndex,
    kHashTrieSetMutationIndex,
    kClassCount,
};

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
extern ClassSpec kHashTrieMapMutationClass;  // classes/mutations.cpp
extern ClassSpec kHashTrieSetMutationClass;

// Each takes over the record (already a copy of the caller's, O(1)) and returns the new
// object; if the object cannot be made, the record is released with the error. `tracked`
// says whether the record may hold an object the cyclic collector tracks: the object is
// tracked then (runtime/tracking.hpp).

/// A HashTrieSet (the map views' algebra returns sets) and a HashTrieMap (what a map
/// mutation's finish() returns).
Outcome<py::Ref> new_set_object(SetRecord set, bool tracked);
Outcome<py::Ref> new_map_object(MapRecord map, bool tracked);

/// What HashTrieMap.mutate() and HashTrieSet.mutate() return: a mutation that starts
/// from the record.
Outcome<py::Ref> new_map_mutation(MapRecord map, bool tracked);
Outcome<py::Ref> new_set_mutation(SetRecord set, bool tracked);

/// The views HashTrieMap's keys(), values() and items() return, and KeysView's union.
Outcome<py::Ref> new_keys_view(MapRecord map, bool tracked);
Outcome<py::Ref> new_values_view(MapRecord map, bool tracked);
Outcome<py::Ref> new_items_view(MapRecord map, bool tracked);

/// The iterators each collection's __iter__ returns, over a private copy, in the
/// collection's order: a map's keys, values or (key, value) tuples and a set's elements
/// in trie order, a list and a stack front to back, a queue oldest first.
Outcome<py::Ref> new_keys_iterator(MapRecord map, bool tracked);
Outcome<py::Ref> new_values_iterator(MapRecord map, bool tracked);
Outcome<py::Ref> new_items_iterator(MapRecord map, bool tracked);
Outcome<py::Ref> new_set_iterator(SetRecord set, bool tracked);
Outcome<py::Ref> new_list_iterator(ListRecord list, bool tracked);
Outcome<py::Ref> new_stack_iterator(StackRecord stack, bool tracked);
Outcome<py::Ref> new_queue_iterator(QueueRecord queue, bool tracked);

/// What an update learns of the objects it puts in: whether some key or value may be
/// tracked by the cyclic collector (may_be_tracked), which a mutation needs for its own
/// tracking.
struct PutIn {
    bool may_hold_tracked = false;

    /// Notes a key going in (and, for a map, its value).
    void key(PyObject* object) noexcept {
        may_hold_tracked = may_hold_tracked || may_be_tracked(object);
    }
    void value(PyObject* object) noexcept {
        may_hold_tracked = may_hold_tracked || may_be_tracked(object);
    }
};

/// The work of HashTrieMap.update(*maps, **kwds) (`maps` the positional tuple, `keywords`
/// the keyword dict or null) and of HashTrieSet.update(*iterables), done in place on
/// `base` (taken over: a copy of the receiver's record, O(1)): the updated record, or the
/// update's error. Either way, and when a key's __eq__ throws, the caller's own record is
/// untouched. What went in is noted in `put_in`.
Outcome<MapRecord> updated_map(MapRecord base, PyObject* maps, PyObject* keywords,
                               PutIn& put_in);
Outcome<SetRecord> updated_set(SetRecord base, std::span<PyObject* const> iterables,
                               PutIn& put_in);

}  // namespace quil
