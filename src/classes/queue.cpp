// Queue: an immutable first-in first-out queue of Python objects over PersistentQueue.
// Queue order is oldest to newest: the order dequeue removes elements in, and the order
// of iteration, repr, equality and hash.
#include <Python.h>

#include <utility>
#include <vector>

#include "bridge/classes.hpp"
#include "bridge/copies.hpp"
#include "bridge/records.hpp"
#include "bridge/repr.hpp"
#include "bridge/sequence.hpp"
#include "bridge/traverse.hpp"
#include "bridge/walks.hpp"
#include "runtime/adapters.hpp"

namespace quil {

namespace {

const QueueRecord& queue_of(PyObject* self) { return payload_of<QueueRecord>(self); }

/// A new Queue (self's class) holding `queue`, moved in (the caller keeps an empty record);
/// tracked when `tracked` says it may hold a tracked object, unless it is empty.
Outcome<py::Ref> new_queue(PyObject* self, QueueRecord&& queue, bool tracked) {
    const bool track = tracked && !queue.is_empty();
    return new_instance(Py_TYPE(self), std::move(queue), track);
}

constexpr ArgumentSpec kQueueNew{
    .class_name = "Queue",
    .method = "__new__",
    .parameters = {},
    .required_positional = 0,
    .extras = Extras::kArgs,
};

/// One argument is iterated forwards (any iterable); any other number of arguments are
/// the elements. The first element given is the oldest.
Outcome<py::Ref> queue_new(PyTypeObject* type, const ParsedArgs& args) {
    return new_from_arguments<QueueRecord>(
        type, args.extra_positional(), [](QueueRecord& queue, py::HeldRef element) {
            queue.enqueue_in_place(std::move(element));
        });
}

Outcome<py::Ref> queue_peek(PyObject* self) {
    return peeked(queue_of(self).peek(), "peeked an empty queue");
}

Outcome<py::Ref> queue_is_empty(PyObject* self) {
    return py::Ref::borrow(queue_of(self).is_empty() ? Py_True : Py_False);
}

constexpr std::string_view kEnqueueParameters[] = {"value"};
constexpr ArgumentSpec kQueueEnqueue{
    .class_name = "Queue",
    .method = "enqueue",
    .parameters = kEnqueueParameters,
    .required_positional = 1,
    .extras = Extras::kNone,
};

Outcome<py::Ref> queue_enqueue(PyObject* self, const ParsedArgs& args) {
    const bool tracked = may_be_tracked(args[0]) || is_tracked(self);
    return new_queue(self, queue_of(self).enqueue(py::HeldRef::borrow(args[0])), tracked);
}

/// Built in the new object; while front_list has elements, two counts are taken and
/// nothing is allocated but the object.
Outcome<py::Ref> queue_dequeue(PyObject* self) {
    const QueueRecord& queue = queue_of(self);
    if (queue.is_empty()) {
        return PendingError::message(PyExc_IndexError, "dequeued an empty queue");
    }
    // Tracked as its source, unless it comes out empty (new_queue's rule).
    return make_instance<QueueRecord>(
        Py_TYPE(self), [&queue] { return queue.rest(); }, is_tracked(self) && queue.len() > 1);
}

Outcome<py::Ref> queue_repr(PyObject* self) {
    return elements_repr("Queue([", "])", elements_of(queue_of(self)));
}

/// Length, and equality and the List hash element by element in queue order: two queues
/// holding the same elements are equal however each splits them between its two lists.
constexpr char kQueueName[] = "Queue";
using QueueSlots = SequenceSlots<QueueRecord, kQueueName>;

Outcome<py::Ref> queue_iter(PyObject* self) {
    return new_queue_iterator(queue_of(self), is_tracked(self));
}

/// __deepcopy__(memo): the elements deep-copied oldest first; see deep_copy.
Outcome<py::Ref> queue_deepcopy(PyObject* self, PyObject* memo) {
    return deep_copy(self, memo, elements_of(queue_of(self)),
                     [self](std::vector<py::HeldRef> copies) {
                         QueueRecord queue;
                         bool tracked = false;
                         for (py::HeldRef& copy : copies) {
                             tracked = tracked || may_be_tracked(copy.get());
                             queue.enqueue_in_place(std::move(copy));
                         }
                         return new_queue(self, std::move(queue), tracked);
                     });
}

PyMethodDef queue_methods[] = {
    {"peek", as_pycfunction(&noargs<queue_peek>), METH_NOARGS, "peek($self)\n--\n\n"},
    {"is_empty", as_pycfunction(&noargs<queue_is_empty>), METH_NOARGS, "is_empty($self)\n--\n\n"},
    {"enqueue", as_pycfunction(&fastcall<kQueueEnqueue, queue_enqueue>),
     METH_FASTCALL | METH_KEYWORDS, "enqueue($self, value)\n--\n\n"},
    {"dequeue", as_pycfunction(&noargs<queue_dequeue>), METH_NOARGS, "dequeue($self)\n--\n\n"},
    {"__copy__", as_pycfunction(&noargs<copy_self>), METH_NOARGS, "__copy__($self)\n--\n\n"},
    {"__deepcopy__", as_pycfunction(&binary<queue_deepcopy>), METH_O,
     "__deepcopy__($self, memo, /)\n--\n\n"},
    {"__class_getitem__", Py_GenericAlias, METH_O | METH_CLASS,
     "__class_getitem__($type, item, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot queue_slots[] = {
    {Py_tp_new, as_slot(&constructor<kQueueNew, queue_new>)},
    {Py_tp_methods, queue_methods},
    {Py_sq_length, as_slot(&length<QueueSlots::len>)},
    {Py_tp_repr, as_slot(&repr<queue_repr>)},
    {Py_tp_richcompare, as_slot(&richcompare<QueueSlots::richcompare>)},
    {Py_tp_hash, as_slot(&hash<QueueSlots::hash>)},
    {Py_tp_iter, as_slot(&unary<queue_iter>)},
    {0, nullptr},
};

}  // namespace

ClassSpec kQueueClass{
    .qualified_name = "quil.Queue",
    .doc = "Queue(*elements)\n--\n\n",
    .basic_size = sizeof(Instance<QueueRecord>),
    .slots = queue_slots,
    .dealloc = dealloc_instance<QueueRecord>,
    .traverse = traverse_instance<QueueRecord>,
    .immutable = true,
    .index = kQueueIndex,
};

}  // namespace quil
