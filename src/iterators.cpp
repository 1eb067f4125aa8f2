// The iterator classes. Every iterator holds a private copy of its collection (taken in
// constant time: the copy shares every node) plus a UseCounter; a step takes the
// exclusive use, yields the front element and drops it from the private copy.
#include "iterators.hpp"

#include "frame/adapters.hpp"
#include "lib/classes.hpp"

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

}  // namespace quil
