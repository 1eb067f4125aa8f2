// KeysView, ValuesView and ItemsView: what a map's keys(), values() and items() return.
// A view holds its own copy of the map's record (O(1), sharing every node), so it shows
// exactly the map it came from; maps never change, so neither do views.
#include <Python.h>

#include <string>

#include "bridge/classes.hpp"
#include "bridge/iterate.hpp"
#include "bridge/lookahead.hpp"
#include "bridge/sequence.hpp"
#include "bridge/set_compare.hpp"
#include "classes/iterators.hpp"
#include "classes/map.hpp"
#include "classes/map_views.hpp"
#include "classes/set.hpp"
#include "runtime/adapters.hpp"
#include "runtime/errors.hpp"

namespace quil {

namespace {

/// A view object's payload: its own copy of the map's record, and a use counter. Every
/// view operation holds a shared use while it runs; nothing ever takes an exclusive
/// one, so a view never refuses an operation (the counter keeps the layout and the
/// protocol of the iterators, which do take exclusive uses).
struct ViewPayload {
    MapValue map;
    UseCounter uses;

    explicit ViewPayload(MapValue m) noexcept : map(std::move(m)) {}
    ViewPayload(ViewPayload&& other) noexcept : map(std::move(other.map)) {}
};

/// A shared use of a view for the duration of one operation.
class ViewUse {
public:
    explicit ViewUse(PyObject* self) : payload_(payload_of<ViewPayload>(self)) {
        if (!payload_.uses.try_shared()) {
            panic("a map view was taken for exclusive use");
        }
    }
    ~ViewUse() { payload_.uses.end_shared(); }
    ViewUse(const ViewUse&) = delete;
    ViewUse& operator=(const ViewUse&) = delete;

