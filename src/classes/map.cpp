// HashTrieMap: construction, lookup, persistent updates, repr, equality, hash, pickling.
#include "classes/map.hpp"

#include <string>
#include <utility>
#include <vector>

#include "bridge/classes.hpp"
#include "bridge/hashing.hpp"
#include "bridge/iterate.hpp"
#include "bridge/lookahead.hpp"
#include "bridge/sequence.hpp"
#include "classes/iterators.hpp"
#include "classes/map_views.hpp"
#include "quil/hash/siphash13.hpp"
#include "runtime/adapters.hpp"
#include "runtime/errors.hpp"

namespace quil {

namespace {

MapValue& map_of(PyObject* self) { return payload_of<MapValue>(self); }

PyTypeObject* map_type() { return type_for_operation(kHashTrieMapClass); }

/// (key, value) from a 2-tuple. A key that cannot be hashed is returned unchanged.
Outcome<std::pair<Key, py::HeldRef>> pair_from(PyObject* item) {
    if (!PyTuple_Check(item)) {
        return type_mismatch(item, "tuple");
    }
    if (PyTuple_GET_SIZE(item) != 2) {
        return wrong_pair_length(PyTuple_GET_SIZE(item));
    }
    auto key = Key::make(PyTuple_GET_ITEM(item, 0));
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    return std::pair{std::move(key).take_value(), py::HeldRef::borrow(PyTuple_GET_ITEM(item, 1))};
}

using MapMaker = TrieMaker<MapValue>;

Status add_pair(MapMaker& maker, PyObject* item) {
    auto pair = pair_from(item);
    if (!pair.ok()) {
        return std::move(pair).take_error();
    }
    auto& [key, value] = pair.value();
    maker.add(std::move(key), std::move(value));
    return Unit{};
}

/// Whether `value` is a mapping: a dict (by its type flag, calling nothing), or an
/// instance of collections.abc.Mapping. A failing isinstance check counts as "no" and
/// goes to the unraisable hook.
bool is_mapping(PyObject* value) {
    if (PyDict_Check(value)) {
        return true;
    }
    const int found = PyObject_IsInstance(value, abc_mapping());
    if (found < 0) {
        PyErr_WriteUnraisable(value);
        return false;
    }
    return found == 1;
}

/// Hands every (name, object) of a keyword dict, in its order, to `insert` (a MapValue
/// or a MapMaker). The dict is the call's own, but key hashing and comparison run
/// Python code, so it is watched for changes.
template <class Insert>
Status insert_keywords(Insert&& insert, PyObject* keywords) {
    const Py_ssize_t size = PyDict_GET_SIZE(keywords);
    Py_ssize_t position = 0;
    Py_ssize_t visited = 0;
    PyObject* name = nullptr;
    PyObject* object = nullptr;
    while (PyDict_Next(keywords, &position, &name, &object)) {
        py::Ref held_object = py::Ref::borrow(object);  // survives changes to the dict
        auto key = Key::make(name);
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        insert(std::move(key).take_value(), py::HeldRef::from(std::move(held_object)));
        ++visited;
        if (PyDict_GET_SIZE(keywords) != size) {
            panic("dictionary changed size during iteration");
        }
        if (visited > size) {
            panic("dictionary keys changed during iteration");
        }
    }
    return Unit{};
}

/// A dict's items as they stand now, from (key, value), the item PyDict_Next just gave
/// at `position`, to the end, with a reference to every key and value: what
/// dict.items() would list from there, without making a tuple per item.
std::vector<std::pair<py::HeldRef, py::HeldRef>> dict_snapshot(PyObject* dict, Py_ssize_t position,
                                                               PyObject* key, PyObject* value) {
    std::vector<std::pair<py::HeldRef, py::HeldRef>> items;
    items.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
    do {
        items.emplace_back(py::HeldRef::borrow(key), py::HeldRef::borrow(value));
    } while (PyDict_Next(dict, &position, &key, &value));
    return items;
}

/// Converts a dict, a mapping or an iterable of pairs into `maker`, in order (see
/// map_from). Errors are returned without a note.
Status convert_into(MapMaker& maker, PyObject* value) {
    if (PyDict_CheckExact(value)) {
        // Inert keys run no Python code, so while they last the dict cannot change and
        // is read in place. The first other key's __hash__ may change it: the rest is
        // snapshotted before that key is hashed, as the whole dict once was.
        maker.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(value)));
        Py_ssize_t position = 0;
        PyObject* key_object = nullptr;
        PyObject* object = nullptr;
        while (PyDict_Next(value, &position, &key_object, &object)) {
            if (!Key::is_inert_type(Py_TYPE(key_object))) [[unlikely]] {
                for (auto& [rest_key, rest_object] :
                     dict_snapshot(value, position, key_object, object)) {
                    auto key = Key::make(rest_key.get());
                    if (!key.ok()) {
                        return std::move(key).take_error();
                    }
                    maker.add(std::move(key).take_value(), std::move(rest_object));
                }
                return Unit{};
            }
            const Py_hash_t hash = PyObject_Hash(key_object);
            if (hash == -1) [[unlikely]] {
                return PendingError::fetch();
            }
            maker.add(Key(py::HeldRef::borrow(key_object), hash), py::HeldRef::borrow(object));
        }
        return Unit{};
    }
    if (is_mapping(value)) {
        py::Ref items = py::Ref::steal(PyMapping_Items(value));
        if (!items) {
            return PendingError::fetch();
        }
        const Py_ssize_t length_at_start = PyList_GET_SIZE(items.get());
        maker.reserve(static_cast<std::size_t>(length_at_start));
        for (Py_ssize_t i = 0; i < length_at_start && i < PyList_GET_SIZE(items.get()); ++i) {
            py::Ref item = py::Ref::borrow(PyList_GET_ITEM(items.get(), i));
            if (Status status = add_pair(maker, item.get()); !status.ok()) {
                return std::move(status).take_error();
            }
        }
        return Unit{};
    }
    maker.reserve(known_length(value));
    return for_each_item(value, [&](py::Ref item) { return add_pair(maker, item.get()); });
}

