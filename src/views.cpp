// KeysView, ValuesView and ItemsView: what a map's keys(), values() and items() return.
// A view holds its own copy of the map's record (O(1), sharing every node), so it shows
// exactly the map it came from; maps never change, so neither do views.
#include <Python.h>

#include <string>

#include "frame/adapters.hpp"
#include "frame/errors.hpp"
#include "iterators.hpp"
#include "lib/classes.hpp"
#include "map.hpp"
#include "sequence.hpp"
#include "views.hpp"

namespace quil {

namespace {

const MapValue& view_map(PyObject* self) { return payload_of<MapValue>(self); }

template <ClassSpec& Spec>
Outcome<py::Ref> new_view(MapValue map) {
    return new_instance(type_for_operation(Spec), std::move(map));
}

Outcome<Py_ssize_t> view_len(PyObject* self) {
    return static_cast<Py_ssize_t>(view_map(self).size());
}

// ---------------------------------------------------------------- iteration

Outcome<py::Ref> keys_iter(PyObject* self) { return make_keys_iterator(view_map(self)); }
Outcome<py::Ref> values_iter(PyObject* self) { return make_values_iterator(view_map(self)); }
Outcome<py::Ref> items_iter(PyObject* self) { return make_items_iterator(view_map(self)); }

// ---------------------------------------------------------------- repr

/// keys_view({...}) and values_view([...]): each element's own __repr__, or
/// "<repr failed>".
template <bool kKeys>
Outcome<py::Ref> key_or_value_repr(PyObject* self) {
    std::string text = kKeys ? "keys_view({" : "values_view([";
    auto walk = view_map(self).iter();
    bool first = true;
    while (const auto* entry = walk.next()) {
        if (!first) {
            text += ", ";
        }
        first = false;
        append_element_repr(text, kKeys ? entry->key().object() : entry->value().get());
    }
    text += kKeys ? "})" : "])";
    return text_result(text);
}

/// items_view([...]): repr() of each (key, value) tuple; a failing repr goes to the
/// unraisable hook and shows as "<unprintable tuple object>".
Outcome<py::Ref> items_repr(PyObject* self) {
    std::string text = "items_view([";
    auto walk = view_map(self).iter();
    bool first = true;
    while (const auto* entry = walk.next()) {
        if (!first) {
            text += ", ";
        }
        first = false;
        py::Ref pair = py::Ref::steal(PyTuple_Pack(2, entry->key().object(), entry->value().get()));
        if (!pair) {
            panic("could not create the (key, value) tuple of an items view");
        }
        py::Ref repr = py::Ref::steal(PyObject_Repr(pair.get()));
        if (repr) {
            py::Ref bytes =
                py::Ref::steal(PyUnicode_AsEncodedString(repr.get(), "utf-8", "replace"));
            if (bytes) {
                text.append(PyBytes_AS_STRING(bytes.get()),
                            static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
                continue;
            }
        }
        PyErr_WriteUnraisable(pair.get());
        py::Ref name = py::Ref::steal(PyType_GetName(Py_TYPE(pair.get())));
        std::string_view view;
        if (name && utf8_of(name.get(), view)) {
            text += "<unprintable " + std::string(view) + " object>";
        } else {
            PyErr_Clear();
            text += "<unprintable object>";
        }
    }
    text += "])";
    return text_result(text);
}

// ---------------------------------------------------------------- membership

Outcome<bool> keys_contains(PyObject* self, PyObject* key_object) {
    auto key = Key::make_argument(key_object, "key");
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    return view_map(self).contains(key.value());
}

}  // namespace

Outcome<ItemViewQuery> ItemViewQuery::extract(PyObject* item) {
    if (!PyTuple_Check(item)) {
        return type_mismatch(item, "tuple").with_note("item");
    }
    if (PyTuple_GET_SIZE(item) != 2) {
        return wrong_pair_length(PyTuple_GET_SIZE(item)).with_note("item");
    }
    auto key = Key::make(PyTuple_GET_ITEM(item, 0));
    if (!key.ok()) {
        // The field error, caused by the hashing error.
        std::move(key).take_error().raise();
        PyObject* cause = PyErr_GetRaisedException();
        PyErr_SetString(PyExc_TypeError, "failed to extract field ItemViewQuery.0");
        PyObject* error = PyErr_GetRaisedException();
        PyException_SetCause(error, cause);
        return PendingError::ready(py::Ref::steal(error)).with_note("item");
    }
    return ItemViewQuery{std::move(key).take_value(), PyTuple_GET_ITEM(item, 1)};
}

namespace {

Outcome<bool> items_contains(PyObject* self, PyObject* item) {
    auto query = ItemViewQuery::extract(item);
    if (!query.ok()) {
        return std::move(query).take_error();
    }
    const auto* entry = view_map(self).lookup(query.value().key);
    if (entry == nullptr) {
        return false;
    }
    py::Ref result = py::Ref::steal(
        PyObject_RichCompare(query.value().value, entry->value().get(), Py_EQ));
    const int equal = result ? PyObject_IsTrue(result.get()) : -1;
    if (equal < 0) {
        return PendingError::fetch();
    }
    return equal == 1;
}

PyType_Slot keys_view_slots[] = {
    {Py_mp_length, as_slot(&length<view_len>)},
    {Py_tp_iter, as_slot(&unary<keys_iter>)},
    {Py_tp_repr, as_slot(&unary<key_or_value_repr<true>>)},
    {Py_sq_contains, as_slot(&contains<keys_contains>)},
    {0, nullptr},
};

PyType_Slot values_view_slots[] = {
    {Py_mp_length, as_slot(&length<view_len>)},
    {Py_tp_iter, as_slot(&unary<values_iter>)},
    {Py_tp_repr, as_slot(&unary<key_or_value_repr<false>>)},
    {0, nullptr},
};

PyType_Slot items_view_slots[] = {
    {Py_mp_length, as_slot(&length<view_len>)},
    {Py_tp_iter, as_slot(&unary<items_iter>)},
    {Py_tp_repr, as_slot(&unary<items_repr>)},
    {Py_sq_contains, as_slot(&contains<items_contains>)},
    {0, nullptr},
};

}  // namespace

ClassSpec kKeysViewClass{"quil.KeysView", nullptr, sizeof(Instance<MapValue>), keys_view_slots,
                         dealloc_instance<MapValue>, {}};
ClassSpec kValuesViewClass{"quil.ValuesView", nullptr, sizeof(Instance<MapValue>),
                           values_view_slots, dealloc_instance<MapValue>, {}};
ClassSpec kItemsViewClass{"quil.ItemsView", nullptr, sizeof(Instance<MapValue>),
                          items_view_slots, dealloc_instance<MapValue>, {}};

Outcome<py::Ref> map_keys(PyObject* self) { return new_view<kKeysViewClass>(map_value(self)); }
Outcome<py::Ref> map_values(PyObject* self) {
    return new_view<kValuesViewClass>(map_value(self));
}
Outcome<py::Ref> map_items(PyObject* self) { return new_view<kItemsViewClass>(map_value(self)); }

}  // namespace quil
