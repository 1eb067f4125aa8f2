// HashTrieMap: construction, lookup, persistent updates, repr, equality, hash, pickling,
// and the keys(), values() and items() methods that make its views.
#include <Python.h>

#include <string>
#include <utility>
#include <vector>

#include "bridge/abc.hpp"
#include "bridge/bulk_insert.hpp"
#include "bridge/classes.hpp"
#include "bridge/copies.hpp"
#include "bridge/equality.hpp"
#include "bridge/hashing.hpp"
#include "bridge/records.hpp"
#include "bridge/repr.hpp"
#include "bridge/traverse.hpp"
#include "bridge/trie_methods.hpp"
#include "bridge/walks.hpp"
#include "quil/hash/siphash13.hpp"
#include "runtime/adapters.hpp"
#include "runtime/errors.hpp"

namespace quil {

namespace {

const MapRecord& map_of(PyObject* self) { return payload_of<MapRecord>(self); }

PyTypeObject* map_type() { return type_for_operation(kHashTrieMapClass); }

/// Whether `object` is a HashTrieMap (the class cannot be subclassed).
bool is_map_object(PyObject* object) { return Py_IS_TYPE(object, map_type()); }

/// (key, value) from a 2-tuple. Errors, hashing the key's included, carry no note.
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

using MapBulkInsert = BulkInsert<MapRecord>;

Status add_pair(MapBulkInsert& bulk, PyObject* item) {
    auto pair = pair_from(item);
    if (!pair.ok()) {
        return std::move(pair).take_error();
    }
    auto& [key, value] = pair.value();
    bulk.add(std::move(key), std::move(value));
    return Unit{};
}

/// Whether `value` is a mapping: a dict (by its type flag, calling nothing), or an
/// instance of collections.abc.Mapping. A failing isinstance check counts as "no" and
/// goes to the unraisable hook, unless its error may not be discarded: that is returned.
Outcome<bool> is_mapping(PyObject* value) {
    if (PyDict_Check(value)) {
        return true;
    }
    const int found = PyObject_IsInstance(value, abc_mapping());
    if (found < 0) {
        if (!raised_error_is_discardable()) {
            return PendingError::fetch();
        }
        PyErr_WriteUnraisable(value);
        return false;
    }
    return found == 1;
}

/// Hands every (name, object) of a keyword dict, in its order, to `insert` (which puts
/// them into a MapRecord or a MapBulkInsert). The dict is the call's own, but key
/// hashing and comparison run Python code, so it is watched for changes, and the name
/// and object are held: a name's __hash__ may empty the dict, dropping its references.
template <class Insert>
Status insert_keywords(Insert&& insert, PyObject* keywords) {
    const Py_ssize_t size = PyDict_GET_SIZE(keywords);
    Py_ssize_t position = 0;
    Py_ssize_t visited = 0;
    PyObject* name = nullptr;
    PyObject* object = nullptr;
    while (PyDict_Next(keywords, &position, &name, &object)) {
        const py::Ref held_name = py::Ref::borrow(name);
        py::Ref held_object = py::Ref::borrow(object);
        auto key = Key::make(held_name.get());
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

/// Converts a dict, a mapping or an iterable of pairs into `bulk`, in order (see
/// map_from). Errors are returned without a note.
Status convert_into(MapBulkInsert& bulk, PyObject* value) {
    if (PyDict_CheckExact(value)) {
        // Inert keys run no Python code, so while they last the dict cannot change and
        // is read in place. The first other key's __hash__ may change it: the rest is
        // snapshotted before that key is hashed, as the whole dict once was.
        bulk.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(value)));
        Py_ssize_t position = 0;
        PyObject* key_object = nullptr;
        PyObject* object = nullptr;
        while (PyDict_Next(value, &position, &key_object, &object)) {
            if (!Key::is_inert(Py_TYPE(key_object))) [[unlikely]] {
                for (auto& [rest_key, rest_object] :
                     dict_snapshot(value, position, key_object, object)) {
                    auto key = Key::make(rest_key.get());
                    if (!key.ok()) {
                        return std::move(key).take_error();
                    }
                    bulk.add(std::move(key).take_value(), std::move(rest_object));
                }
                return Unit{};
            }
            const Py_hash_t hash = PyObject_Hash(key_object);
            if (hash == -1) [[unlikely]] {
                return PendingError::fetch();
            }
            bulk.add(Key(py::HeldRef::borrow(key_object), hash), py::HeldRef::borrow(object));
        }
        return Unit{};
    }
    auto mapping = is_mapping(value);
    if (!mapping.ok()) {
        return std::move(mapping).take_error();
    }
    if (mapping.value()) {
        py::Ref items = py::Ref::steal(PyMapping_Items(value));
        if (!items) {
            return PendingError::fetch();
        }
        const Py_ssize_t length_at_start = PyList_GET_SIZE(items.get());
        bulk.reserve(static_cast<std::size_t>(length_at_start));
        for (Py_ssize_t i = 0; i < length_at_start && i < PyList_GET_SIZE(items.get()); ++i) {
            py::Ref item = py::Ref::borrow(PyList_GET_ITEM(items.get(), i));
            if (Status status = add_pair(bulk, item.get()); !status.ok()) {
                return std::move(status).take_error();
            }
        }
        return Unit{};
    }
    bulk.reserve(known_length(value));
    return for_each_item(value, [&](py::Ref item) { return add_pair(bulk, item.get()); });
}

/// A new map built from a mapping (a dict, or any collections.abc.Mapping, through its
/// items()) or from an iterable of (key, value) pairs; later pairs win. Errors are
/// returned without a note. `may_hold_tracked` is set when a key or value put in may be
/// tracked by the cyclic collector.
Outcome<MapRecord> map_from(PyObject* value, bool& may_hold_tracked) {
    MapBulkInsert bulk;
    if (Status converted = convert_into(bulk, value); !converted.ok()) {
        return std::move(converted).take_error();
    }
    may_hold_tracked = may_hold_tracked || bulk.may_hold_tracked();
    return std::move(bulk).finish();
}

/// A new HashTrieMap of `type`: the receiver's own type, or map_type() for the class
/// methods. Tracked when `tracked` says the map may hold a tracked object, unless it is
/// empty.
Outcome<py::Ref> map_result(PyTypeObject* type, MapRecord map, bool tracked) {
    const bool track = tracked && !map.is_empty();
    return new_instance(type, std::move(map), track);
}

// ---------------------------------------------------------------- construction

constexpr std::string_view kValueParameter[] = {"value"};
constexpr ArgumentSpec kMapNew{
    .class_name = "HashTrieMap",
    .method = "__new__",
    .parameters = kValueParameter,
    .required_positional = 0,
    .extras = Extras::kKwds,
};

/// The value and then the keywords go into one bulk insertion, so a call whose keys are
/// all inert builds its map in one go.
Outcome<py::Ref> map_new(PyTypeObject* type, const ParsedArgs& args) {
    MapBulkInsert bulk;
    PyObject* value = args[0];
    if (value != nullptr && value != Py_None) {
        if (Status converted = convert_into(bulk, value); !converted.ok()) {
            return std::move(converted).take_error().with_note("value");
        }
    }
    if (PyObject* keywords = args.extra_keywords()) {
        Status status = insert_keywords(
            [&bulk](Key key, py::HeldRef object) { bulk.add(std::move(key), std::move(object)); },
            keywords);
        if (!status.ok()) {
            return std::move(status).take_error();
        }
    }
    const bool tracked = bulk.may_hold_tracked();
    return map_result(type, std::move(bulk).finish(), tracked);
}

// ---------------------------------------------------------------- lookup

Outcome<py::Ref> map_getitem(PyObject* self, PyObject* key_object) {
    const Py_hash_t hash = PyObject_Hash(key_object);
    if (hash == -1) [[unlikely]] {
        return Key::argument_hash_failed("key");
    }
    const BorrowedKey key(key_object, hash);
    if (const auto* entry = map_of(self).lookup(key.get())) {
        return entry->value().ref();
    }
    return PendingError::object(PyExc_KeyError, py::Ref::borrow(key_object));
}

Outcome<bool> map_contains(PyObject* self, PyObject* key_object) {
    const Py_hash_t hash = PyObject_Hash(key_object);
    if (hash == -1) [[unlikely]] {
        return Key::argument_hash_failed("key");
    }
    return map_of(self).contains(BorrowedKey(key_object, hash).get());
}

Outcome<Py_ssize_t> map_len(PyObject* self) {
    const std::uint64_t size = map_of(self).size();
    if (size > static_cast<std::uint64_t>(PY_SSIZE_T_MAX)) {
        return PendingError::ready(py::Ref::steal(PyObject_CallNoArgs(PyExc_OverflowError)));
    }
    return static_cast<Py_ssize_t>(size);
}

constexpr std::string_view kGetParameters[] = {"key", "default"};
constexpr ArgumentSpec kMapGet{
    .class_name = "HashTrieMap",
    .method = "get",
    .parameters = kGetParameters,
    .required_positional = 1,
    .extras = Extras::kNone,
};

Outcome<py::Ref> map_get(PyObject* self, const ParsedArgs& args) {
    const Py_hash_t hash = PyObject_Hash(args[0]);
    if (hash == -1) [[unlikely]] {
        return Key::argument_hash_failed("key");
    }
    const BorrowedKey key(args[0], hash);
    if (const auto* entry = map_of(self).lookup(key.get())) {
        return entry->value().ref();
    }
    return py::Ref::borrow(args.value_or_none_default(1, Py_None));
}

// ---------------------------------------------------------------- updates

constexpr std::string_view kInsertParameters[] = {"key", "value"};
constexpr ArgumentSpec kMapInsert{
    .class_name = "HashTrieMap",
    .method = "insert",
    .parameters = kInsertParameters,
    .required_positional = 2,
    .extras = Extras::kNone,
};

Outcome<py::Ref> map_insert(PyObject* self, const ParsedArgs& args) {
    auto key = Key::make_argument(args[0], "key");
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    const bool tracked = may_be_tracked(args[1]) || may_be_tracked(args[0]) || is_tracked(self);
    return map_result(Py_TYPE(self),
                      map_of(self).insert(std::move(key).take_value(), py::HeldRef::borrow(args[1])),
                      tracked);
}

constexpr std::string_view kKeyParameter[] = {"key"};
constexpr ArgumentSpec kMapRemove{
    .class_name = "HashTrieMap",
    .method = "remove",
    .parameters = kKeyParameter,
    .required_positional = 1,
    .extras = Extras::kNone,
};
constexpr ArgumentSpec kMapDiscard{
    .class_name = "HashTrieMap",
    .method = "discard",
    .parameters = kKeyParameter,
    .required_positional = 1,
    .extras = Extras::kNone,
};

/// remove (kRaise) and discard (kIgnore); see without_key.
template <MissingKey kMissing>
Outcome<py::Ref> map_remove(PyObject* self, const ParsedArgs& args) {
    auto result = without_key(map_of(self), args[0], "key", kMissing);
    if (!result.ok()) {
        return std::move(result).take_error();
    }
    return map_result(Py_TYPE(self), std::move(result).take_value(), is_tracked(self));
}

/// update(*maps, **kwds): each argument is converted into a map of its own and its
/// entries, in that map's order, are inserted into `result`; keywords go last. Later
/// arguments win. What goes in is noted in `put_in`.
Outcome<MapRecord> update_in_place(MapRecord result, PyObject* maps, PyObject* keywords,
                                   PutIn& put_in) {
    if (!PyTuple_Check(maps)) {
        return type_mismatch(maps, "tuple").with_note("maps");
    }
    if (keywords != nullptr && keywords != Py_None && !PyDict_Check(keywords)) {
        return type_mismatch(keywords, "dict").with_note("kwds");
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(maps); ++i) {
        auto converted = map_from(PyTuple_GET_ITEM(maps, i), put_in.may_hold_tracked);
        if (!converted.ok()) {
            return std::move(converted).take_error();
        }
        const MapRecord& argument = converted.value();
        Lookahead<MapRecord> walk(argument);
        while (const auto* entry = walk.next()) {
            result.insert_in_place(entry->key(), entry->value());
        }
    }
    if (keywords != nullptr && keywords != Py_None) {
        Status status = insert_keywords(
            [&result, &put_in](Key key, py::HeldRef object) {
                put_in.key(key.object());
                put_in.value(object.get());
                result.insert_in_place(std::move(key), std::move(object));
            },
            keywords);
        if (!status.ok()) {
            return std::move(status).take_error();
        }
    }
    return result;
}

/// update(*maps, **kwds) into a copy of the receiver.
Outcome<py::Ref> map_update(PyObject* self, PyObject* maps, PyObject* keywords) {
    PutIn put_in;
    auto result = update_in_place(map_of(self), maps, keywords, put_in);
    if (!result.ok()) {
        return std::move(result).take_error();
    }
    return map_result(Py_TYPE(self), std::move(result).take_value(),
                      put_in.may_hold_tracked || is_tracked(self));
}

constexpr ArgumentSpec kMapConvert{
    .class_name = "HashTrieMap",
    .method = "convert",
    .parameters = kValueParameter,
    .required_positional = 1,
    .extras = Extras::kNone,
};

Outcome<py::Ref> map_convert(PyObject* /*cls*/, const ParsedArgs& args) {
    PyObject* value = args[0];
    if (is_map_object(value)) {
        return py::Ref::borrow(value);
    }
    bool tracked = false;
    auto converted = map_from(value, tracked);
    if (!converted.ok()) {
        return std::move(converted).take_error();
    }
    return map_result(map_type(), std::move(converted).take_value(), tracked);
}

constexpr std::string_view kFromkeysParameters[] = {"keys", "val"};
constexpr ArgumentSpec kMapFromkeys{
    .class_name = "HashTrieMap",
    .method = "fromkeys",
    .parameters = kFromkeysParameters,
    .required_positional = 1,
    .extras = Extras::kNone,
};

Outcome<py::Ref> map_fromkeys(PyObject* /*cls*/, const ParsedArgs& args) {
    PyObject* value = args.value_or_none_default(1, Py_None);
    MapBulkInsert bulk;
    bulk.reserve(known_length(args[0]));
    Status built = for_each_item(args[0], [&](py::Ref item) -> Status {
        const Py_hash_t hash = PyObject_Hash(item.get());
        if (hash == -1) {
            return PendingError::fetch();
        }
        bulk.add(Key(py::HeldRef::from(std::move(item)), hash), py::HeldRef::borrow(value));
        return Unit{};
    });
    if (!built.ok()) {
        return std::move(built).take_error();
    }
    const bool tracked = bulk.may_hold_tracked();
    return map_result(map_type(), std::move(bulk).finish(), tracked);
}

// ---------------------------------------------------------------- protocols

/// "{K}: {V}" for every entry, from the objects' own __repr__ methods, or
/// "<repr error>" for one that fails.
Outcome<py::Ref> map_repr(PyObject* self) {
    Lookahead<MapRecord> walk(map_of(self));
    return joined_repr(
        "HashTrieMap({", "})", [&walk] { return walk.next(); },
        [](std::string& text, const MapRecord::Entry* entry) -> Status {
            if (Status key = append_method_repr(text, entry->key().object(), "<repr error>");
                !key.ok()) {
                return key;
            }
            text += ": ";
            return append_method_repr(text, entry->value().get(), "<repr error>");
        });
}

/// == and !=: equal sizes, every key of self present in other, and every pair of values
/// equal by == (pairwise_equality). A key's failing __eq__ raises.
Outcome<py::Ref> map_richcompare(PyObject* self, PyObject* other, int op) {
    if (!Py_IS_TYPE(other, Py_TYPE(self)) || (op != Py_EQ && op != Py_NE)) {
        return py::Ref::borrow(Py_NotImplemented);
    }
    const MapRecord& a = map_of(self);
    const MapRecord& b = map_of(other);
    ProbingWalk<MapRecord, MapRecord> walk(a, b);
    return pairwise_equality(op, a.size() == b.size(),
                             [&walk]() -> std::pair<PyObject*, PyObject*> {
                                 const auto [entry, found] = walk.next();
                                 if (entry == nullptr) {
                                     return {};
                                 }
                                 return {entry->value().get(),
                                         found != nullptr ? found->value().get() : nullptr};
                             });
}

/// "Unhashable type in HashTrieMap of key {K}: {V}" for a value that failed to hash, its
/// error raised, in place of that error, unless it may not be discarded.
[[gnu::cold]] PendingError unhashable_value(PyObject* key, PyObject* value) {
    if (!raised_error_is_discardable()) {
        return PendingError::fetch();
    }
    PyErr_Clear();
    auto key_text = repr_or(key, "<repr> error");
    if (!key_text.ok()) {
        return std::move(key_text).take_error();
    }
    auto value_text = repr_or(value, "<repr> error");
    if (!value_text.ok()) {
        return std::move(value_text).take_error();
    }
    return PendingError::message(PyExc_TypeError, "Unhashable type in HashTrieMap of key " +
                                                      key_text.value() + ": " + value_text.value());
}

/// frozenset's hash over entry hashes: each entry is SipHash-1-3 (zero key) of the key's
/// cached hash and the value's hash, combined order-independently.
Outcome<Py_hash_t> map_hash(PyObject* self) {
    const MapRecord& map = map_of(self);
    std::uint64_t acc = 0;
    Lookahead<MapRecord> walk(map);
    while (const auto* entry = walk.next()) {
        PyObject* value = entry->value().get();
        const Py_hash_t value_hash = PyObject_Hash(value);
        if (value_hash == -1) [[unlikely]] {
            return unhashable_value(entry->key().object(), value);
        }
        SipHasher13 hasher(0, 0);
        hasher.write_u64(entry->key().hash_feed());
        hasher.write_u64(static_cast<std::uint64_t>(value_hash));
        acc ^= frozenset_shuffle(hasher.finish());
    }
    return frozenset_finish(acc, map.size());
}

Outcome<py::Ref> map_reduce(PyObject* self) {
    const MapRecord& map = map_of(self);
    py::Ref items = py::Ref::steal(PyList_New(static_cast<Py_ssize_t>(map.size())));
    if (!items) {
        return PendingError::fetch();
    }
    Py_ssize_t index = 0;
    Lookahead<MapRecord> walk(map);
    while (const auto* entry = walk.next()) {
        PyObject* pair = PyTuple_Pack(2, entry->key().object(), entry->value().get());
        if (pair == nullptr) {
            return PendingError::fetch();
        }
        PyList_SET_ITEM(items.get(), index++, pair);
    }
    py::Ref result = py::Ref::steal(Py_BuildValue("(O(N))", Py_TYPE(self), items.release()));
    if (!result) {
        return PendingError::fetch();
    }
    return result;
}

/// __deepcopy__(memo): each key, then its value, deep-copied entry by entry in iteration
/// order (as a dict's deep copy goes); see deep_copy. A new map keeps the receiver's
/// HashBuilder, so keys that copied to themselves keep their order; they keep their
/// cached hashes too, and only the keys that changed are hashed.
Outcome<py::Ref> map_deepcopy(PyObject* self, PyObject* memo) {
    const MapRecord& map = map_of(self);
    Lookahead<MapRecord> walk(map);
    const MapRecord::Entry* entry = nullptr;
    bool value_next = false;
    const auto next = [&]() -> PyObject* {
        if (value_next) {
            value_next = false;
            return entry->value().get();
        }
        entry = walk.next();
        value_next = entry != nullptr;
        return entry != nullptr ? entry->key().object() : nullptr;
    };
    const auto rebuild = [&map, self](std::vector<py::HeldRef> copies) -> Outcome<py::Ref> {
        MapRecord result = MapRecord::create(map.hash_builder());
        PutIn put_in;
        auto originals = map.iter();
        for (std::size_t i = 0; i + 1 < copies.size(); i += 2) {
            const Key& original = originals.next()->key();
            auto key = copies[i].get() == original.object() ? Outcome<Key>(Key(original))
                                                           : Key::make(copies[i].get());
            if (!key.ok()) {
                return std::move(key).take_error();
            }
            put_in.key(copies[i].get());
            put_in.value(copies[i + 1].get());
            result.insert_in_place(std::move(key).take_value(), std::move(copies[i + 1]));
        }
        return map_result(Py_TYPE(self), std::move(result), put_in.may_hold_tracked);
    };
    return deep_copy(self, memo, next, rebuild);
}

Outcome<py::Ref> map_mutate(PyObject* self) {
    return new_map_mutation(map_of(self), is_tracked(self));
}

Outcome<py::Ref> map_iter(PyObject* self) {
    return new_keys_iterator(map_of(self), is_tracked(self));
}

Outcome<py::Ref> map_keys(PyObject* self) { return new_keys_view(map_of(self), is_tracked(self)); }
Outcome<py::Ref> map_values(PyObject* self) {
    return new_values_view(map_of(self), is_tracked(self));
}
Outcome<py::Ref> map_items(PyObject* self) {
    return new_items_view(map_of(self), is_tracked(self));
}

PyMethodDef map_methods[] = {
    {"get", as_pycfunction(&fastcall<kMapGet, map_get>), METH_FASTCALL | METH_KEYWORDS,
     "get($self, key, default=None)\n--\n\n"},
    {"insert", as_pycfunction(&fastcall<kMapInsert, map_insert>), METH_FASTCALL | METH_KEYWORDS,
     "insert($self, key, value)\n--\n\n"},
    {"remove", as_pycfunction(&fastcall<kMapRemove, map_remove<MissingKey::kRaise>>),
     METH_FASTCALL | METH_KEYWORDS, "remove($self, key)\n--\n\n"},
    {"discard", as_pycfunction(&fastcall<kMapDiscard, map_remove<MissingKey::kIgnore>>),
     METH_FASTCALL | METH_KEYWORDS, "discard($self, key)\n--\n\n"},
    {"update", as_pycfunction(&tuplecall<map_update>), METH_VARARGS | METH_KEYWORDS,
     "update($self, *maps, **kwds)\n--\n\n"},
    {"convert", as_pycfunction(&fastcall<kMapConvert, map_convert>),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, "convert($type, value)\n--\n\n"},
    {"fromkeys", as_pycfunction(&fastcall<kMapFromkeys, map_fromkeys>),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, "fromkeys($type, keys, val=None)\n--\n\n"},
    {"__reduce__", as_pycfunction(&noargs<map_reduce>), METH_NOARGS,
     "__reduce__($self)\n--\n\n"},
    {"mutate", as_pycfunction(&noargs<map_mutate>), METH_NOARGS, "mutate($self)\n--\n\n"},
    {"__copy__", as_pycfunction(&noargs<copy_self>), METH_NOARGS, "__copy__($self)\n--\n\n"},
    {"__deepcopy__", as_pycfunction(&binary<map_deepcopy>), METH_O,
     "__deepcopy__($self, memo, /)\n--\n\n"},
    {"__class_getitem__", Py_GenericAlias, METH_O | METH_CLASS,
     "__class_getitem__($type, item, /)\n--\n\n"},
    {"keys", as_pycfunction(&noargs<map_keys>), METH_NOARGS, "keys($self)\n--\n\n"},
    {"values", as_pycfunction(&noargs<map_values>), METH_NOARGS, "values($self)\n--\n\n"},
    {"items", as_pycfunction(&noargs<map_items>), METH_NOARGS, "items($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot map_slots[] = {
    {Py_tp_new, as_slot(&constructor<kMapNew, map_new>)},
    {Py_tp_methods, map_methods},
    {Py_mp_subscript, as_slot(&binary<map_getitem>)},
    {Py_sq_contains, as_slot(&contains<map_contains>)},
    {Py_mp_length, as_slot(&length<map_len>)},
    {Py_tp_repr, as_slot(&repr<map_repr>)},
    {Py_tp_richcompare, as_slot(&richcompare<map_richcompare>)},
    {Py_tp_hash, as_slot(&hash<map_hash>)},
    {Py_tp_iter, as_slot(&unary<map_iter>)},
    {0, nullptr},
};

}  // namespace

ClassSpec kHashTrieMapClass{
    .qualified_name = "quil.HashTrieMap",
    .doc = "HashTrieMap(value=None, **kwds)\n--\n\n",
    .basic_size = sizeof(Instance<MapRecord>),
    .slots = map_slots,
    .dealloc = dealloc_instance<MapRecord>,
    .traverse = traverse_instance<MapRecord>,
    .immutable = true,
    .index = kHashTrieMapIndex,
};

Outcome<py::Ref> new_map_object(MapRecord map, bool tracked) {
    return map_result(map_type(), std::move(map), tracked);
}

Outcome<MapRecord> updated_map(MapRecord base, PyObject* maps, PyObject* keywords,
                               PutIn& put_in) {
    return update_in_place(std::move(base), maps, keywords, put_in);
}

}  // namespace quil