Outcome<py::Ref> map_result(MapValue map) {
    return new_instance(map_type(), std::move(map));
}

// ---------------------------------------------------------------- construction

constexpr std::string_view kValueParameter[] = {"value"};
constexpr ArgumentSpec kMapNew{"HashTrieMap", "__new__", kValueParameter, 0, 0};

/// The value and then the keywords go into one maker, so a call whose keys are all
/// inert builds its map in one go.
Outcome<py::Ref> map_new(PyTypeObject* type, const ParsedArgs& args) {
    MapMaker maker;
    PyObject* value = args[0];
    if (value != nullptr && value != Py_None) {
        if (Status converted = convert_into(maker, value); !converted.ok()) {
            return std::move(converted).take_error().with_note("value");
        }
    }
    if (PyObject* keywords = args.extra_keywords()) {
        Status status = insert_keywords(
            [&maker](Key key, py::HeldRef object) { maker.add(std::move(key), std::move(object)); },
            keywords);
        if (!status.ok()) {
            return std::move(status).take_error();
        }
    }
    return new_instance(type, std::move(maker).finish());
}

// ---------------------------------------------------------------- lookup

Outcome<py::Ref> map_getitem(PyObject* self, PyObject* key_object) {
    auto key = Key::make_argument(key_object, "key");
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    if (const auto* entry = map_of(self).lookup(key.value())) {
        return entry->value().ref();
    }
    return PendingError::object(PyExc_KeyError, py::Ref::borrow(key_object));
}

Outcome<bool> map_contains(PyObject* self, PyObject* key_object) {
    auto key = Key::make_argument(key_object, "key");
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    return map_of(self).contains(key.value());
}

Outcome<Py_ssize_t> map_len(PyObject* self) {
    const std::uint64_t size = map_of(self).size();
    if (size > static_cast<std::uint64_t>(PY_SSIZE_T_MAX)) {
        return PendingError::ready(py::Ref::steal(PyObject_CallNoArgs(PyExc_OverflowError)));
    }
    return static_cast<Py_ssize_t>(size);
}

