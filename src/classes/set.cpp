// HashTrieSet: construction, membership, persistent updates, repr, hash, pickling, set
// algebra and comparisons. The views' algebra builds its results through set.hpp.
#include "classes/set.hpp"

#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>

#include "bridge/classes.hpp"
#include "bridge/hashing.hpp"
#include "bridge/iterate.hpp"
#include "bridge/lookahead.hpp"
#include "bridge/sequence.hpp"
#include "bridge/set_compare.hpp"
#include "classes/iterators.hpp"
#include "runtime/adapters.hpp"
#include "runtime/errors.hpp"

namespace quil {

namespace {

const SetValue& set_of(PyObject* self) { return payload_of<SetValue>(self); }

PyTypeObject* set_type() { return type_for_operation(kHashTrieSetClass); }

Outcome<py::Ref> set_result(SetValue set) { return new_instance(set_type(), std::move(set)); }

/// Builds a new set from elements given one at a time; all-inert input is built in one
/// go (see TrieMaker).
using SetMaker = TrieMaker<SetValue>;

/// Where the elements of an iterable go: a fresh set being made, or a working copy
/// changed in place. Either way an element equal to one already there replaces it.
void put(SetMaker& maker, Key key) { maker.add(std::move(key)); }
void put(SetValue& set, Key key) { set.insert_in_place(std::move(key)); }

/// Hashes `item` and puts it into `sink`; takes over the caller's reference.
template <class Sink>
Status put_item(Sink& sink, py::Ref item) {
    const Py_hash_t hash = PyObject_Hash(item.get());
    if (hash == -1) [[unlikely]] {
        return PendingError::fetch();
    }
    put(sink, Key(py::HeldRef::from(std::move(item)), hash));
    return Unit{};
}

/// Puts every element of `iterable` into `sink`, in iteration order. Errors are
/// returned without a note; the sink is then only fit to be released.
template <class Sink>
Status put_all(Sink& sink, PyObject* iterable) {
    if constexpr (std::is_same_v<Sink, SetMaker>) {
        sink.reserve(known_length(iterable));
    }
    return for_each_item(iterable,
                         [&](py::Ref item) { return put_item(sink, std::move(item)); });
}

// ---------------------------------------------------------------- construction

constexpr std::string_view kValueParameter[] = {"value"};
constexpr ArgumentSpec kSetNew{"HashTrieSet", "__new__", kValueParameter, 0, 0};

/// Every argument is iterated and hashed afresh, a HashTrieSet included: the new set
/// has its own HashBuilder, so nothing could be shared with the argument anyway.
Outcome<py::Ref> set_new(PyTypeObject* type, const ParsedArgs& args) {
    PyObject* value = args[0];
    if (value == nullptr || value == Py_None) {
        return new_instance(type, SetValue::create());
    }
    SetMaker maker;
    if (Status built = put_all(maker, value); !built.ok()) {
        return std::move(built).take_error().with_note("value");
    }
    return new_instance(type, std::move(maker).finish());
}

// ---------------------------------------------------------------- membership

Outcome<bool> set_contains(PyObject* self, PyObject* object) {
    auto key = Key::make_argument(object, "key");
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    return set_of(self).contains(key.value());
}

Outcome<Py_ssize_t> set_len(PyObject* self) { return static_cast<Py_ssize_t>(set_of(self).size()); }

Outcome<py::Ref> set_iter(PyObject* self) { return make_set_iterator(set_of(self)); }

// ---------------------------------------------------------------- updates

constexpr ArgumentSpec kSetInsert{"HashTrieSet", "insert", kValueParameter, 0, 1};
constexpr ArgumentSpec kSetDiscard{"HashTrieSet", "discard", kValueParameter, 0, 1};
constexpr ArgumentSpec kSetRemove{"HashTrieSet", "remove", kValueParameter, 0, 1};
constexpr ArgumentSpec kSetUpdate{"HashTrieSet", "update"};

/// The new object takes the place of an equal element already present.
Outcome<py::Ref> set_insert(PyObject* self, const ParsedArgs& args) {
    auto key = Key::make_argument(args[0], "value");
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    return set_result(set_of(self).insert(std::move(key).take_value()));
}

/// remove and discard look the element up, then remove it: a stored element's __eq__
/// runs in both steps. An absent element gives KeyError(value), or for discard a new
/// object sharing the receiver's record.
template <bool kMissingIsError>
Outcome<py::Ref> set_remove_element(PyObject* self, const ParsedArgs& args) {
    auto key = Key::make_argument(args[0], "value");
    if (!key.ok()) {
        return std::move(key).take_error();
    }
    const SetValue& set = set_of(self);
    if (set.lookup(key.value()) != nullptr) {
        return set_result(set.remove(key.value()));
    }
    if constexpr (kMissingIsError) {
        return PendingError::object(PyExc_KeyError, py::Ref::borrow(args[0]));
    } else {
        return set_result(set);
    }
}

/// update(*iterables): every element of every argument, in order, into a copy of the
/// receiver. Only paths still shared with the receiver are copied, each once.
Outcome<py::Ref> set_update(PyObject* self, const ParsedArgs& args) {
    SetValue result = set_of(self);
    for (PyObject* iterable : args.extra_positional()) {
        if (Status status = put_all(result, iterable); !status.ok()) {
            return std::move(status).take_error();
        }
    }
    return set_result(std::move(result));
}

// ---------------------------------------------------------------- protocols

Outcome<py::Ref> set_repr(PyObject* self) {
    Lookahead<SetValue> walk(set_of(self));
    return sequence_repr("HashTrieSet({", "})", [&walk]() -> PyObject* {
        const auto* entry = walk.next();
        return entry != nullptr ? entry->key().object() : nullptr;
    });
}

/// frozenset's hash of the cached element hashes: equal sets hash alike whatever their
/// HashBuilders, and hash(s) == hash(frozenset(s)). Runs no Python code.
Outcome<Py_hash_t> set_hash(PyObject* self) {
    const SetValue& set = set_of(self);
    std::uint64_t acc = 0;
    // Note: a plain walk. The hash reads only the entry blocks, so the lookahead's
    // prefetching of the element objects would be wasted traffic (measured slower).
    auto walk = set.iter();
    while (const auto* entry = walk.next()) {
        acc ^= frozenset_shuffle(static_cast<std::uint64_t>(entry->key().hash()));
    }
    return frozenset_finish(acc, set.size());
}

/// (HashTrieSet, ([elements in trie order],)): unpickling calls the constructor.
Outcome<py::Ref> set_reduce(PyObject* self) {
    const SetValue& set = set_of(self);
    py::Ref elements = py::Ref::steal(PyList_New(static_cast<Py_ssize_t>(set.size())));
    if (!elements) {
        panic("could not build the pickled form of a HashTrieSet");
    }
    Py_ssize_t index = 0;
    Lookahead<SetValue> walk(set);
    while (const auto* entry = walk.next()) {
        PyList_SET_ITEM(elements.get(), index++, Py_NewRef(entry->key().object()));
    }
    py::Ref result = py::Ref::steal(Py_BuildValue("(O(N))", set_type(), elements.release()));
    if (!result) {
        panic("could not build the pickled form of a HashTrieSet");
    }
    return result;
}

// ---------------------------------------------------------------- algebra
//
// Which record is copied and which is walked decides the result's HashBuilder (so its
// iteration order) and, where both operands hold equal elements, which object survives:
// an insertion replaces an equal stored element with the inserted object. Elements move
// as Keys with their cached hash; no element's __hash__ runs. The result is a record
// only the operation holds, so it is changed in place: each node it still shares with an
// operand is copied once, on first touch. The walks run ahead of the work (Lookahead),
// so the walked entries and their objects are already on their way into the cache.

/// Copies the larger operand and inserts the other's elements. On a tie o is copied and
/// s walked, so s's objects win. An element of a built-in type that equals itself (not a
/// float or complex, which may be NaN) whose very object the copy already holds as a
/// single leaf is left alone: re-inserting it would run no Python code, leave it where it
/// is and change nothing but the entry block (sets built from the same data share most
/// of their objects). Anywhere else the insertion runs: it can call __eq__, move the
/// element to the front of its collision bucket, or add a NaN a second time.
SetValue set_union(const SetValue& s, const SetValue& o) {
    const bool s_larger = s.size() > o.size();
    SetValue result = s_larger ? s : o;
    Lookahead<SetValue> walk(s_larger ? o : s);
    while (const auto* entry = walk.next()) {
        const Key& key = entry->key();
        if (Key::equal_to_itself_by_type(Py_TYPE(key.object()))) {
            const auto found = result.find(key);
            if (found.entry != nullptr && !found.in_bucket &&
                found.entry->key().object() == key.object()) {
                continue;
            }
        }
        result.insert_in_place(Key(key));
    }
    return result;
}

/// Walks the smaller operand (s on a tie) and keeps what the larger holds, in a fresh
/// record: the walked operand's objects, a new HashBuilder.
SetValue set_intersection(const SetValue& s, const SetValue& o) {
    const bool s_walked = s.size() <= o.size();
    const SetValue& walked = s_walked ? s : o;
    const SetValue& probed = s_walked ? o : s;
    SetMaker result;
    Lookahead<SetValue> walk(walked);
    while (const auto* entry = walk.next()) {
        if (probed.contains(entry->key())) {
            result.add(Key(entry->key()));
        }
    }
    return std::move(result).finish();
}

/// A copy of s without o's elements; the cost follows |o| whatever the sizes.
SetValue set_difference(const SetValue& s, const SetValue& o) {
    SetValue result = s;
    Lookahead<SetValue> walk(o);
    while (const auto* entry = walk.next()) {
        result.remove_in_place(entry->key());
    }
    return result;
}

/// Copies the larger operand (o on a tie) and toggles each element of the other one:
/// removed when the working copy holds it, inserted otherwise. For built-in value types
/// the removal itself is the membership test (one search instead of two); elements whose
/// comparison runs Python code are looked up first, so their __eq__ runs as often as
/// the test-then-toggle says.
SetValue set_symmetric_difference(const SetValue& s, const SetValue& o) {
    const bool s_larger = s.size() > o.size();
    SetValue result = s_larger ? s : o;
    Lookahead<SetValue> walk(s_larger ? o : s);
    while (const auto* entry = walk.next()) {
        const Key& key = entry->key();
        if (!key.self_comparison_runs_code()) {
            if (!result.remove_in_place(key)) {
                result.insert_in_place(Key(key));
            }
        } else if (result.contains(key)) {
            result.remove_in_place(key);
        } else {
            result.insert_in_place(Key(key));
        }
    }
    return result;
}

using Algebra = SetValue (*)(const SetValue&, const SetValue&);

/// The method form: `other` must be a HashTrieSet, else TypeError noting "other".
template <Algebra Operation>
Outcome<py::Ref> set_algebra_method(PyObject* self, const ParsedArgs& args) {
    PyObject* other = args[0];
    if (!is_set_object(other)) {
        return type_mismatch(other, "HashTrieSet").with_note("other");
    }
    return set_result(Operation(set_of(self), set_of(other)));
}

/// The operator form, entered for either operand order: anything but two HashTrieSets
/// is NotImplemented, so Python reports the unsupported operand types.
template <Algebra Operation>
Outcome<py::Ref> set_algebra_operator(PyObject* left, PyObject* right) {
    if (!is_set_object(left) || !is_set_object(right)) {
        return py::Ref::borrow(Py_NotImplemented);
    }
    return set_result(Operation(set_of(left), set_of(right)));
}

constexpr std::string_view kOtherParameter[] = {"other"};
constexpr ArgumentSpec kSetUnion{"HashTrieSet", "union", kOtherParameter, 0, 1};
constexpr ArgumentSpec kSetIntersection{"HashTrieSet", "intersection", kOtherParameter, 0, 1};
constexpr ArgumentSpec kSetDifference{"HashTrieSet", "difference", kOtherParameter, 0, 1};
constexpr ArgumentSpec kSetSymmetricDifference{"HashTrieSet", "symmetric_difference",
                                               kOtherParameter, 0, 1};

// ---------------------------------------------------------------- comparison

/// Whether every element of `set` is in `other` (`in` on other). Another HashTrieSet is
/// probed with the cached keys, so no element is hashed again.
Outcome<bool> is_subset_of(const SetValue& set, PyObject* other) {
    Lookahead<SetValue> walk(set);
    if (is_set_object(other)) {
        const SetValue& superset = set_of(other);
        while (const auto* entry = walk.next()) {
            if (!superset.contains(entry->key())) {
                return false;
            }
        }
        return true;
    }
    while (const auto* entry = walk.next()) {
        const int found = PySequence_Contains(other, entry->key().object());
        if (found < 0) {
            return PendingError::fetch();
        }
        if (found == 0) {
            return false;
        }
    }
    return true;
}

/// Whether every element of `other` (iterated) is in `set`.
Outcome<bool> is_superset_of(const SetValue& set, PyObject* other) {
    if (is_set_object(other)) {
        Lookahead<SetValue> walk(set_of(other));
        while (const auto* entry = walk.next()) {
            if (!set.contains(entry->key())) {
                return false;
            }
        }
        return true;
    }
    return all_items(other, [&](py::Ref item) -> Outcome<bool> {
        auto key = Key::make(item.get());
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        return set.contains(key.value());
    });
}

/// Set comparison against any collections.abc.Set; anything else compares False (never
/// NotImplemented), and != is always the negation of ==. Equality walks `other`.
Outcome<py::Ref> set_richcompare(PyObject* self, PyObject* other, int op) {
    if (op == Py_NE) {
        return set_not_equal(self, other);
    }
    const SetValue& set = set_of(self);
    auto comparison =
        reduce_set_comparison(other, op, static_cast<Py_ssize_t>(set.size()), false);
    if (!comparison.ok()) {
        return std::move(comparison).take_error();
    }
    const SetComparison how = comparison.value();
    if (how.answered) {
        return py::Ref::borrow(how.answer ? Py_True : Py_False);
    }
    auto contained = how.containment == Containment::kSelfInOther ? is_subset_of(set, other)
                                                                  : is_superset_of(set, other);
    if (!contained.ok()) {
        return std::move(contained).take_error();
    }
    return py::Ref::borrow(contained.value() ? Py_True : Py_False);
}

PyMethodDef set_methods[] = {
    {"insert", as_pycfunction(&fastcall<kSetInsert, Extras::kNone, set_insert>),
     METH_FASTCALL | METH_KEYWORDS, "insert($self, value)\n--\n\n"},
    {"discard", as_pycfunction(&fastcall<kSetDiscard, Extras::kNone, set_remove_element<false>>),
     METH_FASTCALL | METH_KEYWORDS, "discard($self, value)\n--\n\n"},
    {"remove", as_pycfunction(&fastcall<kSetRemove, Extras::kNone, set_remove_element<true>>),
     METH_FASTCALL | METH_KEYWORDS, "remove($self, value)\n--\n\n"},
    {"update", as_pycfunction(&fastcall<kSetUpdate, Extras::kArgs, set_update>),
     METH_FASTCALL | METH_KEYWORDS, "update($self, *iterables)\n--\n\n"},
    {"__reduce__", as_pycfunction(&noargs<set_reduce>), METH_NOARGS, "__reduce__($self)\n--\n\n"},
    {"difference",
     as_pycfunction(&fastcall<kSetDifference, Extras::kNone, set_algebra_method<set_difference>>),
     METH_FASTCALL | METH_KEYWORDS, "difference($self, other)\n--\n\n"},
    {"intersection",
     as_pycfunction(
         &fastcall<kSetIntersection, Extras::kNone, set_algebra_method<set_intersection>>),
     METH_FASTCALL | METH_KEYWORDS, "intersection($self, other)\n--\n\n"},
    {"symmetric_difference",
     as_pycfunction(&fastcall<kSetSymmetricDifference, Extras::kNone,
                              set_algebra_method<set_symmetric_difference>>),
     METH_FASTCALL | METH_KEYWORDS, "symmetric_difference($self, other)\n--\n\n"},
    {"union", as_pycfunction(&fastcall<kSetUnion, Extras::kNone, set_algebra_method<set_union>>),
     METH_FASTCALL | METH_KEYWORDS, "union($self, other)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot set_slots[] = {
    {Py_tp_new, as_slot(&constructor<kSetNew, Extras::kNone, set_new>)},
    {Py_tp_methods, set_methods},
    {Py_sq_contains, as_slot(&contains<set_contains>)},
    {Py_mp_length, as_slot(&length<set_len>)},
    {Py_tp_iter, as_slot(&unary<set_iter>)},
    {Py_tp_repr, as_slot(&unary<set_repr>)},
    {Py_tp_hash, as_slot(&hash<set_hash>)},
    {Py_tp_richcompare, as_slot(&richcompare<set_richcompare>)},
    {Py_nb_subtract, as_slot(&binary<set_algebra_operator<set_difference>>)},
    {Py_nb_and, as_slot(&binary<set_algebra_operator<set_intersection>>)},
    {Py_nb_xor, as_slot(&binary<set_algebra_operator<set_symmetric_difference>>)},
    {Py_nb_or, as_slot(&binary<set_algebra_operator<set_union>>)},
    {0, nullptr},
};

}  // namespace

Outcome<py::Ref> new_set_object(SetValue set) { return set_result(std::move(set)); }

bool is_set_object(PyObject* object) {
    PyTypeObject* type = set_type();
    return Py_TYPE(object) == type || PyType_IsSubtype(Py_TYPE(object), type) != 0;
}

const SetValue& set_value(PyObject* set_object) { return set_of(set_object); }

ClassSpec kHashTrieSetClass{"quil.HashTrieSet",         "HashTrieSet(value=None)\n--\n\n",
                            sizeof(Instance<SetValue>), set_slots,
                            dealloc_instance<SetValue>, {}};

}  // namespace quil
