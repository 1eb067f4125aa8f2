// Queue: an immutable first-in first-out queue of Python objects over PersistentQueue.
// Queue order is oldest to newest: the order dequeue removes elements in, and the order
// of iteration, repr, equality and hash.
#include <Python.h>

#include "bridge/classes.hpp"
#include "bridge/sequence.hpp"
#include "bridge/values.hpp"
#include "classes/iterators.hpp"
#include "runtime/adapters.hpp"

namespace quil {

namespace {

QueueValue& queue_of(PyObject* self) { return payload_of<QueueValue>(self); }

/// A new object holding `queue`, moved in (the caller keeps an empty value).
Outcome<py::Ref> new_queue(QueueValue&& queue) {
    return new_instance(type_for_operation(kQueueClass), std::move(queue));
}

constexpr ArgumentSpec kQueueNew{"Queue", "__new__"};

/// One argument is iterated forwards (any iterable); any other number of arguments are
/// the elements. The first element given is the oldest.
Outcome<py::Ref> queue_new(PyTypeObject* type, const ParsedArgs& args) {
    QueueValue queue;
    Status built = put_constructor_elements(
        args.extra_positional(),
        [&](py::HeldRef element) { queue.enqueue_in_place(std::move(element)); });
    if (!built.ok()) {
        return std::move(built).take_error();
    }
    return new_instance(type, std::move(queue));
}

Outcome<py::Ref> queue_peek(PyObject* self) {
    const py::HeldRef* oldest = queue_of(self).peek();
    if (oldest == nullptr) {
        return PendingError::message(PyExc_IndexError, "peeked an empty queue");
    }
    return oldest->ref();
}

Outcome<py::Ref> queue_is_empty(PyObject* self) {
    return py::Ref::borrow(queue_of(self).is_empty() ? Py_True : Py_False);
}

constexpr std::string_view kEnqueueParameters[] = {"value"};
constexpr ArgumentSpec kQueueEnqueue{"Queue", "enqueue", kEnqueueParameters, 0, 1};

Outcome<py::Ref> queue_enqueue(PyObject* self, const ParsedArgs& args) {
    return new_queue(queue_of(self).enqueue(py::HeldRef::borrow(args[0])));
}

Outcome<py::Ref> queue_dequeue(PyObject* self) {
    auto rest = queue_of(self).dequeue();
    if (!rest) {
        return PendingError::message(PyExc_IndexError, "dequeued an empty queue");
    }
    return new_queue(std::move(*rest));
}

Outcome<py::Ref> queue_repr(PyObject* self) {
    return sequence_repr("Queue([", "])", elements_of(queue_of(self)));
}

/// Length, and equality and the List hash element by element in queue order: two queues
/// holding the same elements are equal however each splits them between its two lists.
constexpr char kQueueName[] = "Queue";
using QueueSlots = SequenceSlots<QueueValue, kQueueName>;

Outcome<py::Ref> queue_iter(PyObject* self) { return make_queue_iterator(queue_of(self)); }

PyMethodDef queue_methods[] = {
    {"peek", as_pycfunction(&noargs<queue_peek>), METH_NOARGS, "peek($self)\n--\n\n"},
    {"is_empty", as_pycfunction(&noargs<queue_is_empty>), METH_NOARGS, "is_empty($self)\n--\n\n"},
    {"enqueue", as_pycfunction(&fastcall<kQueueEnqueue, Extras::kNone, queue_enqueue>),
     METH_FASTCALL | METH_KEYWORDS, "enqueue($self, value)\n--\n\n"},
    {"dequeue", as_pycfunction(&noargs<queue_dequeue>), METH_NOARGS, "dequeue($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot queue_slots[] = {
    {Py_tp_new, as_slot(&constructor<kQueueNew, Extras::kArgs, queue_new>)},
    {Py_tp_methods, queue_methods},
    {Py_sq_length, as_slot(&length<QueueSlots::len>)},
    {Py_tp_repr, as_slot(&unary<queue_repr>)},
    {Py_tp_richcompare, as_slot(&richcompare<QueueSlots::richcompare>)},
    {Py_tp_hash, as_slot(&hash<QueueSlots::hash>)},
    {Py_tp_iter, as_slot(&unary<queue_iter>)},
    {0, nullptr},
};

}  // namespace

ClassSpec kQueueClass{"quil.Queue", "Queue(*elements)\n--\n\n",   sizeof(Instance<QueueValue>),
                      queue_slots,  dealloc_instance<QueueValue>, {}};

}  // namespace quil
