// The iterator classes. Every iterator holds a private copy of its collection (taken in
// constant time: the copy shares every node), a cursor over that copy, and a use counter.
// A step takes the exclusive use and yields the element at the cursor; the copy itself
// stays whole, so no node's count changes while iterating. The collector sees the copy as
// it sees a collection (what it holds alone: nothing while the collection lives); the
// cursors hold addresses only, no references.
#include <Python.h>

#include <concepts>
#include <utility>

#include "bridge/classes.hpp"
#include "bridge/records.hpp"
#include "bridge/traverse.hpp"
#include "bridge/walks.hpp"
#include "runtime/adapters.hpp"
#include "runtime/use_counter.hpp"

namespace quil {

namespace {

/// The payload of an iterator object: its walk state (Walk) and the use counter.
/// Walk::step() yields the next element as a new reference, or an empty Ref at the end.
template <class Walk>
struct IteratorPayload {
    Walk walk;
    UseCounter uses;

    IteratorPayload(Walk&& w) : walk(std::move(w)) {}
    IteratorPayload(IteratorPayload&& other) noexcept : walk(std::move(other.walk)) {}
};

/// __iter__: a shared use, refused with "Already mutably borrowed" while a step runs.
template <class Walk>
Outcome<py::Ref> iterator_iter(PyObject* self) {
    auto& payload = payload_of<IteratorPayload<Walk>>(self);
    if (!payload.uses.try_shared()) {
        return PendingError::message(PyExc_RuntimeError, "Already mutably borrowed");
    }
    py::Ref result = py::Ref::borrow(self);
    payload.uses.end_shared();
    return result;
}

/// __next__: the exclusive use, refused with "Already borrowed" while another step runs.
template <class Walk>
Outcome<py::Ref> iterator_next(PyObject* self) {
    auto& payload = payload_of<IteratorPayload<Walk>>(self);
    if (!payload.uses.try_exclusive()) {
        return PendingError::message(PyExc_RuntimeError, "Already borrowed");
    }
    ExclusiveUse end_use(payload.uses);
    return payload.walk.step();
}

/// A walk whose step reads engine nodes and takes one reference, and nothing else: it
/// runs no Python code and cannot fail (leaf_step is noexcept).
template <class Walk>
concept LeafWalk = requires(Walk& walk) {
    { walk.leaf_step() } noexcept -> std::same_as<PyObject*>;
};

/// __next__ of a LeafWalk, through the frameless adapter (leaf_next says why that is
/// equivalent). No second use can start while such a step runs: not re-entered, since
/// it runs no Python code, and not from another thread, since none runs module code
/// while this one holds the interpreter's lock. So the use counter, whose only answer
/// here would be "idle", is not consulted.
template <LeafWalk Walk>
PyObject* leaf_iterator_next(PyObject* self) noexcept {
    return payload_of<IteratorPayload<Walk>>(self).walk.leaf_step();
}

/// tp_iternext: leaf_iterator_next where it applies. A free-threaded interpreter has no
/// lock that keeps a second thread out of a step, so there every walk takes the counter.
template <class Walk>
constexpr auto iterator_next_slot() {
#ifndef Py_GIL_DISABLED
    if constexpr (LeafWalk<Walk>) {
        return &leaf_next<leaf_iterator_next<Walk>>;
    } else
#endif
    {
        return &unary<iterator_next<Walk>>;
    }
}

template <class Walk>
PyType_Slot iterator_slots[] = {
    {Py_tp_iter, as_slot(&unary<iterator_iter<Walk>>)},
    {Py_tp_iternext, as_slot(iterator_next_slot<Walk>())},
    {0, nullptr},
};

/// What the collector sees of an iterator: its copy of the collection.
template <class Walk>
int visit_references(const IteratorPayload<Walk>& payload, Visitor visit) noexcept {
    return visit_references(payload.walk.record, visit);
}

/// A new iterator, tracked as its collection is (`tracked`).
template <class Walk>
Outcome<py::Ref> new_iterator(ClassSpec& spec, Walk walk, bool tracked) {
    IteratorPayload<Walk> payload(std::move(walk));
    return new_instance(type_for_operation(spec), std::move(payload), tracked);
}

/// The ClassSpec of the iterator class over Walk.
template <class Walk>
constexpr ClassSpec iterator_class(const char* qualified_name, ClassIndex index) {
    return ClassSpec{
        .qualified_name = qualified_name,
        .doc = nullptr,
        .basic_size = sizeof(Instance<IteratorPayload<Walk>>),
        .slots = iterator_slots<Walk>,
        .dealloc = dealloc_instance<IteratorPayload<Walk>>,
        .traverse = traverse_instance<IteratorPayload<Walk>>,
        .immutable = true,
        .index = index,
    };
}

/// List and Stack (front to back, top down) and Queue (oldest to newest): the record's
/// cursor moves over the snapshot, yielding exactly what a drop_first, pop or dequeue
/// per step would. A queue's cursor walks front_list node by node, then reads rear_list
/// from its end through an array it builds on reaching it; no node is copied.
template <class Record>
struct CursorWalk {
    explicit CursorWalk(Record snapshot) : record(std::move(snapshot)), cursor(record.cursor()) {}

    Outcome<py::Ref> step() {
        const py::HeldRef* front = cursor.next();
        if (front == nullptr) {
            return py::Ref();
        }
        return front->ref();
    }

