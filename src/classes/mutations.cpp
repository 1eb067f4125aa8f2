// HashTrieMapMutation and HashTrieSetMutation: what HashTrieMap.mutate() and
// HashTrieSet.mutate() return. A mutation changes a private record in place with the
// engine's _in_place operations, and finish() hands the record to a new map or set.
//
// Ownership. mutate() copies the collection's record (O(1): every node shared). The first
// update on a path copies the nodes it finds shared (make_writable), so the original never
// changes; those copies have count 1 and belong to the mutation alone, and later updates
// change them in place. finish() gives the record to a new collection in O(1) and drops
// the mutation's own: from then on its nodes are shared with whatever derives from that
// collection, so the mutation never touches a record again. It keeps only the collection
// it made, which finish() returns again, and refuses every other use with ValueError.
//
// Failure. The engine's in-place operations are all or nothing (trie/trie.hpp, Failure):
// when a key's __eq__ throws or memory runs out part way, the record still holds exactly
// what it held, so the mutation goes straight to its record and stays usable after the
// caller catches the error. update() is the one update that runs many insertions, and it
// works on a copy that replaces the record only when all of it succeeded, since an update
// is all or nothing as a whole.
//
// Re-entry. A key's __hash__ or __eq__ may call back into the mutation, and another thread
// may call it. Every method takes the mutation's exclusive use first and a second use
// meanwhile is refused with RuntimeError, so an engine operation never sees its record
// change under it.
//
// Garbage collection. A mutation is tracked from the moment it may hold an object the
// collector tracks, as a dict is: from its making when its collection is tracked, else from
// the first such key or value put in; it stays tracked, and so is what finish() makes from
// it. The collector sees what its record holds alone (nothing of the nodes it still shares
// with its collection) and the collection it finished. Unlike the immutable classes a
// mutation has a clear slot: `mm["me"] = mm` is a cycle through no other mutable object.
#include <Python.h>

#include <optional>
#include <string_view>
#include <utility>

#include "bridge/classes.hpp"
#include "bridge/key.hpp"
#include "bridge/records.hpp"
#include "bridge/traverse.hpp"
#include "runtime/adapters.hpp"
#include "runtime/attach.hpp"
#include "runtime/use_counter.hpp"

namespace quil {

namespace {

/// The payload of a mutation object.
template <class Record>
struct Mutation {
    explicit Mutation(Record source) : record(std::move(source)) {}
    Mutation(Mutation&& other) noexcept
        : record(std::move(other.record)), finished(std::move(other.finished)) {}

