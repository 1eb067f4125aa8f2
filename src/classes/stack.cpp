// Stack: an immutable last-in first-out stack of Python objects over PersistentStack.
// Iteration, equality and hash go from the top down; the repr lists bottom to top.
#include <Python.h>

#include <string>
#include <utility>
#include <vector>

#include "bridge/classes.hpp"
#include "bridge/copies.hpp"
#include "bridge/records.hpp"
#include "bridge/repr.hpp"
#include "bridge/sequence.hpp"
#include "bridge/traverse.hpp"
#include "runtime/adapters.hpp"

namespace quil {

namespace {

const StackRecord& stack_of(PyObject* self) { return payload_of<StackRecord>(self); }

/// A new Stack (self's class) holding `stack`, moved in (the caller keeps an empty record);
/// tracked when `tracked` says it may hold a tracked object, unless it is empty.
Outcome<py::Ref> new_stack(PyObject* self, StackRecord&& stack, bool tracked) {
    const bool track = tracked && !stack.is_empty();
    return new_instance(Py_TYPE(self), std::move(stack), track);
}

constexpr ArgumentSpec kStackNew{
    .class_name = "Stack",
    .method = "__new__",
    .parameters = {},
    .required_positional = 0,
    .extras = Extras::kArgs,
};

/// One argument is iterated forwards (any iterable); any other number of arguments are
/// the elements. Each is pushed in turn, so the last one given ends on top.
Outcome<py::Ref> stack_new(PyTypeObject* type, const ParsedArgs& args) {
    return new_from_arguments<StackRecord>(
        type, args.extra_positional(),
        [](StackRecord& stack, py::HeldRef element) { stack.push_in_place(std::move(element)); });
}

Outcome<py::Ref> stack_peek(PyObject* self) {
    return peeked(stack_of(self).peek(), "peeked an empty stack");
}

/// Built in the new object: one count taken, on the node the result starts at.
Outcome<py::Ref> stack_pop(PyObject* self) {
    const StackRecord& stack = stack_of(self);
    if (stack.is_empty()) {
        return PendingError::message(PyExc_IndexError, "popped an empty stack");
    }
    // Tracked as its source, unless it comes out empty (new_stack's rule).
    return make_instance<StackRecord>(
        Py_TYPE(self), [&stack]() noexcept { return stack.rest(); },
        is_tracked(self) && stack.len() > 1);
}

constexpr std::string_view kPushParameters[] = {"other"};
constexpr ArgumentSpec kStackPush{
    .class_name = "Stack",
    .method = "push",
    .parameters = kPushParameters,
    .required_positional = 1,
    .extras = Extras::kNone,
};

Outcome<py::Ref> stack_push(PyObject* self, const ParsedArgs& args) {
    const bool tracked = may_be_tracked(args[0]) || is_tracked(self);
    return new_stack(self, stack_of(self).push(py::HeldRef::borrow(args[0])), tracked);
}

/// A Stack's record is its list and nothing else (a Stack object has a List object's
/// memory form), so the length is the list's, read as List reads it.
Outcome<Py_ssize_t> stack_len(PyObject* self) {
    return static_cast<Py_ssize_t>(stack_of(self).list().len());
}

/// "Stack([bottom, ..., top])": reads like the one-argument construction that rebuilds
/// the stack. The element texts are asked for from the top down, as every other walk of
/// a stack goes, and joined in reverse.
Outcome<py::Ref> stack_repr(PyObject* self) {
    const StackRecord& stack = stack_of(self);
    std::vector<std::string> texts;
    texts.reserve(stack.len());
    for (const py::HeldRef& element : stack) {
        if (Status appended = append_element_repr(texts.emplace_back(), element.get());
            !appended.ok()) {
            return std::move(appended).take_error();
        }
    }
    return joined_repr(
        "Stack([", "])",
        [it = texts.crbegin(), end = texts.crend()]() mutable -> const std::string* {
            return it != end ? &*it++ : nullptr;
        },
        [](std::string& text, const std::string* piece) -> Status {
            text += *piece;
            return Unit{};
        });
}

/// Equality and the List hash from the top down: a Stack hashes like the List of its
/// list.
constexpr char kStackName[] = "Stack";
using StackSlots = SequenceSlots<StackRecord, kStackName>;

Outcome<py::Ref> stack_iter(PyObject* self) {
    return new_stack_iterator(stack_of(self), is_tracked(self));
}

/// __deepcopy__(memo): the elements deep-copied from the top down; see deep_copy. The copy
/// pushes them back bottom first, so each stays at its height.
Outcome<py::Ref> stack_deepcopy(PyObject* self, PyObject* memo) {
    return deep_copy(self, memo, elements_of(stack_of(self)),
                     [self](std::vector<py::HeldRef> copies) {
                         StackRecord stack;
                         bool tracked = false;
                         for (auto it = copies.rbegin(); it != copies.rend(); ++it) {
                             tracked = tracked || may_be_tracked(it->get());
                             stack.push_in_place(std::move(*it));
                         }
                         return new_stack(self, std::move(stack), tracked);
                     });
}

PyMethodDef stack_methods[] = {
    {"peek", as_pycfunction(&noargs<stack_peek>), METH_NOARGS, "peek($self)\n--\n\n"},
    {"pop", as_pycfunction(&noargs<stack_pop>), METH_NOARGS, "pop($self)\n--\n\n"},
    {"push", as_pycfunction(&fastcall<kStackPush, stack_push>),
     METH_FASTCALL | METH_KEYWORDS, "push($self, other)\n--\n\n"},
    {"__copy__", as_pycfunction(&noargs<copy_self>), METH_NOARGS, "__copy__($self)\n--\n\n"},
    {"__deepcopy__", as_pycfunction(&binary<stack_deepcopy>), METH_O,
     "__deepcopy__($self, memo, /)\n--\n\n"},
    {"__class_getitem__", Py_GenericAlias, METH_O | METH_CLASS,
     "__class_getitem__($type, item, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot stack_slots[] = {
    {Py_tp_new, as_slot(&constructor<kStackNew, stack_new>)},
    {Py_tp_methods, stack_methods},
    {Py_sq_length, as_slot(&length<stack_len>)},
    {Py_tp_repr, as_slot(&repr<stack_repr>)},
    {Py_tp_richcompare, as_slot(&richcompare<StackSlots::richcompare>)},
    {Py_tp_hash, as_slot(&hash<StackSlots::hash>)},
    {Py_tp_iter, as_slot(&unary<stack_iter>)},
    {0, nullptr},
};

}  // namespace

ClassSpec kStackClass{
    .qualified_name = "quil.Stack",
    .doc = "Stack(*args)\n--\n\n",
    .basic_size = sizeof(Instance<StackRecord>),
    .slots = stack_slots,
    .dealloc = dealloc_instance<StackRecord>,
    .traverse = traverse_instance<StackRecord>,
    .immutable = true,
    .index = kStackIndex,
};

}  // namespace quil