    /// step() as a new reference or null at the end, for cursors that cannot fail (a
    /// list's; a queue's builds an array when it reaches rear_list, and checks it).
    PyObject* leaf_step() noexcept
        requires(noexcept(std::declval<typename Record::Cursor&>().next()))
    {
        const py::HeldRef* front = cursor.next();
        return front != nullptr ? Py_NewRef(front->get()) : nullptr;
    }

    Record record;
    typename Record::Cursor cursor;
};

using ListWalk = CursorWalk<ListRecord>;
using StackWalk = CursorWalk<StackRecord>;
using QueueWalk = CursorWalk<QueueRecord>;

/// Maps and sets: the entries of the snapshot in trie order, through a cursor kept
/// between steps. Each step does what taking the first entry and removing it from the
/// snapshot would show Python code: the entry that comes next, one call of the stored
/// key's __eq__ with itself (skipped for keys that equal themselves silently, where
/// nobody could tell), and, when that call fails, the iterator left where it was. A key
/// that is not equal to itself (a float NaN) is yielded once like any other.
template <class Record, class Yield>
struct TrieWalk {
    explicit TrieWalk(Record snapshot) : record(std::move(snapshot)), walk(record) {}
    // The walk points into the snapshot's nodes, not into the record, so it survives
    // the record being moved into the iterator object.
    TrieWalk(TrieWalk&&) noexcept = default;

    Outcome<py::Ref> step() {
        const typename Record::Entry* entry = walk.peek();
        if (entry == nullptr) {
            return py::Ref();
        }
        if (!entry->key().equals_itself_silently()) {
            // A failure leaves the entry unconsumed: the next step offers it again.
            (void)entry->key().equals(entry->key());
        }
        // So does a failure to make what is yielded (out of memory): pop() cannot fail.
        auto yielded = Yield::make(*entry);
        if (yielded.ok()) {
            walk.pop();
        }
        return yielded;
    }

    Record record;
    Lookahead<Record> walk;
};

struct YieldKey {
    template <class Entry>
    static Outcome<py::Ref> make(const Entry& entry) {
        return py::Ref::borrow(entry.key().object());
    }
};

struct YieldValue {
    static Outcome<py::Ref> make(const MapRecord::Entry& entry) { return entry.value().ref(); }
};

struct YieldItem {
    static Outcome<py::Ref> make(const MapRecord::Entry& entry) {
        PyObject* item = PyTuple_New(2);
        if (item == nullptr) {
            return PendingError::fetch();
        }
        PyTuple_SET_ITEM(item, 0, Py_NewRef(entry.key().object()));
        PyTuple_SET_ITEM(item, 1, entry.value().ref().release());
        return py::Ref::steal(item);
    }
};

using KeysWalk = TrieWalk<MapRecord, YieldKey>;
using ValuesWalk = TrieWalk<MapRecord, YieldValue>;
using ItemsWalk = TrieWalk<MapRecord, YieldItem>;
using SetWalk = TrieWalk<SetRecord, YieldKey>;

}  // namespace

ClassSpec kListIteratorClass = iterator_class<ListWalk>("quil.ListIterator", kListIteratorIndex);
ClassSpec kStackIteratorClass =
    iterator_class<StackWalk>("quil.StackIterator", kStackIteratorIndex);
ClassSpec kQueueIteratorClass =
    iterator_class<QueueWalk>("quil.QueueIterator", kQueueIteratorIndex);
ClassSpec kKeysIteratorClass = iterator_class<KeysWalk>("quil.KeysIterator", kKeysIteratorIndex);
ClassSpec kValuesIteratorClass =
    iterator_class<ValuesWalk>("quil.ValuesIterator", kValuesIteratorIndex);
ClassSpec kItemsIteratorClass =
    iterator_class<ItemsWalk>("quil.ItemsIterator", kItemsIteratorIndex);
ClassSpec kSetIteratorClass = iterator_class<SetWalk>("quil.SetIterator", kSetIteratorIndex);

Outcome<py::Ref> new_list_iterator(ListRecord list, bool tracked) {
    return new_iterator(kListIteratorClass, ListWalk(std::move(list)), tracked);
}
Outcome<py::Ref> new_stack_iterator(StackRecord stack, bool tracked) {
    return new_iterator(kStackIteratorClass, StackWalk(std::move(stack)), tracked);
}
Outcome<py::Ref> new_queue_iterator(QueueRecord queue, bool tracked) {
    return new_iterator(kQueueIteratorClass, QueueWalk(std::move(queue)), tracked);
}
Outcome<py::Ref> new_keys_iterator(MapRecord map, bool tracked) {
    return new_iterator(kKeysIteratorClass, KeysWalk(std::move(map)), tracked);
}
Outcome<py::Ref> new_values_iterator(MapRecord map, bool tracked) {
    return new_iterator(kValuesIteratorClass, ValuesWalk(std::move(map)), tracked);
}
Outcome<py::Ref> new_items_iterator(MapRecord map, bool tracked) {
    return new_iterator(kItemsIteratorClass, ItemsWalk(std::move(map)), tracked);
}
Outcome<py::Ref> new_set_iterator(SetRecord set, bool tracked) {
    return new_iterator(kSetIteratorClass, SetWalk(std::move(set)), tracked);
}

}  // namespace quil
