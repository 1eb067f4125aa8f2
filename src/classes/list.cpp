// List: an immutable cons list of Python objects over PersistentList.
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

const ListRecord& list_of(PyObject* self) { return payload_of<ListRecord>(self); }

/// A new List of `type` holding `list`; tracked when `tracked` says it may hold a tracked
/// object, unless it is empty.
Outcome<py::Ref> list_result(PyTypeObject* type, ListRecord list, bool tracked) {
    const bool track = tracked && !list.is_empty();
    return new_instance(type, std::move(list), track);
}

/// A new List (self's class) holding `list`.
Outcome<py::Ref> new_list(PyObject* self, ListRecord list, bool tracked) {
    return list_result(Py_TYPE(self), std::move(list), tracked);
}

constexpr const char* kEmptyListMessage = "empty list has no first element";

constexpr ArgumentSpec kListNew{
    .class_name = "List",
    .method = "__new__",
    .parameters = {},
    .required_positional = 0,
    .extras = Extras::kArgs,
};

/// One argument is read back to front through builtins.reversed, so the list keeps its
/// order; any other number of arguments are the elements themselves.
Outcome<py::Ref> list_new(PyTypeObject* type, const ParsedArgs& args) {
    const auto elements = args.extra_positional();
    ListRecord list;
    bool tracked = false;
    if (elements.size() == 1) {
        py::Ref builtins_name = py::Ref::steal(PyUnicode_FromString("builtins"));
        py::Ref builtins = builtins_name ? py::Ref::steal(PyImport_Import(builtins_name.get()))
                                         : py::Ref();
        py::Ref reversed =
            builtins ? py::Ref::steal(PyObject_GetAttrString(builtins.get(), "reversed"))
                     : py::Ref();
        if (!reversed) {
            return PendingError::fetch();
        }
        PyObject* source = elements[0];
        if (reversed.get() == reinterpret_cast<PyObject*>(&PyReversed_Type) &&
            (PyList_CheckExact(source) || PyTuple_CheckExact(source))) {
            // What the built-in reversed() of an exact list or tuple yields, read straight
            // from its items: no Python code runs in between, so the result is the same.
            const Py_ssize_t size = PySequence_Fast_GET_SIZE(source);
            PyObject** items = PySequence_Fast_ITEMS(source);
            for (Py_ssize_t i = 0; i < size; ++i) {
                PyObject* item = items[size - 1 - i];
                tracked = tracked || may_be_tracked(item);
                list.push_front_in_place(py::HeldRef::borrow(item));
            }
            return list_result(type, std::move(list), tracked);
        }
        py::Ref backwards = py::Ref::steal(PyObject_CallOneArg(reversed.get(), source));
        if (!backwards) {
            return PendingError::fetch();
        }
        Status built = for_each_item(backwards.get(), [&](py::Ref item) -> Status {
            tracked = tracked || may_be_tracked(item.get());
            list.push_front_in_place(py::HeldRef::from(std::move(item)));
            return Unit{};
        });
        if (!built.ok()) {
            return std::move(built).take_error();
        }
    } else {
        for (auto it = elements.rbegin(); it != elements.rend(); ++it) {
            tracked = tracked || may_be_tracked(*it);
            list.push_front_in_place(py::HeldRef::borrow(*it));
        }
    }
    return list_result(type, std::move(list), tracked);
}

Outcome<py::Ref> list_first(PyObject* self) {
    return peeked(list_of(self).first(), kEmptyListMessage);
}

/// The list without its first element; the empty list's rest is an empty list. Built
/// in the new object: one count taken, on the node the result starts at.
Outcome<py::Ref> list_rest(PyObject* self) {
    const ListRecord& list = list_of(self);
    // Tracked as its source, unless it comes out empty (list_result's rule).
    return make_instance<ListRecord>(
        Py_TYPE(self), [&list]() noexcept { return list.rest(); },
        is_tracked(self) && list.len() > 1);
}

constexpr std::string_view kPushFrontParameters[] = {"other"};
constexpr ArgumentSpec kListPushFront{
    .class_name = "List",
    .method = "push_front",
    .parameters = kPushFrontParameters,
    .required_positional = 1,
    .extras = Extras::kNone,
};

Outcome<py::Ref> list_push_front(PyObject* self, const ParsedArgs& args) {
    const bool tracked = may_be_tracked(args[0]) || is_tracked(self);
    return new_list(self, list_of(self).push_front(py::HeldRef::borrow(args[0])), tracked);
}