    /// The state being built; empty once finished.
    std::optional<Record> record;
    /// The collection finish() made; null until then.
    py::Ref finished;
    UseCounter uses;
};

using MapMutation = Mutation<MapRecord>;
using SetMutation = Mutation<SetRecord>;

/// What the collector sees of a mutation: what its record holds alone, and the collection
/// it finished.
template <class Record>
int visit_references(const Mutation<Record>& mutation, Visitor visit) noexcept {
    if (mutation.record) {
        if (const int result = visit_references(*mutation.record, visit); result != 0) {
            return result;
        }
    }
    return visit(mutation.finished.get());
}

/// tp_clear: drops the record and the finished collection, so the cycle through them is
/// broken. The fields are emptied before what they held is released, since the release may
/// run code that reaches the mutation: it then finds a finished mutation with nothing to
/// return, and every method raises ValueError.
template <class Record>
int mutation_clear(PyObject* self) noexcept {
    // The collector calls this outside any call frame: without the attachment the record's
    // references would wait on the deferred-release list, and the cycle would stay alive
    // until the next call into the module.
    AttachScope attach;
    auto& mutation = payload_of<Mutation<Record>>(self);
    std::optional<Record> record;
    record.swap(mutation.record);
    py::Ref finished = std::move(mutation.finished);
    return 0;
}

/// Has the collector track the mutation `self` once `may_hold_tracked` says what goes in may
/// be tracked; a tracked mutation stays tracked.
void track_when(PyObject* self, bool may_hold_tracked) noexcept {
    if (may_hold_tracked && !is_tracked(self)) {
        PyObject_GC_Track(self);
    }
}

/// Inserts `key` (and the value, for a map) into the mutation's record.
template <class Record, class... Value>
void insert(Mutation<Record>& mutation, Key key, Value&&... value) {
    mutation.record->insert_in_place(std::move(key), std::forward<Value>(value)...);
}

/// Removes `key` from the mutation's record if it is there: a lookup, then the removal,
/// as the persistent remove does (a stored key's __eq__ runs in both). Whether it was.
template <class Record>
bool remove(Mutation<Record>& mutation, const Key& key) {
    if (mutation.record->lookup(key) == nullptr) {
        return false;
    }
    mutation.record->remove_in_place(key);
    return true;
}

[[gnu::cold]] PendingError in_use() {
    return PendingError::message(PyExc_RuntimeError, "Already borrowed");
}

[[gnu::cold]] PendingError has_finished() {
    return PendingError::message(PyExc_ValueError, "mutation has finished");
}

/// Runs `body(mutation)` under the mutation's exclusive use, once it is known not to have
/// finished.
template <class Record, class Body>
auto with_mutation(PyObject* self, Body&& body)
    -> decltype(body(std::declval<Mutation<Record>&>())) {
    auto& mutation = payload_of<Mutation<Record>>(self);
    if (!mutation.uses.try_exclusive()) [[unlikely]] {
        return in_use();
    }
    ExclusiveUse end_use(mutation.uses);
    if (!mutation.record) [[unlikely]] {
        return has_finished();
    }
    return std::forward<Body>(body)(mutation);
}

py::Ref none() { return py::Ref::borrow(Py_None); }

/// `len()`: the record's size.
template <class Record>
Outcome<Py_ssize_t> mutation_len(PyObject* self) {
    return with_mutation<Record>(self, [](Mutation<Record>& mutation) -> Outcome<Py_ssize_t> {
        return static_cast<Py_ssize_t>(mutation.record->size());
    });
}

/// finish(): the new collection, made in O(1) on the first call and returned again on
/// every later one. The collection takes a copy of the record before the mutation drops
/// its own, so a collection that cannot be made leaves the mutation as it was.
template <class Record, Outcome<py::Ref> (*Make)(Record, bool)>
Outcome<py::Ref> mutation_finish(PyObject* self) {
    auto& mutation = payload_of<Mutation<Record>>(self);
    if (!mutation.uses.try_exclusive()) [[unlikely]] {
        return in_use();
    }
    ExclusiveUse end_use(mutation.uses);
    if (!mutation.finished) {
        if (!mutation.record) [[unlikely]] {
            return has_finished();  // cleared by the collector
        }
        auto made = Make(*mutation.record, is_tracked(self));
        if (!made.ok()) {
            return std::move(made).take_error();
        }
        mutation.record.reset();
        mutation.finished = std::move(made).take_value();
    }
    return py::Ref::borrow(mutation.finished.get());
}

/// __enter__: the mutation itself.
template <class Record>
Outcome<py::Ref> mutation_enter(PyObject* self) {
    return with_mutation<Record>(
        self, [self](Mutation<Record>&) -> Outcome<py::Ref> { return py::Ref::borrow(self); });
}

constexpr std::string_view kExitParameters[] = {"exc_type", "exc_value", "traceback"};

/// __exit__: finishes the mutation (a finished one stays as it is) and returns None, so an
/// exception leaving the block goes on.
template <class Record, Outcome<py::Ref> (*Make)(Record, bool)>
Outcome<py::Ref> mutation_exit(PyObject* self, const ParsedArgs& /*args*/) {
    auto finished = mutation_finish<Record, Make>(self);
    if (!finished.ok()) {
        return std::move(finished).take_error();
    }
    return none();
}

/// A mutation starting from `record`, tracked when its collection is (`tracked`).
template <class Record>
Outcome<py::Ref> new_mutation(ClassSpec& spec, Record record, bool tracked) {
    return new_instance(type_for_operation(spec), Mutation<Record>(std::move(record)), tracked);
}

// ---------------------------------------------------------------- HashTrieMapMutation

Outcome<py::Ref> map_mutation_getitem(PyObject* self, PyObject* key_object) {
    return with_mutation<MapRecord>(self, [key_object](MapMutation& mutation) -> Outcome<py::Ref> {
        auto key = Key::make_argument(key_object, "key");
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        if (const auto* entry = mutation.record->lookup(key.value())) {
            return entry->value().ref();
        }
        return PendingError::object(PyExc_KeyError, py::Ref::borrow(key_object));
    });
}

Outcome<bool> map_mutation_contains(PyObject* self, PyObject* key_object) {
    return with_mutation<MapRecord>(self, [key_object](MapMutation& mutation) -> Outcome<bool> {
        auto key = Key::make_argument(key_object, "key");
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        return mutation.record->contains(key.value());
    });
}

/// mm[key] = value, and del mm[key] (value null), which raises KeyError(key) for a key
/// that is absent.
Outcome<Unit> map_mutation_store(PyObject* self, PyObject* key_object, PyObject* value) {
    return with_mutation<MapRecord>(self, [=](MapMutation& mutation) -> Status {
        auto key = Key::make_argument(key_object, "key");
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        if (value != nullptr) {
            track_when(self, may_be_tracked(value) || may_be_tracked(key_object));
            insert(mutation, std::move(key).take_value(), py::HeldRef::borrow(value));
        } else if (!remove(mutation, key.value())) {
            return PendingError::object(PyExc_KeyError, py::Ref::borrow(key_object));
        }
        return Unit{};
    });
}

constexpr std::string_view kKeyParameter[] = {"key"};
constexpr std::string_view kKeyValueParameters[] = {"key", "value"};
constexpr std::string_view kKeyDefaultParameters[] = {"key", "default"};

constexpr ArgumentSpec kMapMutationGet{
    .class_name = "HashTrieMapMutation",
    .method = "get",
    .parameters = kKeyDefaultParameters,
    .required_positional = 1,
    .extras = Extras::kNone,
};

Outcome<py::Ref> map_mutation_get(PyObject* self, const ParsedArgs& args) {
    return with_mutation<MapRecord>(self, [&args](MapMutation& mutation) -> Outcome<py::Ref> {
        auto key = Key::make_argument(args[0], "key");
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        if (const auto* entry = mutation.record->lookup(key.value())) {
            return entry->value().ref();
        }
        return py::Ref::borrow(args.value_or_none_default(1, Py_None));
    });
}

constexpr ArgumentSpec kMapMutationSet{
    .class_name = "HashTrieMapMutation",
    .method = "set",
    .parameters = kKeyValueParameters,
    .required_positional = 2,
    .extras = Extras::kNone,
};

/// set(key, value): an equal key already present is replaced, key object and value.
Outcome<py::Ref> map_mutation_set(PyObject* self, const ParsedArgs& args) {
    return with_mutation<MapRecord>(self, [&](MapMutation& mutation) -> Outcome<py::Ref> {
        auto key = Key::make_argument(args[0], "key");
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        track_when(self, may_be_tracked(args[1]) || may_be_tracked(args[0]));
        insert(mutation, std::move(key).take_value(), py::HeldRef::borrow(args[1]));
        return none();
    });
}

constexpr ArgumentSpec kMapMutationRemove{
    .class_name = "HashTrieMapMutation",
    .method = "remove",
    .parameters = kKeyParameter,
    .required_positional = 1,
    .extras = Extras::kNone,
};
constexpr ArgumentSpec kMapMutationDiscard{
    .class_name = "HashTrieMapMutation",
    .method = "discard",
    .parameters = kKeyParameter,
    .required_positional = 1,
    .extras = Extras::kNone,
};

/// remove(key) (KeyError(key) when absent) and discard(key).
template <bool kRaise>
Outcome<py::Ref> map_mutation_remove(PyObject* self, const ParsedArgs& args) {
    return with_mutation<MapRecord>(self, [&args](MapMutation& mutation) -> Outcome<py::Ref> {
        auto key = Key::make_argument(args[0], "key");
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        if (!remove(mutation, key.value()) && kRaise) {
            return PendingError::object(PyExc_KeyError, py::Ref::borrow(args[0]));
        }
        return none();
    });
}

constexpr ArgumentSpec kMapMutationPop{
    .class_name = "HashTrieMapMutation",
    .method = "pop",
    .parameters = kKeyDefaultParameters,
    .required_positional = 1,
    .extras = Extras::kNone,
};

/// pop(key[, default]): the value removed, or `default` when the key is absent (given as
/// anything, None included), or KeyError(key) when no default was given.
Outcome<py::Ref> map_mutation_pop(PyObject* self, const ParsedArgs& args) {
    return with_mutation<MapRecord>(self, [&args](MapMutation& mutation) -> Outcome<py::Ref> {
        auto key = Key::make_argument(args[0], "key");
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        const auto* entry = mutation.record->lookup(key.value());
        if (entry == nullptr) {
            if (args[1] != nullptr) {
                return py::Ref::borrow(args[1]);
            }
            return PendingError::object(PyExc_KeyError, py::Ref::borrow(args[0]));
        }
        py::Ref value = entry->value().ref();  // the removal releases the entry
        mutation.record->remove_in_place(key.value());
        return value;
    });
}

/// update(*maps, **kwds): HashTrieMap.update's work on a copy of the record, which
/// replaces the record only when all of it succeeded: an error leaves the mutation as it
/// was.
Outcome<py::Ref> map_mutation_update(PyObject* self, PyObject* maps, PyObject* keywords) {
    return with_mutation<MapRecord>(self, [=](MapMutation& mutation) -> Outcome<py::Ref> {
        PutIn put_in;
        auto updated = updated_map(*mutation.record, maps, keywords, put_in);
        if (!updated.ok()) {
            return std::move(updated).take_error();
        }
        track_when(self, put_in.may_hold_tracked);
        *mutation.record = std::move(updated).take_value();
        return none();
    });
}

Outcome<py::Ref> map_mutation_finish(PyObject* self) {
    return mutation_finish<MapRecord, new_map_object>(self);
}

constexpr ArgumentSpec kMapMutationExit{
    .class_name = "HashTrieMapMutation",
    .method = "__exit__",
    .parameters = kExitParameters,
    .required_positional = 3,
    .extras = Extras::kNone,
};

PyMethodDef map_mutation_methods[] = {
    {"get", as_pycfunction(&fastcall<kMapMutationGet, map_mutation_get>),
     METH_FASTCALL | METH_KEYWORDS, "get($self, key, default=None)\n--\n\n"},
    {"set", as_pycfunction(&fastcall<kMapMutationSet, map_mutation_set>),
     METH_FASTCALL | METH_KEYWORDS, "set($self, key, value)\n--\n\n"},
    {"remove", as_pycfunction(&fastcall<kMapMutationRemove, map_mutation_remove<true>>),
     METH_FASTCALL | METH_KEYWORDS, "remove($self, key)\n--\n\n"},
    {"discard", as_pycfunction(&fastcall<kMapMutationDiscard, map_mutation_remove<false>>),
     METH_FASTCALL | METH_KEYWORDS, "discard($self, key)\n--\n\n"},
    {"pop", as_pycfunction(&fastcall<kMapMutationPop, map_mutation_pop>),
     METH_FASTCALL | METH_KEYWORDS, "pop($self, key, default=<unrepresentable>)\n--\n\n"},
    {"update", as_pycfunction(&tuplecall<map_mutation_update>), METH_VARARGS | METH_KEYWORDS,
     "update($self, *maps, **kwds)\n--\n\n"},
    {"finish", as_pycfunction(&noargs<map_mutation_finish>), METH_NOARGS, "finish($self)\n--\n\n"},
    {"__enter__", as_pycfunction(&noargs<mutation_enter<MapRecord>>), METH_NOARGS,
     "__enter__($self)\n--\n\n"},
    {"__exit__",
     as_pycfunction(&fastcall<kMapMutationExit, mutation_exit<MapRecord, new_map_object>>),
     METH_FASTCALL | METH_KEYWORDS, "__exit__($self, exc_type, exc_value, traceback)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot map_mutation_slots[] = {
    {Py_tp_methods, map_mutation_methods},
    {Py_tp_clear, as_slot(&mutation_clear<MapRecord>)},
    {Py_mp_subscript, as_slot(&binary<map_mutation_getitem>)},
    {Py_mp_ass_subscript, as_slot(&store<map_mutation_store>)},
    {Py_sq_contains, as_slot(&contains<map_mutation_contains>)},
    {Py_mp_length, as_slot(&length<mutation_len<MapRecord>>)},
    {Py_tp_hash, as_slot(&PyObject_HashNotImplemented)},
    {0, nullptr},
};

// ---------------------------------------------------------------- HashTrieSetMutation

Outcome<bool> set_mutation_contains(PyObject* self, PyObject* object) {
    return with_mutation<SetRecord>(self, [object](SetMutation& mutation) -> Outcome<bool> {
        auto key = Key::make_argument(object, "key");
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        return mutation.record->contains(key.value());
    });
}

constexpr std::string_view kValueParameter[] = {"value"};
constexpr ArgumentSpec kSetMutationAdd{
    .class_name = "HashTrieSetMutation",
    .method = "add",
    .parameters = kValueParameter,
    .required_positional = 1,
    .extras = Extras::kNone,
};
constexpr ArgumentSpec kSetMutationDiscard{
    .class_name = "HashTrieSetMutation",
    .method = "discard",
    .parameters = kValueParameter,
    .required_positional = 1,
    .extras = Extras::kNone,
};
constexpr ArgumentSpec kSetMutationRemove{
    .class_name = "HashTrieSetMutation",
    .method = "remove",
    .parameters = kValueParameter,
    .required_positional = 1,
    .extras = Extras::kNone,
};
constexpr ArgumentSpec kSetMutationUpdate{
    .class_name = "HashTrieSetMutation",
    .method = "update",
    .parameters = {},
    .required_positional = 0,
    .extras = Extras::kArgs,
};

/// add(value): an equal element already present is replaced by `value`.
Outcome<py::Ref> set_mutation_add(PyObject* self, const ParsedArgs& args) {
    return with_mutation<SetRecord>(self, [&](SetMutation& mutation) -> Outcome<py::Ref> {
        auto key = Key::make_argument(args[0], "value");
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        track_when(self, may_be_tracked(args[0]));
        insert(mutation, std::move(key).take_value());
        return none();
    });
}

/// remove(value) (KeyError(value) when absent) and discard(value).
template <bool kRaise>
Outcome<py::Ref> set_mutation_remove(PyObject* self, const ParsedArgs& args) {
    return with_mutation<SetRecord>(self, [&args](SetMutation& mutation) -> Outcome<py::Ref> {
        auto key = Key::make_argument(args[0], "value");
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        if (!remove(mutation, key.value()) && kRaise) {
            return PendingError::object(PyExc_KeyError, py::Ref::borrow(args[0]));
        }
        return none();
    });
}

/// update(*iterables): HashTrieSet.update's work on a copy of the record, which replaces
/// the record only when all of it succeeded.
Outcome<py::Ref> set_mutation_update(PyObject* self, const ParsedArgs& args) {
    return with_mutation<SetRecord>(self, [&](SetMutation& mutation) -> Outcome<py::Ref> {
        PutIn put_in;
        auto updated = updated_set(*mutation.record, args.extra_positional(), put_in);
        if (!updated.ok()) {
            return std::move(updated).take_error();
        }
        track_when(self, put_in.may_hold_tracked);
        *mutation.record = std::move(updated).take_value();
        return none();
    });
}

Outcome<py::Ref> set_mutation_finish(PyObject* self) {
    return mutation_finish<SetRecord, new_set_object>(self);
}

constexpr ArgumentSpec kSetMutationExit{
    .class_name = "HashTrieSetMutation",
    .method = "__exit__",
    .parameters = kExitParameters,
    .required_positional = 3,
    .extras = Extras::kNone,
};

PyMethodDef set_mutation_methods[] = {
    {"add", as_pycfunction(&fastcall<kSetMutationAdd, set_mutation_add>),
     METH_FASTCALL | METH_KEYWORDS, "add($self, value)\n--\n\n"},
    {"discard", as_pycfunction(&fastcall<kSetMutationDiscard, set_mutation_remove<false>>),
     METH_FASTCALL | METH_KEYWORDS, "discard($self, value)\n--\n\n"},
    {"remove", as_pycfunction(&fastcall<kSetMutationRemove, set_mutation_remove<true>>),
     METH_FASTCALL | METH_KEYWORDS, "remove($self, value)\n--\n\n"},
    {"update", as_pycfunction(&fastcall<kSetMutationUpdate, set_mutation_update>),
     METH_FASTCALL | METH_KEYWORDS, "update($self, *iterables)\n--\n\n"},
    {"finish", as_pycfunction(&noargs<set_mutation_finish>), METH_NOARGS, "finish($self)\n--\n\n"},
    {"__enter__", as_pycfunction(&noargs<mutation_enter<SetRecord>>), METH_NOARGS,
     "__enter__($self)\n--\n\n"},
    {"__exit__",
     as_pycfunction(&fastcall<kSetMutationExit, mutation_exit<SetRecord, new_set_object>>),
     METH_FASTCALL | METH_KEYWORDS, "__exit__($self, exc_type, exc_value, traceback)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot set_mutation_slots[] = {
    {Py_tp_methods, set_mutation_methods},
    {Py_tp_clear, as_slot(&mutation_clear<SetRecord>)},
    {Py_sq_contains, as_slot(&contains<set_mutation_contains>)},
    {Py_mp_length, as_slot(&length<mutation_len<SetRecord>>)},
    {Py_tp_hash, as_slot(&PyObject_HashNotImplemented)},
    {0, nullptr},
};

}  // namespace

ClassSpec kHashTrieMapMutationClass{
    .qualified_name = "quil.HashTrieMapMutation",
    .doc = nullptr,
    .basic_size = sizeof(Instance<MapMutation>),
    .slots = map_mutation_slots,
    .dealloc = dealloc_instance<MapMutation>,
    .traverse = traverse_instance<MapMutation>,
    .immutable = false,
    .index = kHashTrieMapMutationIndex,
};

ClassSpec kHashTrieSetMutationClass{
    .qualified_name = "quil.HashTrieSetMutation",
    .doc = nullptr,
    .basic_size = sizeof(Instance<SetMutation>),
    .slots = set_mutation_slots,
    .dealloc = dealloc_instance<SetMutation>,
    .traverse = traverse_instance<SetMutation>,
    .immutable = false,
    .index = kHashTrieSetMutationIndex,
};

Outcome<py::Ref> new_map_mutation(MapRecord map, bool tracked) {
    return new_mutation(kHashTrieMapMutationClass, std::move(map), tracked);
}

Outcome<py::Ref> new_set_mutation(SetRecord set, bool tracked) {
    return new_mutation(kHashTrieSetMutationClass, std::move(set), tracked);
}

}  // namespace quil
