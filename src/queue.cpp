// Queue: an immutable first-in first-out queue of Python objects over PersistentQueue.
// Queue order is oldest to newest: the order dequeue removes elements in, and the order
// of iteration, repr, equality and hash.
#include <Python.h>

#include "frame/adapters.hpp"
#include "iterators.hpp"
#include "lib/classes.hpp"
#include "sequence.hpp"
#include "values.hpp"

namespace quil {

namespace {

QueueValue& queue_of(PyObject* self) { return payload_of<QueueValue>(self); }

/// A new object holding `queue`, moved in (the caller keeps an empty value).
Outcome<py::Ref> new_queue(QueueValue&& queue) {
    return new_instance(type_for_operation(kQueueClass), std::move(queue));
}

/// Yields the queue's elements oldest to newest as borrowed objects.
auto elements_of(const QueueValue& queue) {
    return [cursor = queue.cursor()]() mutable -> PyObject* {
        const py::HeldRef* element = cursor.next();
        return element != nullptr ? element->get() : nullptr;
    };
}

constexpr ArgumentSpec kQueueNew{"Queue", "__new__"};

/// One argument is iterated forwards (any iterable); any other number of arguments are
/// the elements. The first element given is the oldest.
Outcome<py::Ref> queue_new(PyTypeObject* type, const ParsedArgs& args) {
    const auto elements = args.extra_positional();
    QueueValue queue;
    if (elements.size() == 1) {
        PyObject* source = elements[0];
        if (PyList_CheckExact(source) || PyTuple_CheckExact(source)) {
            // Iterating an exact list or tuple runs no Python code, so reading its items
            // directly enqueues exactly what the iterator would yield.
            const Py_ssize_t size = PySequence_Fast_GET_SIZE(source);
            PyObject** items = PySequence_Fast_ITEMS(source);
            for (Py_ssize_t i = 0; i < size; ++i) {
                queue.enqueue_in_place(py::HeldRef::borrow(items[i]));
            }
            return new_instance(type, std::move(queue));
        }
        py::Ref iterator = py::Ref::steal(PyObject_GetIter(source));
        if (!iterator) {
            return PendingError::fetch();
        }
        for (;;) {
            PyObject* item = nullptr;
            const int status = PyIter_NextItem(iterator.get(), &item);
            if (status < 0) {
                return PendingError::fetch();
            }
            if (status == 0) {
                break;
            }
            queue.enqueue_in_place(py::HeldRef::steal(item));
        }
    } else {
        for (PyObject* element : elements) {
            queue.enqueue_in_place(py::HeldRef::borrow(element));
        }
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

Outcome<Py_ssize_t> queue_len(PyObject* self) {
    return static_cast<Py_ssize_t>(queue_of(self).len());
}

Outcome<py::Ref> queue_repr(PyObject* self) {
    return sequence_repr("Queue([", "])", elements_of(queue_of(self)));
}

/// Element-wise in queue order, so two queues holding the same elements are equal
/// however each splits them between its two lists.
Outcome<py::Ref> queue_richcompare(PyObject* self, PyObject* other, int op) {
    if (!Py_IS_TYPE(other, Py_TYPE(self)) || (op != Py_EQ && op != Py_NE)) {
        return py::Ref::borrow(Py_NotImplemented);
    }
    const QueueValue& a = queue_of(self);
    const QueueValue& b = queue_of(other);
    return sequence_equality(op, a.len(), b.len(), elements_of(a), elements_of(b));
}

/// The List hash over the queue order: a queue hashes like the List of its elements.
Outcome<Py_hash_t> queue_hash(PyObject* self) {
    return sequence_hash("Queue", elements_of(queue_of(self)));
}

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
    {Py_sq_length, as_slot(&length<queue_len>)},
    {Py_tp_repr, as_slot(&unary<queue_repr>)},
    {Py_tp_richcompare, as_slot(&richcompare<queue_richcompare>)},
    {Py_tp_hash, as_slot(&hash<queue_hash>)},
    {Py_tp_iter, as_slot(&unary<queue_iter>)},
    {0, nullptr},
};

}  // namespace

ClassSpec kQueueClass{"quil.Queue", "Queue(*elements)\n--\n\n",   sizeof(Instance<QueueValue>),
                      queue_slots,  dealloc_instance<QueueValue>, {}};

}  // namespace quil
