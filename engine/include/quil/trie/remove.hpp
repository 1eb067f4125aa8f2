// Removal from the hash trie, and the compression on the way back up that keeps the
// shape invariants of the essay in trie.hpp. TrieMap::remove and remove_in_place call
// remove_at.
#pragma once

#include <bit>
#include <cstdint>

#include "quil/common/memory.hpp"
#include "quil/common/panic.hpp"
#include "quil/trie/node.hpp"

namespace quil::detail {

/// Compress the writable node in `slot` after a removal below it: a branch left with a
/// single child that is a single-entry leaf is replaced by that leaf. Branch and bucket
/// children are never lifted, so buckets stay at depth 11 and one-child chains above
/// them stay as they are.
template <class K, class V, Heap H>
void compress(NodeRef<K, V, H>& slot) {
    if (!slot.is_branch()) {
        return;
    }
    auto& branch = *slot.branch();
    if (branch.size() != 1) {
        return;
    }
    if (branch.len == 0) {
        panic(kMissingValue);
    }
    if (!branch.first().is_entry()) {
        return;
    }
    // The old branch (now holding only an empty slot) is released by the assignment.
    slot = NodeRef<K, V, H>(std::move(branch.first()));
}

/// Removes the entry for (key, h) under the writable slot `slot` at `depth`; true when
/// one was removed. A single-entry leaf that is removed leaves its slot null: the
/// parent drops the slot at once, and at the root the caller puts an empty branch there.
/// All or nothing, as insert_at is: before the removal commits, the only change is
/// make_writable's equal copies, and a bucket's shorter list is made aside; what
/// follows (dropping the slot, compress) cannot fail. A bucket may sit at any depth
/// (insert.hpp says how one comes to sit above depth 11).
template <class K, class V, Heap H, class Hashing>
bool remove_at(NodeRef<K, V, H>& slot, const K& key, std::uint64_t h, unsigned depth,
               const Hashing& hashing) {
    using Ref = NodeRef<K, V, H>;
    if (slot.is_branch()) {
        if (exhausted(depth)) {
            panic("hash cannot be exhausted if we are on a branch");
        }
        auto* branch = slot.branch();
        const unsigned i = digit(h, depth);
        Ref* child = branch->get(i);
        if (child == nullptr) {
            return false;
        }
        make_writable(*child);
        if (!remove_at(*child, key, h, depth + 1, hashing)) {
            // Nothing is compacted: the copies made on the way down are private to the
            // working record and go with it.
            return false;
        }
        if (child->is_null() || (child->is_branch() && child->branch()->size() == 0)) {
            branch->remove(i);
        }
        compress(slot);
        return true;
    }
    if (slot.is_entry()) {
        const Entry<K, V, H>& stored = *slot.entry();
        if (!hashing.matches(stored, h, key.hash_feed()) || !stored.key().equals(key)) {
            return false;
        }
        slot.reset();
        return true;
    }
    auto& bucket = *slot.collision();
    auto updated = without_first_match<K, V, H>(bucket.list, key, h, hashing);
    if (!updated.removed) {
        return false;
    }
    switch (updated.list.len()) {
        case 0:
            panic(
                "internal error: entered unreachable code: impossible to have collision with a "
                "single or no entry");
        case 1: {
            const EntryWithHash<K, V, H>* remaining = updated.list.first();
            if (remaining == nullptr) {
                panic(kMissingValue);
            }
            // The bucket becomes a single-entry leaf, which the levels above may lift.
            slot = Ref(EntryWithHash<K, V, H>(*remaining));
            break;
        }
        default:
            bucket.list = std::move(updated.list);
            break;
    }
    return true;
}

}  // namespace quil::detail