constexpr std::string_view kGetParameters[] = {"key", "default"};
constexpr ArgumentSpec kMapGet{"HashTrieMap", "get", kGetParameters, 0, 1};

Outcome<py::Ref> map_get(PyObject* self, const ParsedArgs& args) {
    auto key = Key::make_argument(args[0], "key");
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    if (const auto* entry = map_of(self).lookup(key.value())) {
        return entry->value().ref();
    }
    return py::Ref::borrow(args.value_or_none_default(1, Py_None));
}

// ---------------------------------------------------------------- updates

constexpr std::string_view kInsertParameters[] = {"key", "value"};
constexpr ArgumentSpec kMapInsert{"HashTrieMap", "insert", kInsertParameters, 0, 2};

Outcome<py::Ref> map_insert(PyObject* self, const ParsedArgs& args) {
    auto key = Key::make_argument(args[0], "key");
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    return map_result(
        map_of(self).insert(std::move(key).take_value(), py::HeldRef::borrow(args[1])));
}

constexpr std::string_view kKeyParameter[] = {"key"};
constexpr ArgumentSpec kMapRemove{"HashTrieMap", "remove", kKeyParameter, 0, 1};
constexpr ArgumentSpec kMapDiscard{"HashTrieMap", "discard", kKeyParameter, 0, 1};

/// remove and discard: the key is looked up first, then removed, so a stored key's
/// __eq__ runs in both steps.
template <bool kMissingIsError>
Outcome<py::Ref> map_remove_key(PyObject* self, const ParsedArgs& args) {
    auto key = Key::make_argument(args[0], "key");
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    const MapValue& map = map_of(self);
    if (map.lookup(key.value()) != nullptr) {
        return map_result(map.remove(key.value()));
    }
    if constexpr (kMissingIsError) {
        return PendingError::object(PyExc_KeyError, py::Ref::borrow(args[0]));
    } else {
        return map_result(map);
    }
}

/// update(*maps, **kwds): each argument is converted into a map of its own and its
/// entries, in that map's order, are inserted into a copy of the receiver; keywords go
/// last. Later arguments win.
Outcome<py::Ref> map_update(PyObject* self, PyObject* maps, PyObject* keywords) {
    if (!PyTuple_Check(maps)) {
        return type_mismatch(maps, "tuple").with_note("maps");
    }
    if (keywords != nullptr && keywords != Py_None && !PyDict_Check(keywords)) {
        return type_mismatch(keywords, "dict").with_note("kwds");
    }
    MapValue result = map_of(self);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(maps); ++i) {
        auto converted = map_from(PyTuple_GET_ITEM(maps, i));
        if (!converted.ok()) {
            return std::move(converted).take_error();
        }
        const MapValue& argument = converted.value();
        Lookahead<MapValue> walk(argument);
        while (const auto* entry = walk.next()) {
            result.insert_in_place(entry->key(), entry->value());
        }
    }
    if (keywords != nullptr && keywords != Py_None) {
        Status status = insert_keywords(
            [&result](Key key, py::HeldRef object) {
                result.insert_in_place(std::move(key), std::move(object));
            },
            keywords);
        if (!status.ok()) {
            return std::move(status).take_error();
        }
    }
    return map_result(std::move(result));
}

constexpr ArgumentSpec kMapConvert{"HashTrieMap", "convert", kValueParameter, 0, 1};

Outcome<py::Ref> map_convert(PyObject* /*cls*/, const ParsedArgs& args) {
    PyObject* value = args[0];
    if (is_map_object(value)) {
        return py::Ref::borrow(value);
    }
    auto converted = map_from(value);
    if (!converted.ok()) {
        return std::move(converted).take_error();
    }
    return map_result(std::move(converted).take_value());
}

constexpr std::string_view kFromkeysParameters[] = {"keys", "val"};
constexpr ArgumentSpec kMapFromkeys{"HashTrieMap", "fromkeys", kFromkeysParameters, 0, 1};

