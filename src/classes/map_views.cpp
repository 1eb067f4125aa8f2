// KeysView, ValuesView and ItemsView: what a map's keys(), values() and items() return.
// A view object holds its own copy of the map's record (O(1), sharing every node) and
// nothing else, so it shows exactly the map it came from; maps never change, so neither
// do views, and no view operation can be refused.
#include <Python.h>

#include <string>
#include <utility>

#include "bridge/classes.hpp"
#include "bridge/equality.hpp"
#include "bridge/records.hpp"
#include "bridge/repr.hpp"
#include "bridge/set_compare.hpp"
#include "bridge/traverse.hpp"
#include "bridge/walks.hpp"
#include "runtime/adapters.hpp"
#include "runtime/errors.hpp"

namespace quil {

namespace {

const MapRecord& view_of(PyObject* self) { return payload_of<MapRecord>(self); }

/// A new view of class Spec over `map`; tracked when `tracked` says the map may hold a
/// tracked object, unless it is empty.
template <ClassSpec& Spec>
Outcome<py::Ref> new_view(MapRecord map, bool tracked) {
    const bool track = tracked && !map.is_empty();
    return new_instance(type_for_operation(Spec), std::move(map), track);
}

Outcome<Py_ssize_t> view_len(PyObject* self) {
    return static_cast<Py_ssize_t>(view_of(self).size());
}

// ---------------------------------------------------------------- iteration

Outcome<py::Ref> keys_iter(PyObject* self) {
    return new_keys_iterator(view_of(self), is_tracked(self));
}
Outcome<py::Ref> values_iter(PyObject* self) {
    return new_values_iterator(view_of(self), is_tracked(self));
}
Outcome<py::Ref> items_iter(PyObject* self) {
    return new_items_iterator(view_of(self), is_tracked(self));
}

// ---------------------------------------------------------------- repr

/// keys_view({...}) and values_view([...]): each element's own __repr__, or
/// "<repr failed>".
template <bool kKeys>
Outcome<py::Ref> key_or_value_repr(PyObject* self) {
    Lookahead<MapRecord> walk(view_of(self));
    return elements_repr(kKeys ? "keys_view({" : "values_view([", kKeys ? "})" : "])",
                         [&walk]() -> PyObject* {
                             const auto* entry = walk.next();
                             if (entry == nullptr) {
                                 return nullptr;
                             }
                             return kKeys ? entry->key().object() : entry->value().get();
                         });
}

/// items_view([...]): repr() of each (key, value) tuple, whose text has anything that
/// does not encode (a lone surrogate) replaced by U+FFFD; a failing repr shows as
/// "<unprintable tuple object>", unless its error may not be discarded.
Outcome<py::Ref> items_repr(PyObject* self) {
    Lookahead<MapRecord> walk(view_of(self));
    return joined_repr(
        "items_view([", "])", [&walk] { return walk.next(); },
        [](std::string& text, const MapRecord::Entry* entry) -> Status {
            py::Ref pair =
                py::Ref::steal(PyTuple_Pack(2, entry->key().object(), entry->value().get()));
            if (!pair) {
                return PendingError::fetch();
            }
            py::Ref pair_text = py::Ref::steal(PyObject_Repr(pair.get()));
            if (!pair_text) {
                if (!raised_error_is_discardable()) {
                    return PendingError::fetch();
                }
                text += unprintable(pair.get());
                return Unit{};
            }
            auto utf8 = utf8_replacing_invalid(pair_text.get());
            if (!utf8.ok()) {
                return std::move(utf8).take_error();
            }
            text += utf8.value();
            return Unit{};
        });
}

// ---------------------------------------------------------------- membership

Outcome<bool> keys_contains(PyObject* self, PyObject* key_object) {
    auto key = Key::make_argument(key_object, "key");
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    return view_of(self).contains(key.value());
}

/// The argument of ItemsView membership: a (key, value) 2-tuple, its key hashed.
struct ItemViewQuery {
    Key key;
    PyObject* value;  // borrowed from the tuple