    const MapValue& map() const noexcept { return payload_.map; }

private:
    ViewPayload& payload_;
};

template <ClassSpec& Spec>
Outcome<py::Ref> new_view(MapValue map) {
    return new_instance(type_for_operation(Spec), ViewPayload(std::move(map)));
}

Outcome<Py_ssize_t> view_len(PyObject* self) {
    ViewUse use(self);
    return static_cast<Py_ssize_t>(use.map().size());
}

// ---------------------------------------------------------------- iteration

Outcome<py::Ref> keys_iter(PyObject* self) {
    ViewUse use(self);
    return make_keys_iterator(use.map());
}
Outcome<py::Ref> values_iter(PyObject* self) {
    ViewUse use(self);
    return make_values_iterator(use.map());
}
Outcome<py::Ref> items_iter(PyObject* self) {
    ViewUse use(self);
    return make_items_iterator(use.map());
}

// ---------------------------------------------------------------- repr

/// keys_view({...}) and values_view([...]): each element's own __repr__, or
/// "<repr failed>".
template <bool kKeys>
Outcome<py::Ref> key_or_value_repr(PyObject* self) {
    std::string text = kKeys ? "keys_view({" : "values_view([";
    ViewUse use(self);
    Lookahead<MapValue> walk(use.map());
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
    ViewUse use(self);
    Lookahead<MapValue> walk(use.map());
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
    ViewUse use(self);
    return use.map().contains(key.value());
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
        py::Ref cause = std::move(key).take_error().into_exception();
        py::Ref error =
            PendingError::message(PyExc_TypeError, "failed to extract field ItemViewQuery.0")
                .into_exception();
        PyException_SetCause(error.get(), cause.release());
        return PendingError::ready(std::move(error)).with_note("item");
    }
    return ItemViewQuery{std::move(key).take_value(), PyTuple_GET_ITEM(item, 1)};
}

namespace {

Outcome<bool> items_contains(PyObject* self, PyObject* item) {
    auto query = ItemViewQuery::extract(item);
    if (!query.ok()) {
        return std::move(query).take_error();
    }
    ViewUse use(self);
    const auto* entry = use.map().lookup(query.value().key);
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

// ---------------------------------------------------------------- algebra

/// PyObject_RichCompare(a, b, Py_EQ) and its truth, without identity shortcuts.
Outcome<bool> equal_objects(PyObject* a, PyObject* b) {
    py::Ref result = py::Ref::steal(PyObject_RichCompare(a, b, Py_EQ));
    const int truth = result ? PyObject_IsTrue(result.get()) : -1;
    if (truth < 0) {
        return PendingError::fetch();
    }
    return truth == 1;
}

Outcome<py::Ref> new_pair(PyObject* key, PyObject* value) {
    PyObject* pair = PyTuple_Pack(2, key, value);
    if (pair == nullptr) {
        return PendingError::fetch();
    }
    return py::Ref::steal(pair);
}

/// item[0], by subscription.
Outcome<py::Ref> first_item(PyObject* item) {
    static PyObject* const zero = PyLong_FromLong(0);
    PyObject* first = PyObject_GetItem(item, zero);
    if (first == nullptr) {
        return PendingError::fetch();
    }
    return py::Ref::steal(first);
}

/// For an element x of a foreign iterable: the new pair (x[0], stored value) when
/// x[0] is a key of the map and that pair == x; an empty Ref when x does not belong.
Outcome<py::Ref> matching_pair(const MapValue& map, PyObject* x) {
    auto key_object = first_item(x);
    if (!key_object.ok()) {
        return std::move(key_object).take_error();
    }
    auto key = Key::make(key_object.value().get());
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    const auto* entry = map.lookup(key.value());
    if (entry == nullptr) {
        return py::Ref();
    }
    auto pair = new_pair(key_object.value().get(), entry->value().get());
    if (!pair.ok()) {
        return pair;
    }
    auto equal = equal_objects(pair.value().get(), x);
    if (!equal.ok()) {
        return std::move(equal).take_error();
    }
    return equal.value() ? std::move(pair).take_value() : py::Ref();
}

/// KeysView & other: the elements of `other` that are keys of the map (the objects of
/// `other`; the last of several equal ones stays), in a new set.
Outcome<py::Ref> keys_intersection_with(const MapValue& map, PyObject* other) {
    SetValue result = SetValue::create();
    Status done = for_each_item(other, [&](py::Ref item) -> Status {
        PyObject* x = item.get();
        auto key = Key::make(x);
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        if (map.contains(key.value())) {
            result.insert_in_place(std::move(key).take_value());
        }
        return Unit{};
    });
    if (!done.ok()) {
        return std::move(done).take_error();
    }
    return new_set_object(std::move(result));
}

/// KeysView | other: the map with every element of `other` inserted as a key mapped to
/// None, as a new KeysView. It keeps the map's hash keys, so the map's order.
Outcome<py::Ref> keys_union_with(const MapValue& map, PyObject* other) {
    MapValue result = map;
    Status done = for_each_item(other, [&](py::Ref item) -> Status {
        PyObject* x = item.get();
        auto key = Key::make(x);
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        result.insert_in_place(std::move(key).take_value(), py::HeldRef::borrow(Py_None));
        return Unit{};
    });
    if (!done.ok()) {
        return std::move(done).take_error();
    }
    return new_view<kKeysViewClass>(std::move(result));
}

/// ItemsView & other: for each x of `other` whose x[0] is a key and (x[0], value) == x,
/// that new pair, in a new set.
Outcome<py::Ref> items_intersection_with(const MapValue& map, PyObject* other) {
    SetValue result = SetValue::create();
    Status done = for_each_item(other, [&](py::Ref item) -> Status {
        PyObject* x = item.get();
        auto pair = matching_pair(map, x);
        if (!pair.ok()) {
            return std::move(pair).take_error();
        }
        if (pair.value()) {
            auto pair_key = Key::make(pair.value().get());
            if (!pair_key.ok()) {
                return std::move(pair_key).take_error();
            }
            result.insert_in_place(std::move(pair_key).take_value());
        }
        return Unit{};
    });
    if (!done.ok()) {
        return std::move(done).take_error();
    }
    return new_set_object(std::move(result));
}

/// ItemsView | other: every (key, value) pair of the map, then every element of
/// `other`, in a new set; all must be hashable.
Outcome<py::Ref> items_union_with(const MapValue& map, PyObject* other) {
    SetValue result = SetValue::create();
    Lookahead<MapValue> walk(map);
    while (const auto* entry = walk.next()) {
        auto pair = new_pair(entry->key().object(), entry->value().get());
        if (!pair.ok()) {
            return std::move(pair).take_error();
        }
        auto pair_key = Key::make(pair.value().get());
        if (!pair_key.ok()) {
            return std::move(pair_key).take_error();
        }
        result.insert_in_place(std::move(pair_key).take_value());
    }
    Status done = for_each_item(other, [&](py::Ref item) -> Status {
        PyObject* x = item.get();
        auto key = Key::make(x);
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        result.insert_in_place(std::move(key).take_value());
        return Unit{};
    });
    if (!done.ok()) {
        return std::move(done).take_error();
    }
    return new_set_object(std::move(result));
}

template <Outcome<py::Ref> (*Operation)(const MapValue&, PyObject*)>
Outcome<py::Ref> view_method(PyObject* self, const ParsedArgs& args) {
    ViewUse use(self);
    return Operation(use.map(), args[0]);
}

/// The & and | slots: they act only with an instance of the view's class on the left.
template <ClassSpec& Spec, Outcome<py::Ref> (*Operation)(const MapValue&, PyObject*)>
Outcome<py::Ref> view_operator(PyObject* left, PyObject* right) {
    if (!PyObject_TypeCheck(left, type_for_operation(Spec))) {
        return py::Ref::borrow(Py_NotImplemented);
    }
    ViewUse use(left);
    return Operation(use.map(), right);
}

constexpr std::string_view kOtherParameter[] = {"other"};
constexpr ArgumentSpec kKeysIntersection{"KeysView", "intersection", kOtherParameter, 0, 1};
constexpr ArgumentSpec kKeysUnion{"KeysView", "union", kOtherParameter, 0, 1};
constexpr ArgumentSpec kItemsIntersection{"ItemsView", "intersection", kOtherParameter, 0, 1};
constexpr ArgumentSpec kItemsUnion{"ItemsView", "union", kOtherParameter, 0, 1};

// ---------------------------------------------------------------- comparison

/// Whether every element of the view (a key object, or a new (key, value) tuple) is in
/// `other` by its own membership test.
template <bool kItems>
Outcome<bool> view_within(const MapValue& map, PyObject* other) {
    Lookahead<MapValue> walk(map);
    while (const auto* entry = walk.next()) {
        py::Ref element;
        if constexpr (kItems) {
            auto pair = new_pair(entry->key().object(), entry->value().get());
            if (!pair.ok()) {
                return std::move(pair).take_error();
            }
            element = std::move(pair).take_value();
        } else {
            element = py::Ref::borrow(entry->key().object());
        }
        const int found = PySequence_Contains(other, element.get());
        if (found < 0) {
            return PendingError::fetch();
        }
        if (found == 0) {
            return false;
        }
    }
    return true;
}

/// Whether every element of `other` belongs to the view: a key of the map, or for
/// items a pair whose [0] is a key and that equals (key, stored value).
template <bool kItems>
Outcome<bool> other_within(const MapValue& map, PyObject* other) {
    return all_items(other, [&](py::Ref x) -> Outcome<bool> {
        if constexpr (kItems) {
            auto pair = matching_pair(map, x.get());
            if (!pair.ok()) {
                return std::move(pair).take_error();
            }
            return static_cast<bool>(pair.value());
        } else {
            auto key = Key::make(x.get());
            if (!key.ok()) {
                return std::move(key).take_error();
            }
            return map.contains(key.value());
        }
    });
}

/// Comparison against any collections.abc.Set, as for HashTrieSet. KeysView equality
/// walks `other`; ItemsView equality walks the view.
template <bool kItems>
Outcome<py::Ref> view_richcompare(PyObject* self, PyObject* other, int op) {
    if (op == Py_NE) {
        return set_not_equal(self, other);
    }
    ViewUse use(self);
    const MapValue& map = use.map();
    auto comparison =
        reduce_set_comparison(other, op, static_cast<Py_ssize_t>(map.size()), kItems);
    if (!comparison.ok()) {
        return std::move(comparison).take_error();
    }
    const SetComparison how = comparison.value();
    if (how.answered) {
        return py::Ref::borrow(how.answer ? Py_True : Py_False);
    }
    auto within = how.containment == Containment::kSelfInOther ? view_within<kItems>(map, other)
                                                               : other_within<kItems>(map, other);
    if (!within.ok()) {
        return std::move(within).take_error();
    }
    return py::Ref::borrow(within.value() ? Py_True : Py_False);
}

PyMethodDef keys_view_methods[] = {
    {"intersection",
     as_pycfunction(&fastcall<kKeysIntersection, Extras::kNone, view_method<keys_intersection_with>>),
     METH_FASTCALL | METH_KEYWORDS, "intersection($self, other)\n--\n\n"},
    {"union", as_pycfunction(&fastcall<kKeysUnion, Extras::kNone, view_method<keys_union_with>>),
     METH_FASTCALL | METH_KEYWORDS, "union($self, other)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef items_view_methods[] = {
    {"intersection",
     as_pycfunction(
         &fastcall<kItemsIntersection, Extras::kNone, view_method<items_intersection_with>>),
     METH_FASTCALL | METH_KEYWORDS, "intersection($self, other)\n--\n\n"},
    {"union", as_pycfunction(&fastcall<kItemsUnion, Extras::kNone, view_method<items_union_with>>),
     METH_FASTCALL | METH_KEYWORDS, "union($self, other)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot keys_view_slots[] = {
    {Py_tp_methods, keys_view_methods},
    {Py_mp_length, as_slot(&length<view_len>)},
    {Py_tp_iter, as_slot(&unary<keys_iter>)},
    {Py_tp_repr, as_slot(&unary<key_or_value_repr<true>>)},
    {Py_sq_contains, as_slot(&contains<keys_contains>)},
    {Py_nb_and, as_slot(&binary<view_operator<kKeysViewClass, keys_intersection_with>>)},
    {Py_nb_or, as_slot(&binary<view_operator<kKeysViewClass, keys_union_with>>)},
    {Py_tp_richcompare, as_slot(&richcompare<view_richcompare<false>>)},
    {0, nullptr},
};

PyType_Slot values_view_slots[] = {
    {Py_mp_length, as_slot(&length<view_len>)},
    {Py_tp_iter, as_slot(&unary<values_iter>)},
    {Py_tp_repr, as_slot(&unary<key_or_value_repr<false>>)},
    {0, nullptr},
};

PyType_Slot items_view_slots[] = {
    {Py_tp_methods, items_view_methods},
    {Py_mp_length, as_slot(&length<view_len>)},
    {Py_tp_iter, as_slot(&unary<items_iter>)},
    {Py_tp_repr, as_slot(&unary<items_repr>)},
    {Py_sq_contains, as_slot(&contains<items_contains>)},
    {Py_nb_and, as_slot(&binary<view_operator<kItemsViewClass, items_intersection_with>>)},
    {Py_nb_or, as_slot(&binary<view_operator<kItemsViewClass, items_union_with>>)},
    {Py_tp_richcompare, as_slot(&richcompare<view_richcompare<true>>)},
    {0, nullptr},
};

}  // namespace

ClassSpec kKeysViewClass{"quil.KeysView", nullptr, sizeof(Instance<ViewPayload>), keys_view_slots,
                         dealloc_instance<ViewPayload>, {}};
ClassSpec kValuesViewClass{"quil.ValuesView", nullptr, sizeof(Instance<ViewPayload>),
                           values_view_slots, dealloc_instance<ViewPayload>, {}};
ClassSpec kItemsViewClass{"quil.ItemsView", nullptr, sizeof(Instance<ViewPayload>),
                          items_view_slots, dealloc_instance<ViewPayload>, {}};

Outcome<py::Ref> map_keys(PyObject* self) { return new_view<kKeysViewClass>(map_value(self)); }
Outcome<py::Ref> map_values(PyObject* self) {
    return new_view<kValuesViewClass>(map_value(self));
}
Outcome<py::Ref> map_items(PyObject* self) { return new_view<kItemsViewClass>(map_value(self)); }

}  // namespace quil