Outcome<py::Ref> map_fromkeys(PyObject* /*cls*/, const ParsedArgs& args) {
    PyObject* value = args.value_or_none_default(1, Py_None);
    TrieMaker<MapValue> maker;
    maker.reserve(known_length(args[0]));
    Status built = for_each_item(args[0], [&](py::Ref item) -> Status {
        const Py_hash_t hash = PyObject_Hash(item.get());
        if (hash == -1) {
            return PendingError::fetch();
        }
        maker.add(Key(py::HeldRef::from(std::move(item)), hash), py::HeldRef::borrow(value));
        return Unit{};
    });
    if (!built.ok()) {
        return std::move(built).take_error();
    }
    return map_result(std::move(maker).finish());
}

// ---------------------------------------------------------------- protocols

/// "{K}: {V}" for every entry, from the objects' own __repr__ methods, or
/// "<repr error>" for one that fails.
Outcome<py::Ref> map_repr(PyObject* self) {
    std::string text = "HashTrieMap({";
    Lookahead<MapValue> walk(map_of(self));
    bool first = true;
    while (const auto* entry = walk.next()) {
        if (!first) {
            text += ", ";
        }
        first = false;
        if (!method_repr(entry->key().object(), text)) {
            text += "<repr error>";
        }
        text += ": ";
        if (!method_repr(entry->value().get(), text)) {
            text += "<repr error>";
        }
    }
    text += "})";
    return text_result(text);
}

/// == and !=: equal sizes, every key of self present in other, and every pair of values
/// equal by ==. A value comparison that raises counts as a difference; a key's failing
/// __eq__ raises.
Outcome<py::Ref> map_richcompare(PyObject* self, PyObject* other, int op) {
    if (!is_map_object(other) || (op != Py_EQ && op != Py_NE)) {
        return py::Ref::borrow(Py_NotImplemented);
    }
    const MapValue& a = map_of(self);
    const MapValue& b = map_of(other);
    const bool want_equal = op == Py_EQ;
    bool differ = a.size() != b.size();
    Lookahead<MapValue> walk(a);
    while (!differ) {
        const auto* entry = walk.next();
        if (entry == nullptr) {
            break;
        }
        const auto* found = b.lookup(entry->key());
        if (found == nullptr) {
            differ = true;
            break;
        }
        py::Ref result = py::Ref::steal(PyObject_RichCompare(
            entry->value().get(), found->value().get(), want_equal ? Py_EQ : Py_NE));
        const int truth = result ? PyObject_IsTrue(result.get()) : -1;
        if (truth < 0) {
            PyErr_Clear();
            differ = true;
        } else {
            differ = want_equal ? truth == 0 : truth == 1;
        }
    }
    return py::Ref::borrow(want_equal != differ ? Py_True : Py_False);
}

/// frozenset's hash over entry hashes: each entry is SipHash-1-3 (zero key) of the key's
/// cached hash and the value's hash, combined order-independently.
Outcome<Py_hash_t> map_hash(PyObject* self) {
    const MapValue& map = map_of(self);
    std::uint64_t acc = 0;
    Lookahead<MapValue> walk(map);
    while (const auto* entry = walk.next()) {
        PyObject* value = entry->value().get();
        const Py_hash_t value_hash = PyObject_Hash(value);
        if (value_hash == -1) [[unlikely]] {
            PyErr_Clear();
            return PendingError::message(
                PyExc_TypeError, "Unhashable type in HashTrieMap of key " +
                                     repr_or(entry->key().object(), "<repr> error") + ": " +
                                     repr_or(value, "<repr> error"));
        }
        SipHasher13 hasher(0, 0);
        hasher.write_u64(entry->key().hash_feed());
        hasher.write_u64(static_cast<std::uint64_t>(value_hash));
        acc ^= frozenset_shuffle(hasher.finish());
    }
    return frozenset_finish(acc, map.size());
}

