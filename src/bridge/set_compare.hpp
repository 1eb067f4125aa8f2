// The comparison protocol HashTrieSet, KeysView and ItemsView share: against any
// collections.abc.Set, by length and containment, never NotImplemented. A class supplies
// a SetReceiver for its objects; compare_as_sets does the rest.
#pragma once

#include <Python.h>

#include <concepts>
#include <utility>

#include "bridge/key.hpp"
#include "bridge/walks.hpp"
#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

/// A receiver of the set comparisons: its size and its two containment tests.
template <class T>
concept SetReceiver = requires(const T& receiver, PyObject* other) {
    { receiver.size() } -> std::same_as<Py_ssize_t>;
    /// Every element of the receiver is in `other`, by `other`'s own membership test.
    { receiver.within(other) } -> std::same_as<Outcome<bool>>;
    /// Every item of `other` (iterated) belongs to the receiver.
    { receiver.holds_all_of(other) } -> std::same_as<Outcome<bool>>;
};

/// What decides `receiver op other` once `other` and the lengths have been looked at.
enum class SetVerdict {
    kFalse,                // `other` is not a Set, or the lengths rule the operator out
    kReceiverWithinOther,  // receiver.within(other) is the answer
    kOtherWithinReceiver,  // receiver.holds_all_of(other) is the answer
};

/// Reduces `receiver op other` for a receiver of `size` elements, for the five operators
/// other than !=. A non-Set `other` (by isinstance against collections.abc.Set, read
/// afresh: the module and its attribute may be replaced) gives kFalse; so does a length
/// that rules the operator out. `equality_walks_receiver` says which containment decides
/// ==. Errors of the import, isinstance and len are returned.
Outcome<SetVerdict> reduce_set_comparison(PyObject* other, int op, Py_ssize_t size,
                                          bool equality_walks_receiver);

/// receiver != other: the negation of ==, whatever == answers; its errors propagate.
Outcome<py::Ref> set_not_equal(PyObject* receiver, PyObject* other);

/// The rich comparison of a set-like object `self` whose elements `receiver` describes.
template <SetReceiver Receiver>
Outcome<py::Ref> compare_as_sets(PyObject* self, PyObject* other, int op,
                                 const Receiver& receiver, bool equality_walks_receiver) {
    if (op == Py_NE) {
        return set_not_equal(self, other);
    }
    auto verdict = reduce_set_comparison(other, op, receiver.size(), equality_walks_receiver);
    if (!verdict.ok()) {
        return std::move(verdict).take_error();
    }
    Outcome<bool> answer = false;
    switch (verdict.value()) {
        case SetVerdict::kFalse:
            break;
        case SetVerdict::kReceiverWithinOther:
            answer = receiver.within(other);
            break;
        case SetVerdict::kOtherWithinReceiver:
            answer = receiver.holds_all_of(other);
            break;
    }
    if (!answer.ok()) {
        return std::move(answer).take_error();
    }
    return py::Ref::borrow(answer.value() ? Py_True : Py_False);
}

// Building blocks for SetReceivers over trie records.

/// Whether every entry of `record`, as the object `element(entry)` gives (an
/// Outcome<py::Ref>), is in `other` by `other`'s own membership test (`in`).
template <class Record, class Element>
Outcome<bool> every_entry_in(const Record& record, PyObject* other, Element element) {
    Lookahead<Record> walk(record);
    while (const auto* entry = walk.next()) {
        Outcome<py::Ref> made = element(*entry);
        if (!made.ok()) {
            return std::move(made).take_error();
        }
        const int found = PySequence_Contains(other, made.value().get());
        if (found < 0) {
            return PendingError::fetch();
        }
        if (found == 0) {
            return false;
        }
    }
    return true;
}

/// The key object of an entry, for every_entry_in.
template <class Entry>
Outcome<py::Ref> key_object_of(const Entry& entry) {
    return py::Ref::borrow(entry.key().object());
}

/// Whether every item of `other` (iterated, each hashed) is a key of `record`.
template <class Record>
Outcome<bool> every_item_a_key_of(const Record& record, PyObject* other) {
    return all_items(other, [&](py::Ref item) -> Outcome<bool> {
        auto key = Key::make(item.get());
        if (!key.ok()) {
            return std::move(key).take_error();
        }
        return record.contains(key.value());
    });
}

}  // namespace quil
