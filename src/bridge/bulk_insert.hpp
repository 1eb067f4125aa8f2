// BulkInsert: how HashTrieMap and HashTrieSet make a new trie from items converted one at
// a time (construction, fromkeys, intersection), in bulk wherever no one can tell.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>

#include "bridge/key.hpp"
#include "quil/trie/hash_builder.hpp"
#include "runtime/tracking.hpp"

namespace quil {

/// Makes a new map or set record (Record) from items added in input order, under one
/// freshly drawn HashBuilder: the record that inserting them one by one would make.
/// While every key is inert (Key::is_inert) the items are only collected, then built at
/// once (TrieMap::build): no Python code runs in between, so no one can tell this from
/// insertion one by one. The first other key builds what was collected so far, and it
/// and every later item are inserted one by one, so each __hash__ and __eq__ of Python
/// code runs just where it always did.
template <class Record>
class BulkInsert {
public:
    BulkInsert() noexcept : builder_(HashBuilder::draw()) {}

    /// Room for `count` more items.
    void reserve(std::size_t count) {
        if (!one_by_one_) {
            items_.reserve(items_.size() + count);
        }
    }

    /// Adds (key, value), or the key alone for a set; takes them over.
    template <class... Rest>
    void add(Key&& key, Rest&&... value) {
        may_hold_tracked_ = may_hold_tracked_ || (may_be_tracked(value.get()) || ...);
        // An inert key's type has no collector support: only other keys are asked.
        if (!one_by_one_ && Key::is_inert(Py_TYPE(key.object()))) [[likely]] {
            items_.push(std::move(key), std::forward<Rest>(value)...);
            return;
        }
        may_hold_tracked_ = may_hold_tracked_ || may_be_tracked(key.object());
        insert_one(std::move(key), std::forward<Rest>(value)...);
    }

    /// Whether a key or value added so far may be tracked by the cyclic collector: the
    /// record finish() makes then may hold one (runtime/tracking.hpp).
    bool may_hold_tracked() const noexcept { return may_hold_tracked_; }

    Record finish() && {
        if (one_by_one_) {
            return std::move(*one_by_one_);
        }
        return Record::build(builder_, std::move(items_));
    }

private:
    template <class... Rest>
    [[gnu::noinline]] void insert_one(Key&& key, Rest&&... value) {
        if (!one_by_one_) {
            one_by_one_.emplace(Record::build(builder_, std::move(items_)));
        }
        one_by_one_->insert_in_place(std::move(key), std::forward<Rest>(value)...);
    }

    HashBuilder builder_;
    typename Record::Items items_;
    std::optional<Record> one_by_one_;  // set from the first key that is not inert
    bool may_hold_tracked_ = false;
};

}  // namespace quil