Outcome<py::Ref> map_reduce(PyObject* self) {
    const MapValue& map = map_of(self);
    py::Ref items = py::Ref::steal(PyList_New(static_cast<Py_ssize_t>(map.size())));
    if (!items) {
        panic("could not build the pickled form of a HashTrieMap");
    }
    Py_ssize_t index = 0;
    Lookahead<MapValue> walk(map);
    while (const auto* entry = walk.next()) {
        PyObject* pair = PyTuple_Pack(2, entry->key().object(), entry->value().get());
        if (pair == nullptr) {
            panic("could not build the pickled form of a HashTrieMap");
        }
        PyList_SET_ITEM(items.get(), index++, pair);
    }
    py::Ref result =
        py::Ref::steal(Py_BuildValue("(O(N))", map_type(), items.release()));
    if (!result) {
        panic("could not build the pickled form of a HashTrieMap");
    }
    return result;
}

Outcome<py::Ref> map_iter(PyObject* self) { return make_keys_iterator(map_of(self)); }

PyMethodDef map_methods[] = {
    {"get", as_pycfunction(&fastcall<kMapGet, Extras::kNone, map_get>),
     METH_FASTCALL | METH_KEYWORDS, "get($self, key, default=None)\n--\n\n"},
    {"insert", as_pycfunction(&fastcall<kMapInsert, Extras::kNone, map_insert>),
     METH_FASTCALL | METH_KEYWORDS, "insert($self, key, value)\n--\n\n"},
    {"remove", as_pycfunction(&fastcall<kMapRemove, Extras::kNone, map_remove_key<true>>),
     METH_FASTCALL | METH_KEYWORDS, "remove($self, key)\n--\n\n"},
    {"discard", as_pycfunction(&fastcall<kMapDiscard, Extras::kNone, map_remove_key<false>>),
     METH_FASTCALL | METH_KEYWORDS, "discard($self, key)\n--\n\n"},
    {"update", as_pycfunction(&tuplecall<map_update>), METH_VARARGS | METH_KEYWORDS,
     "update($self, *maps, **kwds)\n--\n\n"},
    {"convert", as_pycfunction(&fastcall<kMapConvert, Extras::kNone, map_convert>),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, "convert($type, value)\n--\n\n"},
    {"fromkeys", as_pycfunction(&fastcall<kMapFromkeys, Extras::kNone, map_fromkeys>),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, "fromkeys($type, keys, val=None)\n--\n\n"},
    {"__reduce__", as_pycfunction(&noargs<map_reduce>), METH_NOARGS,
     "__reduce__($self)\n--\n\n"},
    {"keys", as_pycfunction(&noargs<map_keys>), METH_NOARGS, "keys($self)\n--\n\n"},
    {"values", as_pycfunction(&noargs<map_values>), METH_NOARGS, "values($self)\n--\n\n"},
    {"items", as_pycfunction(&noargs<map_items>), METH_NOARGS, "items($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot map_slots[] = {
    {Py_tp_new, as_slot(&constructor<kMapNew, Extras::kKwds, map_new>)},
    {Py_tp_methods, map_methods},
    {Py_mp_subscript, as_slot(&binary<map_getitem>)},
    {Py_sq_contains, as_slot(&contains<map_contains>)},
    {Py_mp_length, as_slot(&length<map_len>)},
    {Py_tp_repr, as_slot(&unary<map_repr>)},
    {Py_tp_richcompare, as_slot(&richcompare<map_richcompare>)},
    {Py_tp_hash, as_slot(&hash<map_hash>)},
    {Py_tp_iter, as_slot(&unary<map_iter>)},
    {0, nullptr},
};

}  // namespace

Outcome<MapValue> map_from(PyObject* value) {
    MapMaker maker;
    if (Status converted = convert_into(maker, value); !converted.ok()) {
        return std::move(converted).take_error();
    }
    return std::move(maker).finish();
}

Outcome<py::Ref> new_map_object(MapValue map) { return map_result(std::move(map)); }

bool is_map_object(PyObject* object) {
    return PyType_IsSubtype(Py_TYPE(object), map_type()) != 0;
}

const MapValue& map_value(PyObject* map_object) { return map_of(map_object); }

ClassSpec kHashTrieMapClass{"quil.HashTrieMap", "HashTrieMap(value=None, **kwds)\n--\n\n",
                            sizeof(Instance<MapValue>), map_slots, dealloc_instance<MapValue>,
                            {}};

}  // namespace quil
