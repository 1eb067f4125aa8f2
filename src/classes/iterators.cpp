// The iterator classes. Every iterator holds a private copy of its collection (taken in
// constant time: the copy shares every node) plus a UseCounter; a step takes the
// exclusive use, yields the front element and drops it from the private copy.
#include "classes/iterators.hpp"

#include "bridge/classes.hpp"
#include "bridge/lookahead.hpp"
#include "runtime/adapters.hpp"

namespace quil {

PendingError already_borrowed() {
    return PendingError::message(PyExc_RuntimeError, "Already borrowed");
}

PendingError already_mutably_borrowed() {
    return PendingError::message(PyExc_RuntimeError, "Already mutably borrowed");
}

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

template <class Walk>
Outcome<py::Ref> iterator_iter(PyObject* self) {
    auto& payload = payload_of<IteratorPayload<Walk>>(self);
    if (!payload.uses.try_shared()) {
        return already_mutably_borrowed();
    }
    py::Ref result = py::Ref::borrow(self);
    payload.uses.end_shared();
    return result;
}

template <class Walk>
Outcome<py::Ref> iterator_next(PyObject* self) {
    auto& payload = payload_of<IteratorPayload<Walk>>(self);
    if (!payload.uses.try_exclusive()) {
        return already_borrowed();
    }
    struct EndUse {
        UseCounter& uses;
        ~EndUse() { uses.end_exclusive(); }
    } end_use{payload.uses};
    return payload.walk.step();
}

template <class Walk>
PyType_Slot iterator_slots[] = {
    {Py_tp_iter, as_slot(&unary<iterator_iter<Walk>>)},
    {Py_tp_iternext, as_slot(&unary<iterator_next<Walk>>)},
    {0, nullptr},
};

template <class Walk>
Outcome<py::Ref> make_iterator(ClassSpec& spec, Walk walk) {
    IteratorPayload<Walk> payload(std::move(walk));
    return new_instance(type_for_operation(spec), std::move(payload));
}

/// List and Stack: front to back. The walk keeps its snapshot whole and moves a cursor
/// over it, which yields exactly what dropping the first element at every step would,
/// without touching any node's count.
struct ListWalk {
    explicit ListWalk(ListValue snapshot)
        : list(std::move(snapshot)), cursor(list.cursor()) {}

    Outcome<py::Ref> step() {
        const py::HeldRef* front = cursor.next();
        if (front == nullptr) {
            return py::Ref();
        }
        return front->ref();
    }

    ListValue list;
    ListValue::Cursor cursor;
};

/// Stack (top down) and Queue (oldest to newest): like ListWalk, the walk keeps its
/// snapshot whole and moves the value's cursor over it, yielding exactly what a pop or
/// a dequeue per step would. A queue's cursor walks front_list node by node, then reads
/// rear_list from its end through an array it builds on reaching it; no node is copied.
template <class Value>
struct CursorWalk {
    explicit CursorWalk(Value snapshot) : value(std::move(snapshot)), cursor(value.cursor()) {}

    Outcome<py::Ref> step() {
        const py::HeldRef* front = cursor.next();
        if (front == nullptr) {
            return py::Ref();
        }
        return front->ref();
    }

    Value value;
    typename Value::Cursor cursor;
};

using StackWalk = CursorWalk<StackValue>;
using QueueWalk = CursorWalk<QueueValue>;

}  // namespace

ClassSpec kListIteratorClass{
    "quil.ListIterator", nullptr, sizeof(Instance<IteratorPayload<ListWalk>>),
    iterator_slots<ListWalk>, dealloc_instance<IteratorPayload<ListWalk>>, {}};

Outcome<py::Ref> make_list_iterator(ListValue list) {
    return make_iterator(kListIteratorClass, ListWalk(std::move(list)));
}

ClassSpec kStackIteratorClass{
    "quil.StackIterator", nullptr, sizeof(Instance<IteratorPayload<StackWalk>>),
    iterator_slots<StackWalk>, dealloc_instance<IteratorPayload<StackWalk>>, {}};

ClassSpec kQueueIteratorClass{
    "quil.QueueIterator", nullptr, sizeof(Instance<IteratorPayload<QueueWalk>>),
    iterator_slots<QueueWalk>, dealloc_instance<IteratorPayload<QueueWalk>>, {}};