Outcome<py::Ref> list_drop_first(PyObject* self) {
    const ListRecord& list = list_of(self);
    if (list.is_empty()) {
        return PendingError::message(PyExc_IndexError, kEmptyListMessage);
    }
    return make_instance<ListRecord>(
        Py_TYPE(self), [&list]() noexcept { return list.rest(); },
        is_tracked(self) && list.len() > 1);
}

Outcome<py::Ref> list_reversed(PyObject* self) {
    return new_list(self, list_of(self).reverse(), is_tracked(self));
}

/// (List, ([elements front to back],)): unpickling calls List(python_list).
Outcome<py::Ref> list_reduce(PyObject* self) {
    const ListRecord& list = list_of(self);
    py::Ref elements = py::Ref::steal(PyList_New(static_cast<Py_ssize_t>(list.len())));
    if (!elements) {
        return PendingError::fetch();
    }
    Py_ssize_t index = 0;
    for (const py::HeldRef& element : list) {
        PyList_SET_ITEM(elements.get(), index++, element.ref().release());
    }
    py::Ref result = py::Ref::steal(Py_BuildValue("(O(N))", Py_TYPE(self), elements.release()));
    if (!result) {
        return PendingError::fetch();
    }
    return result;
}

Outcome<py::Ref> list_repr(PyObject* self) {
    return elements_repr("List([", "])", elements_of(list_of(self)));
}

/// Length, and equality and the hash front to back.
constexpr char kListName[] = "List";
using ListSlots = SequenceSlots<ListRecord, kListName>;

Outcome<py::Ref> list_iter(PyObject* self) {
    return new_list_iterator(list_of(self), is_tracked(self));
}

/// __deepcopy__(memo): the elements deep-copied front to back; see deep_copy.
Outcome<py::Ref> list_deepcopy(PyObject* self, PyObject* memo) {
    return deep_copy(self, memo, elements_of(list_of(self)),
                     [self](std::vector<py::HeldRef> copies) {
                         ListRecord list;
                         bool tracked = false;
                         for (auto it = copies.rbegin(); it != copies.rend(); ++it) {
                             tracked = tracked || may_be_tracked(it->get());
                             list.push_front_in_place(std::move(*it));
                         }
                         return new_list(self, std::move(list), tracked);
                     });
}

PyMethodDef list_methods[] = {
    {"push_front", as_pycfunction(&fastcall<kListPushFront, list_push_front>),
     METH_FASTCALL | METH_KEYWORDS, "push_front($self, other)\n--\n\n"},
    {"drop_first", as_pycfunction(&noargs<list_drop_first>), METH_NOARGS,
     "drop_first($self)\n--\n\n"},
    {"__reversed__", as_pycfunction(&noargs<list_reversed>), METH_NOARGS,
     "__reversed__($self)\n--\n\n"},
    {"__reduce__", as_pycfunction(&noargs<list_reduce>), METH_NOARGS,
     "__reduce__($self)\n--\n\n"},
    {"__copy__", as_pycfunction(&noargs<copy_self>), METH_NOARGS, "__copy__($self)\n--\n\n"},
    {"__deepcopy__", as_pycfunction(&binary<list_deepcopy>), METH_O,
     "__deepcopy__($self, memo, /)\n--\n\n"},
    {"__class_getitem__", Py_GenericAlias, METH_O | METH_CLASS,
     "__class_getitem__($type, item, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef list_getset[] = {
    {"first", &getter<list_first>, nullptr, nullptr, nullptr},
    {"rest", &getter<list_rest>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot list_slots[] = {
    {Py_tp_new, as_slot(&constructor<kListNew, list_new>)},
    {Py_tp_methods, list_methods},
    {Py_tp_getset, list_getset},
    {Py_sq_length, as_slot(&length<ListSlots::len>)},
    {Py_tp_repr, as_slot(&repr<list_repr>)},
    {Py_tp_richcompare, as_slot(&richcompare<ListSlots::richcompare>)},
    {Py_tp_hash, as_slot(&hash<ListSlots::hash>)},
    {Py_tp_iter, as_slot(&unary<list_iter>)},
    {0, nullptr},
};

}  // namespace

ClassSpec kListClass{
    .qualified_name = "quil.List",
    .doc = "List(*elements)\n--\n\n",
    .basic_size = sizeof(Instance<ListRecord>),
    .slots = list_slots,
    .dealloc = dealloc_instance<ListRecord>,
    .traverse = traverse_instance<ListRecord>,
    .immutable = true,
    .index = kListIndex,
};

}  // namespace quil
