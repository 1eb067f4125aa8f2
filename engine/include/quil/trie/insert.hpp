// Insertion into the hash trie: the recursive worker behind TrieMap::insert and
// insert_in_place, which splits single-entry leaves and fills collision buckets so that
// the shape invariants of the essay in trie.hpp hold.
#pragma once

#include <cstdint>
#include <utility>

#include "quil/common/memory.hpp"
#include "quil/common/panic.hpp"
#include "quil/trie/node.hpp"

namespace quil::detail {

/// Puts `child` at slot i of the writable branch in `slot`, which may move the branch
/// to a larger block.
template <class K, class V, Heap H>
void branch_set(NodeRef<K, V, H>& slot, unsigned i, NodeRef<K, V, H> child) {
    auto* branch = slot.branch();
    NodeRef<K, V, H>::Branch::set(branch, i, std::move(child));
    slot.rebind(branch);
}

template <class K, class V, Heap H, class Hashing>
bool insert_at(NodeRef<K, V, H>& slot, EntryWithHash<K, V, H>& e, std::uint64_t h,
               unsigned depth, const Hashing& hashing);

/// The branch rule: descend into the child at the entry's digit, or hang the entry
/// there as a new single-entry leaf. `h` is e's trie hash.
template <class K, class V, Heap H, class Hashing>
bool insert_into_branch(NodeRef<K, V, H>& slot, EntryWithHash<K, V, H>& e, std::uint64_t h,
                        unsigned depth, const Hashing& hashing) {
    if (exhausted(depth)) {
        panic("hash cannot be exhausted if we are on a branch");
    }
    const unsigned i = digit(h, depth);
    if (NodeRef<K, V, H>* child = slot.branch()->get(i)) {
        make_writable(*child);
        return insert_at(*child, e, h, depth + 1, hashing);
    }
    branch_set(slot, i, NodeRef<K, V, H>(std::move(e)));
    return true;
}

/// Bucket insert on a single-entry leaf: replace the entry when the key matches (the
/// new key object and value both win), otherwise start a bucket reading e, stored. The
/// bucket is made whole before it takes the leaf's place, so a failing allocation leaves
/// the slot as it was.
template <class K, class V, Heap H, class Hashing>
bool bucket_insert_single(NodeRef<K, V, H>& slot, EntryWithHash<K, V, H>& e, std::uint64_t h,
                          const Hashing& hashing) {
    const Entry<K, V, H>& stored = *slot.entry();
    if (hashing.matches(stored, h, e.key().hash_feed()) && stored.key().equals(e.key())) {
        slot = NodeRef<K, V, H>(std::move(e));
        return false;
    }
    auto* bucket = heap_new<Collision<K, V, H>, H>();
    NodeRef<K, V, H> collision(bucket);
    bucket->list.push_front_in_place(EntryWithHash<K, V, H>::share(stored));
    bucket->list.push_front_in_place(std::move(e));
    slot = std::move(collision);
    return true;
}

/// Bucket insert on a writable collision bucket: a matching entry is taken out, then e
/// goes in front, so the list is ordered by latest insertion. The new list is made aside
/// and replaces the bucket's only when complete.
template <class K, class V, Heap H, class Hashing>
bool bucket_insert_collision(Collision<K, V, H>& bucket, EntryWithHash<K, V, H>& e,
                             std::uint64_t h, const Hashing& hashing) {
    auto updated = without_first_match<K, V, H>(bucket.list, e.key(), h, hashing);
    updated.list.push_front_in_place(std::move(e));
    bucket.list = std::move(updated.list);
    return !updated.removed;
}

/// Inserts e, whose trie hash is h (moved out of `e` once it is placed), at the
/// writable slot `slot`, which sits at `depth`. True when the key was new.
///
/// All or nothing: until the last step, which cannot fail, the only change made to the
/// nodes reachable from `slot` is make_writable's replacement of a shared node by an
/// equal copy; every new node (a split's branch, a bucket, a bucket's new list) is built
/// aside and then moved into its slot. So if equals or the heap throws, the record still
/// holds what it held (insert_in_place keeps a mutation usable on that guarantee).
///
/// Every state a key's equality can lead to is a valid one. A key whose __eq__ changes
/// its answer between the contains test and the bucket insert can leave a bucket above
/// depth 11 (its entries share one whole hash; the bucket sits where they met) or at
/// the root; a later key of another hash that lands on such a bucket splits it as it
/// would split a leaf.
template <class K, class V, Heap H, class Hashing>
bool insert_at(NodeRef<K, V, H>& slot, EntryWithHash<K, V, H>& e, std::uint64_t h,
               unsigned depth, const Hashing& hashing) {
    using Ref = NodeRef<K, V, H>;
    if (slot.is_branch()) {
        return insert_into_branch(slot, e, h, depth, hashing);
    }
    const std::uint64_t feed = e.key().hash_feed();
    if (slot.is_entry()) {
        const Entry<K, V, H>& stored = *slot.entry();
        const bool contains = hashing.matches(stored, h, feed) && stored.key().equals(e.key());
        if (contains || exhausted(depth)) {
            return bucket_insert_single(slot, e, h, hashing);
        }
        // Split: a new branch holding the old entry at its digit, then e by the branch
        // rule. Shared digits descend into the old entry's new leaf, which splits in turn:
        // a chain of one-child branches down to the first differing digit (or to depth 10
        // and a bucket below it).
        // Note: the branch is made with the 4 slots an empty branch grows to on its
        // first child, saving the reallocation an empty one would need at once.
        Ref fresh(Ref::Branch::make(Ref::Branch::kMinGrowth));
        EntryWithHash<K, V, H> old = EntryWithHash<K, V, H>::share(stored);
        insert_into_branch(fresh, old, hashing.of(stored), depth, hashing);
        const bool added = insert_into_branch(fresh, e, h, depth, hashing);
        if (!added) {
            // The old key's __eq__ answered False above and True below: e replaced it
            // down the chain, whose only leaf is now e (each level below collapsed the
            // same way). The leaf stays a leaf.
            slot = std::move(fresh.branch()->first());
            return false;
        }
        slot = std::move(fresh);
        return true;
    }
    auto& bucket = *slot.collision();
    bool contains = false;
    for (const EntryWithHash<K, V, H>& element : bucket.list) {
        if (hashing.matches(element.entry(), h, feed) && element.key().equals(e.key())) {
            contains = true;
            break;
        }
    }
    const EntryWithHash<K, V, H>* first = bucket.list.first();
    if (first == nullptr) {
        panic(kMissingValue);
    }
    if (contains || exhausted(depth) || hashing.matches(first->entry(), h, feed)) {
        return bucket_insert_collision(bucket, e, h, hashing);
    }
    // A bucket above depth 11 meets a key of another hash: the bucket moves down under a
    // new branch at its digit, and e goes in by the branch rule, as in a split.
    Ref fresh(Ref::Branch::make(Ref::Branch::kMinGrowth));
    branch_set(fresh, digit(hashing.of(first->entry()), depth), Ref(slot));
    const bool added = insert_into_branch(fresh, e, h, depth, hashing);
    slot = std::move(fresh);
    return added;
}

}  // namespace quil::detail
