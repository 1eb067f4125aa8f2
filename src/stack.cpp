// Stack: an immutable last-in first-out stack of Python objects over PersistentStack.
// Iteration, equality and hash go from the top down; the repr lists bottom to top.
#include <Python.h>

#include <string>
#include <vector>

#include "frame/adapters.hpp"
#include "iterators.hpp"
#include "lib/classes.hpp"
#include "sequence.hpp"
#include "values.hpp"

namespace quil {

namespace {

StackValue& stack_of(PyObject* self) { return payload_of<StackValue>(self); }

/// A new object holding `stack`, moved in (the caller keeps an empty value).
Outcome<py::Ref> new_stack(StackValue&& stack) {
    return new_instance(type_for_operation(kStackClass), std::move(stack));
}

/// Yields the stack's elements from the top down as borrowed objects.
auto elements_of(const StackValue& stack) {
    return [cursor = stack.cursor()]() mutable -> PyObject* {
        const py::HeldRef* element = cursor.next();
        return element != nullptr ? element->get() : nullptr;
    };
}

constexpr ArgumentSpec kStackNew{"Stack", "__new__"};

/// One argument is iterated forwards (any iterable); any other number of arguments are
/// the elements. Each is pushed in turn, so the last one given ends on top.
Outcome<py::Ref> stack_new(PyTypeObject* type, const ParsedArgs& args) {
    const auto elements = args.extra_positional();
    StackValue stack;
    if (elements.size() == 1) {
        PyObject* source = elements[0];
        if (PyList_CheckExact(source) || PyTuple_CheckExact(source)) {
            // Iterating an exact list or tuple runs no Python code, so reading its items
            // directly pushes exactly what the iterator would yield.
            const Py_ssize_t size = PySequence_Fast_GET_SIZE(source);
            PyObject** items = PySequence_Fast_ITEMS(source);
            for (Py_ssize_t i = 0; i < size; ++i) {
                stack.push_in_place(py::HeldRef::borrow(items[i]));
            }
            return new_instance(type, std::move(stack));
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
            stack.push_in_place(py::HeldRef::steal(item));
        }
    } else {
        for (PyObject* element : elements) {
            stack.push_in_place(py::HeldRef::borrow(element));
        }
    }
    return new_instance(type, std::move(stack));
}

Outcome<py::Ref> stack_peek(PyObject* self) {
    const py::HeldRef* top = stack_of(self).peek();
    if (top == nullptr) {
        return PendingError::message(PyExc_IndexError, "peeked an empty stack");
    }
    return top->ref();
}

Outcome<py::Ref> stack_pop(PyObject* self) {
    auto rest = stack_of(self).pop();
    if (!rest) {
        return PendingError::message(PyExc_IndexError, "popped an empty stack");
    }
    return new_stack(std::move(*rest));
}

constexpr std::string_view kPushParameters[] = {"other"};
constexpr ArgumentSpec kStackPush{"Stack", "push", kPushParameters, 0, 1};

Outcome<py::Ref> stack_push(PyObject* self, const ParsedArgs& args) {
    return new_stack(stack_of(self).push(py::HeldRef::borrow(args[0])));
}

/// A Stack's value is its list and nothing else (a Stack object has a List object's
/// memory form), so the length is the list's, read as List reads it.
Outcome<Py_ssize_t> stack_len(PyObject* self) {
    return static_cast<Py_ssize_t>(stack_of(self).list().len());
}

/// "Stack([bottom, ..., top])": reads like the one-argument construction that rebuilds
/// the stack. The element texts are asked for from the top down, as every other walk of
/// a stack goes, and joined in reverse.
Outcome<py::Ref> stack_repr(PyObject* self) {
    const StackValue& stack = stack_of(self);
    std::vector<std::string> texts;
    texts.reserve(stack.len());
    for (const py::HeldRef& element : stack) {
        append_element_repr(texts.emplace_back(), element.get());
    }
    std::string text = "Stack([";
    for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
        if (it != texts.rbegin()) {
            text += ", ";
        }
        text += *it;
    }
    text += "])";
    return text_result(text);
}

Outcome<py::Ref> stack_richcompare(PyObject* self, PyObject* other, int op) {
    if (!Py_IS_TYPE(other, Py_TYPE(self)) || (op != Py_EQ && op != Py_NE)) {
        return py::Ref::borrow(Py_NotImplemented);
    }
    const StackValue& a = stack_of(self);
    const StackValue& b = stack_of(other);
    return sequence_equality(op, a.len(), b.len(), elements_of(a), elements_of(b));
}

/// The List hash from the top down: a Stack hashes like the List of its list.
Outcome<Py_hash_t> stack_hash(PyObject* self) {
    return sequence_hash("Stack", elements_of(stack_of(self)));
}

Outcome<py::Ref> stack_iter(PyObject* self) { return make_stack_iterator(stack_of(self)); }

PyMethodDef stack_methods[] = {
    {"peek", as_pycfunction(&noargs<stack_peek>), METH_NOARGS, "peek($self)\n--\n\n"},
    {"pop", as_pycfunction(&noargs<stack_pop>), METH_NOARGS, "pop($self)\n--\n\n"},
    {"push", as_pycfunction(&fastcall<kStackPush, Extras::kNone, stack_push>),
     METH_FASTCALL | METH_KEYWORDS, "push($self, other)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot stack_slots[] = {
    {Py_tp_new, as_slot(&constructor<kStackNew, Extras::kArgs, stack_new>)},
    {Py_tp_methods, stack_methods},
    {Py_sq_length, as_slot(&length<stack_len>)},
    {Py_tp_repr, as_slot(&unary<stack_repr>)},
    {Py_tp_richcompare, as_slot(&richcompare<stack_richcompare>)},
    {Py_tp_hash, as_slot(&hash<stack_hash>)},
    {Py_tp_iter, as_slot(&unary<stack_iter>)},
    {0, nullptr},
};

}  // namespace

ClassSpec kStackClass{"quil.Stack", "Stack(*args)\n--\n\n",       sizeof(Instance<StackValue>),
                      stack_slots,  dealloc_instance<StackValue>, {}};

}  // namespace quil