Outcome<py::Ref> make_stack_iterator(StackValue stack) {
    return make_iterator(kStackIteratorClass, StackWalk(std::move(stack)));
}

Outcome<py::Ref> make_queue_iterator(QueueValue queue) {
    return make_iterator(kQueueIteratorClass, QueueWalk(std::move(queue)));
}

namespace {

/// Maps and sets: the entries of the private snapshot in trie order, through a cursor
/// kept between steps. Each step does what taking the first entry and removing it from
/// the snapshot would show Python code: the entry that comes next, one call of the
/// stored key's __eq__ with itself (built-in value types compare with themselves without
/// running code, so the call is skipped for them), and, when that call fails, the
/// iterator left where it was. A key that is not equal to itself (a float NaN) is
/// yielded once like any other.
template <class Value, class Yield>
struct TrieWalk {
    explicit TrieWalk(Value snapshot) : value(std::move(snapshot)), walk(value) {}
    // The walk points into the snapshot's nodes, not into the record, so it survives
    // the record being moved into the iterator object.
    TrieWalk(TrieWalk&&) noexcept = default;

    Outcome<py::Ref> step() {
        const typename Value::Entry* entry = walk.peek();
        if (entry == nullptr) {
            return py::Ref();
        }
        if (entry->key().self_comparison_runs_code()) {
            // A failure leaves the entry unconsumed: the next step offers it again.
            (void)entry->key().equals(entry->key());
        }
        walk.pop();
        return Yield::make(*entry);
    }

    Value value;
    Lookahead<Value> walk;
};

struct YieldKey {
    template <class Entry>
    static Outcome<py::Ref> make(const Entry& entry) {
        return py::Ref::borrow(entry.key().object());
    }
};

struct YieldValue {
    static Outcome<py::Ref> make(const MapValue::Entry& entry) { return entry.value().ref(); }
};

struct YieldItem {
    static Outcome<py::Ref> make(const MapValue::Entry& entry) {
        PyObject* item = PyTuple_New(2);
        if (item == nullptr) {
            PyErr_WriteUnraisable(nullptr);
            panic("could not create the (key, value) tuple of an items iterator");
        }
        PyTuple_SET_ITEM(item, 0, Py_NewRef(entry.key().object()));
        PyTuple_SET_ITEM(item, 1, entry.value().ref().release());
        return py::Ref::steal(item);
    }
};

using KeysWalk = TrieWalk<MapValue, YieldKey>;
using ValuesWalk = TrieWalk<MapValue, YieldValue>;
using ItemsWalk = TrieWalk<MapValue, YieldItem>;
using SetWalk = TrieWalk<SetValue, YieldKey>;

template <class Walk>
constexpr Py_ssize_t kIteratorSize = sizeof(Instance<IteratorPayload<Walk>>);

}  // namespace

ClassSpec kKeysIteratorClass{"quil.KeysIterator", nullptr, kIteratorSize<KeysWalk>,
                             iterator_slots<KeysWalk>,
                             dealloc_instance<IteratorPayload<KeysWalk>>, {}};
ClassSpec kValuesIteratorClass{"quil.ValuesIterator", nullptr, kIteratorSize<ValuesWalk>,
                               iterator_slots<ValuesWalk>,
                               dealloc_instance<IteratorPayload<ValuesWalk>>, {}};
ClassSpec kItemsIteratorClass{"quil.ItemsIterator", nullptr, kIteratorSize<ItemsWalk>,
                              iterator_slots<ItemsWalk>,
                              dealloc_instance<IteratorPayload<ItemsWalk>>, {}};
ClassSpec kSetIteratorClass{"quil.SetIterator", nullptr, kIteratorSize<SetWalk>,
                            iterator_slots<SetWalk>, dealloc_instance<IteratorPayload<SetWalk>>,
                            {}};

Outcome<py::Ref> make_keys_iterator(MapValue map) {
    return make_iterator(kKeysIteratorClass, KeysWalk(std::move(map)));
}
Outcome<py::Ref> make_values_iterator(MapValue map) {
    return make_iterator(kValuesIteratorClass, ValuesWalk(std::move(map)));
}
Outcome<py::Ref> make_items_iterator(MapValue map) {
    return make_iterator(kItemsIteratorClass, ItemsWalk(std::move(map)));
}
Outcome<py::Ref> make_set_iterator(SetValue set) {
    return make_iterator(kSetIteratorClass, SetWalk(std::move(set)));
}

}  // namespace quil