    /// Errors carry the note for the argument "item". A key that cannot be hashed is
    /// reported as a field error caused by the hashing error.
    static Outcome<ItemViewQuery> extract(PyObject* item) {
        if (!PyTuple_Check(item)) {
            return type_mismatch(item, "tuple").with_note("item");
        }
        if (PyTuple_GET_SIZE(item) != 2) {
            return wrong_pair_length(PyTuple_GET_SIZE(item)).with_note("item");
        }
        auto key = Key::make(PyTuple_GET_ITEM(item, 0));
        if (!key.ok()) {
            py::Ref cause = std::move(key).take_error().into_exception();
            py::Ref error =
                PendingError::message(PyExc_TypeError, "failed to extract field ItemViewQuery.0")
                    .into_exception();
            PyException_SetCause(error.get(), cause.release());
            return PendingError::ready(std::move(error)).with_note("item");
        }
        return ItemViewQuery{std::move(key).take_value(), PyTuple_GET_ITEM(item, 1)};
    }
};

Outcome<bool> items_contains(PyObject* self, PyObject* item) {
    auto query = ItemViewQuery::extract(item);
    if (!query.ok()) {
        return std::move(query).take_error();
    }
    const auto* entry = view_of(self).lookup(query.value().key);
    if (entry == nullptr) {
        return false;
    }
    return equal_objects(query.value().value, entry->value().get());
}

// ---------------------------------------------------------------- algebra

Outcome<py::Ref> new_pair(PyObject* key, PyObject* value) {
    PyObject* pair = PyTuple_Pack(2, key, value);
    if (pair == nullptr) {
        return PendingError::fetch();
    }
    return py::Ref::steal(pair);
}

/// The (key, value) tuple of an entry, as an element of an ItemsView.
Outcome<py::Ref> pair_of(const MapRecord::Entry& entry) {
    return new_pair(entry.key().object(), entry.value().get());
}

/// item[0], by subscription.
Outcome<py::Ref> first_item(PyObject* item) {
    // Small ints are preallocated: this makes no object.
    py::Ref zero = py::Ref::steal(PyLong_FromLong(0));
    PyObject* first = PyObject_GetItem(item, zero.get());
    if (first == nullptr) {
        return PendingError::fetch();
    }
    return py::Ref::steal(first);
}

/// For an element x of a foreign iterable: the new pair (x[0], stored value) when
/// x[0] is a key of the map and that pair == x; an empty Ref when x does not belong.
Outcome<py::Ref> matching_pair(const MapRecord& map, PyObject* x) {
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

/// Hashes `object` and inserts it into `set` in place.
Status insert_hashed(SetRecord& set, PyObject* object) {
    auto key = Key::make(object);
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    set.insert_in_place(std::move(key).take_value());
    return Unit{};
}

/// Whether a new (key, value) pair may take part in a reference cycle: whether its key or
/// its value may be tracked. The tuple itself may be tracked while it holds only untracked
/// objects (the collector untracks such tuples when it next looks at them), and a set
/// holding it is then as safe untracked as a set holding the two objects.
bool pair_may_be_tracked(PyObject* pair) noexcept {
    return may_be_tracked(PyTuple_GET_ITEM(pair, 0)) || may_be_tracked(PyTuple_GET_ITEM(pair, 1));
}

/// KeysView & other: the elements of `other` that are keys of the map (the objects of
/// `other`; the last of several equal ones stays), in a new set.
Outcome<py::Ref> keys_intersection_with(PyObject* view, PyObject* other) {
    const MapRecord& map = view_of(view);
    SetRecord result = SetRecord::create();
    bool tracked = false;
    Status done = for_each_item(other, [&](py::Ref item) -> Status {
        auto key = Key::make(item.get());
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        if (map.contains(key.value())) {
            tracked = tracked || may_be_tracked(item.get());
            result.insert_in_place(std::move(key).take_value());
        }
        return Unit{};
    });
    if (!done.ok()) {
        return std::move(done).take_error();
    }
    return new_set_object(std::move(result), tracked);
}

/// KeysView | other: the map with every element of `other` inserted as a key mapped to
/// None, as a new KeysView. It keeps the map's hash keys, so the map's order.
Outcome<py::Ref> keys_union_with(PyObject* view, PyObject* other) {
    MapRecord result = view_of(view);
    bool tracked = is_tracked(view);
    Status done = for_each_item(other, [&](py::Ref item) -> Status {
        auto key = Key::make(item.get());
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        tracked = tracked || may_be_tracked(item.get());
        result.insert_in_place(std::move(key).take_value(), py::HeldRef::borrow(Py_None));
        return Unit{};
    });
    if (!done.ok()) {
        return std::move(done).take_error();
    }
    return new_view<kKeysViewClass>(std::move(result), tracked);
}

/// ItemsView & other: for each x of `other` whose x[0] is a key and (x[0], value) == x,
/// that new pair, in a new set.
Outcome<py::Ref> items_intersection_with(PyObject* view, PyObject* other) {
    const MapRecord& map = view_of(view);
    SetRecord result = SetRecord::create();
    bool tracked = false;
    Status done = for_each_item(other, [&](py::Ref item) -> Status {
        auto pair = matching_pair(map, item.get());
        if (!pair.ok()) {
            return std::move(pair).take_error();
        }
        if (!pair.value()) {
            return Unit{};
        }
        tracked = tracked || pair_may_be_tracked(pair.value().get());
        return insert_hashed(result, pair.value().get());
    });
    if (!done.ok()) {
        return std::move(done).take_error();
    }
    return new_set_object(std::move(result), tracked);
}

/// ItemsView | other: every (key, value) pair of the map, then every element of
/// `other`, in a new set; all must be hashable.
Outcome<py::Ref> items_union_with(PyObject* view, PyObject* other) {
    SetRecord result = SetRecord::create();
    bool tracked = false;
    Lookahead<MapRecord> walk(view_of(view));
    while (const auto* entry = walk.next()) {
        auto pair = pair_of(*entry);
        if (!pair.ok()) {
            return std::move(pair).take_error();
        }
        tracked = tracked || pair_may_be_tracked(pair.value().get());
        if (Status inserted = insert_hashed(result, pair.value().get()); !inserted.ok()) {
            return std::move(inserted).take_error();
        }
    }
    Status done = for_each_item(other, [&](py::Ref item) -> Status {
        tracked = tracked || may_be_tracked(item.get());
        return insert_hashed(result, item.get());
    });
    if (!done.ok()) {
        return std::move(done).take_error();
    }
    return new_set_object(std::move(result), tracked);
}

/// An operation of a view (the first argument) with another object.
using ViewOperation = Outcome<py::Ref> (*)(PyObject*, PyObject*);

template <ViewOperation Operation>
Outcome<py::Ref> view_method(PyObject* self, const ParsedArgs& args) {
    return Operation(self, args[0]);
}

/// The & and | slots: they act only with an instance of the view's class on the left.
template <ClassSpec& Spec, ViewOperation Operation>
Outcome<py::Ref> view_operator(PyObject* left, PyObject* right) {
    if (!PyObject_TypeCheck(left, type_for_operation(Spec))) {
        return py::Ref::borrow(Py_NotImplemented);
    }
    return Operation(left, right);
}

constexpr std::string_view kOtherParameter[] = {"other"};
constexpr ArgumentSpec kKeysIntersection{
    .class_name = "KeysView",
    .method = "intersection",
    .parameters = kOtherParameter,
    .required_positional = 1,
    .extras = Extras::kNone,
};
constexpr ArgumentSpec kKeysUnion{
    .class_name = "KeysView",
    .method = "union",
    .parameters = kOtherParameter,
    .required_positional = 1,
    .extras = Extras::kNone,
};
constexpr ArgumentSpec kItemsIntersection{
    .class_name = "ItemsView",
    .method = "intersection",
    .parameters = kOtherParameter,
    .required_positional = 1,
    .extras = Extras::kNone,
};
constexpr ArgumentSpec kItemsUnion{
    .class_name = "ItemsView",
    .method = "union",
    .parameters = kOtherParameter,
    .required_positional = 1,
    .extras = Extras::kNone,
};

// ---------------------------------------------------------------- comparison

/// A KeysView as a set: its elements are the map's key objects.
struct KeysViewReceiver {
    const MapRecord& map;

    Py_ssize_t size() const { return static_cast<Py_ssize_t>(map.size()); }
    Outcome<bool> within(PyObject* other) const {
        return every_entry_in(map, other, key_object_of<MapRecord::Entry>);
    }
    Outcome<bool> holds_all_of(PyObject* other) const { return every_item_a_key_of(map, other); }
};

/// An ItemsView as a set: its elements are new (key, value) tuples; an item of another
/// set belongs when its [0] is a key and it equals (key, stored value).
struct ItemsViewReceiver {
    const MapRecord& map;

    Py_ssize_t size() const { return static_cast<Py_ssize_t>(map.size()); }
    Outcome<bool> within(PyObject* other) const { return every_entry_in(map, other, pair_of); }
    Outcome<bool> holds_all_of(PyObject* other) const {
        return all_items(other, [this](py::Ref x) -> Outcome<bool> {
            auto pair = matching_pair(map, x.get());
            if (!pair.ok()) {
                return std::move(pair).take_error();
            }
            return static_cast<bool>(pair.value());
        });
    }
};

/// Comparison against any collections.abc.Set, as for HashTrieSet. KeysView equality
/// walks `other`; ItemsView equality walks the view.
Outcome<py::Ref> keys_richcompare(PyObject* self, PyObject* other, int op) {
    return compare_as_sets(self, other, op, KeysViewReceiver{view_of(self)}, false);
}
Outcome<py::Ref> items_richcompare(PyObject* self, PyObject* other, int op) {
    return compare_as_sets(self, other, op, ItemsViewReceiver{view_of(self)}, true);
}

PyMethodDef keys_view_methods[] = {
    {"intersection",
     as_pycfunction(&fastcall<kKeysIntersection, view_method<keys_intersection_with>>),
     METH_FASTCALL | METH_KEYWORDS, "intersection($self, other)\n--\n\n"},
    {"union", as_pycfunction(&fastcall<kKeysUnion, view_method<keys_union_with>>),
     METH_FASTCALL | METH_KEYWORDS, "union($self, other)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef items_view_methods[] = {
    {"intersection",
     as_pycfunction(&fastcall<kItemsIntersection, view_method<items_intersection_with>>),
     METH_FASTCALL | METH_KEYWORDS, "intersection($self, other)\n--\n\n"},
    {"union", as_pycfunction(&fastcall<kItemsUnion, view_method<items_union_with>>),
     METH_FASTCALL | METH_KEYWORDS, "union($self, other)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot keys_view_slots[] = {
    {Py_tp_methods, keys_view_methods},
    {Py_mp_length, as_slot(&length<view_len>)},
    {Py_tp_iter, as_slot(&unary<keys_iter>)},
    {Py_tp_repr, as_slot(&repr<key_or_value_repr<true>>)},
    {Py_sq_contains, as_slot(&contains<keys_contains>)},
    {Py_nb_and, as_slot(&binary<view_operator<kKeysViewClass, keys_intersection_with>>)},
    {Py_nb_or, as_slot(&binary<view_operator<kKeysViewClass, keys_union_with>>)},
    {Py_tp_richcompare, as_slot(&richcompare<keys_richcompare>)},
    {0, nullptr},
};

PyType_Slot values_view_slots[] = {
    {Py_mp_length, as_slot(&length<view_len>)},
    {Py_tp_iter, as_slot(&unary<values_iter>)},
    {Py_tp_repr, as_slot(&repr<key_or_value_repr<false>>)},
    {0, nullptr},
};

PyType_Slot items_view_slots[] = {
    {Py_tp_methods, items_view_methods},
    {Py_mp_length, as_slot(&length<view_len>)},
    {Py_tp_iter, as_slot(&unary<items_iter>)},
    {Py_tp_repr, as_slot(&repr<items_repr>)},
    {Py_sq_contains, as_slot(&contains<items_contains>)},
    {Py_nb_and, as_slot(&binary<view_operator<kItemsViewClass, items_intersection_with>>)},
    {Py_nb_or, as_slot(&binary<view_operator<kItemsViewClass, items_union_with>>)},
    {Py_tp_richcompare, as_slot(&richcompare<items_richcompare>)},
    {0, nullptr},
};

/// The ClassSpec of a view class: an object holding a MapRecord, with no constructor.
constexpr ClassSpec view_class(const char* qualified_name, PyType_Slot* slots, ClassIndex index) {
    return ClassSpec{
        .qualified_name = qualified_name,
        .doc = nullptr,
        .basic_size = sizeof(Instance<MapRecord>),
        .slots = slots,
        .dealloc = dealloc_instance<MapRecord>,
        .traverse = traverse_instance<MapRecord>,
        .immutable = true,
        .index = index,
    };
}

}  // namespace

ClassSpec kKeysViewClass = view_class("quil.KeysView", keys_view_slots, kKeysViewIndex);
ClassSpec kValuesViewClass = view_class("quil.ValuesView", values_view_slots, kValuesViewIndex);
ClassSpec kItemsViewClass = view_class("quil.ItemsView", items_view_slots, kItemsViewIndex);

Outcome<py::Ref> new_keys_view(MapRecord map, bool tracked) {
    return new_view<kKeysViewClass>(std::move(map), tracked);
}
Outcome<py::Ref> new_values_view(MapRecord map, bool tracked) {
    return new_view<kValuesViewClass>(std::move(map), tracked);
}
Outcome<py::Ref> new_items_view(MapRecord map, bool tracked) {
    return new_view<kItemsViewClass>(std::move(map), tracked);
}

}  // namespace quil
