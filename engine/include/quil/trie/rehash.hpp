// Rehashing a walk: the entries of one trie with their trie hashes under another map's
// HashBuilder, put in that map's trie order.
//
// Why. Set algebra on operands with different HashBuilders walks one operand and, for
// each of its entries, looks up, inserts or removes along a path of the other. In the
// walked operand's own order those paths are scattered over the other trie: every step
// starts with a cache miss per level, and a path copied for writing is usually evicted
// before the next step reaches it. In the other trie's order, consecutive steps share
// their upper levels, so the branches a step reads or copies are still in cache, and the
// nodes of a large result are copied once each, one after another.
//
// What changes and what does not. Each entry's hash under the other HashBuilder is
// computed once, here, and handed to the step (KnownHash), which then hashes nothing.
// The order is the other trie's order as far as its first digits, which is what makes
// steps share paths; beyond that, and among entries with one whole hash, the walked
// operand's order is kept (the sort is stable). Callers that reorder steps this
// way must know that steps on different hashes cannot observe each other: a step's
// outcome depends only on what the other trie holds under that step's hash, and only
// steps on that hash change it, and those keep their relative order. What they cannot
// get from here is the order of key comparisons, which differs: that is for the caller
// to make unobservable.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "quil/common/memory.hpp"
#include "quil/common/panic.hpp"
#include "quil/trie/bulk.hpp"
#include "quil/trie/hash_builder.hpp"
#include "quil/trie/insert.hpp"
#include "quil/trie/node.hpp"
#include "quil/trie/remove.hpp"
#include "quil/trie/trie.hpp"

namespace quil {

/// The entries of one trie, each with its hash under another HashBuilder, in the trie
/// order of those hashes as far as their first kSortedDigits digits (see the top of this
/// file). Borrows the walked trie's entries: it must stay alive and unchanged while this
/// is used.
template <class K, class V, Heap H>
class RehashedEntries {
public:
    using EntryType = Entry<K, V, H>;

    struct Item {
        std::uint64_t hash;  // under the other HashBuilder
        const EntryType* entry;
    };

    /// Items are ordered by their first two digits: steps on one second-level branch of
    /// the other trie then come together, so that branch and the entries below it are
    /// read (or copied) once and stay in cache for all of them. A third digit would need
    /// 2^18 counters, for little: below a second-level branch the paths of a 1 000 000-
    /// element trie are a few entries long.
    static constexpr unsigned kSortedDigits = 2;

    /// Walks `walked` and rehashes each entry under `target` with Hasher.
    template <TrieHasher Hasher>
    RehashedEntries(const TrieMap<K, V, Hasher, H>& walked, const HashBuilder& target)
        : items_(static_cast<std::size_t>(walked.size())),
          size_(static_cast<std::size_t>(walked.size())) {
        // One counting pass over two walks: the first hashes the entries, keeping only
        // the hashes, and counts them by order key; the second puts each item in its
        // place, which keeps their walk order among equal keys. (Keeping whole items from
        // the first walk instead would double the memory, and at 100 000 entries the
        // page faults of the larger allocation cost more than walking twice.)
        detail::RawArray<std::uint64_t, H> hashes(size_);
        detail::RawArray<std::size_t, H> starts(kKeys);
        std::size_t* start = starts.get();
        std::fill(start, start + kKeys, std::size_t{0});
        std::size_t n = 0;
        walked.for_each([&](const EntryType& entry) {
            const std::uint64_t hash = Hasher::hash(target, entry.key().hash_feed());
            hashes.get()[n++] = hash;
            ++start[order_key(hash)];
        });
        std::size_t next = 0;
        for (std::size_t key = 0; key < kKeys; ++key) {
            next += std::exchange(start[key], next);
        }
        std::size_t position = 0;
        walked.for_each([&](const EntryType& entry) {
            const std::uint64_t hash = hashes.get()[position];
            items_.get()[start[order_key(hash)]++] = Item{hash, &entry};
            ++position;
        });
    }
    RehashedEntries(const RehashedEntries&) = delete;
    RehashedEntries& operator=(const RehashedEntries&) = delete;

    std::size_t size() const noexcept { return size_; }
    const Item* begin() const noexcept { return items_.get(); }
    const Item* end() const noexcept { return items_.get() + size_; }
    /// Writable for RehashedMerge, which orders items further as it goes.
    Item* begin() noexcept { return items_.get(); }
    Item* end() noexcept { return items_.get() + size_; }

private:
    static constexpr std::size_t kKeys = std::size_t{1}
                                         << (kSortedDigits * detail::kBitsPerLevel);

    /// The first kSortedDigits digits of a hash, digit 0 most significant: comparing these
    /// compares hashes in trie order as far as those digits go.
    static std::size_t order_key(std::uint64_t hash) noexcept {
        std::size_t key = 0;
        for (unsigned depth = 0; depth < kSortedDigits; ++depth) {
            key = (key << detail::kBitsPerLevel) | detail::digit(hash, depth);
        }
        return key;
    }

    detail::RawArray<Item, H> items_;
    std::size_t size_;
};

}  // namespace quil

namespace quil {

namespace detail {

/// One slot of a working trie at one depth, offering the operations of a set record
/// (TrieMap) on that slot alone: a step of RehashedMerge sees this where the walk
/// algorithm's step sees the whole working record. Writes copy on first touch, as the
/// record's in-place operations do; `changed` and `delta` tell the merge what happened.
template <class K, TrieHasher Hasher, Heap H>
class SlotSteps {
public:
    using Ref = NodeRef<K, NoValue, H>;
    using EntryType = Entry<K, NoValue, H>;
    using Handle = EntryWithHash<K, NoValue, H>;
    using Branch = typename Ref::Branch;

    /// Steps on `slot` at `depth`; `inserts` is how many of them may insert, room a
    /// copied branch is given at once.
    SlotSteps(Ref& slot, unsigned depth, unsigned inserts,
              const TrieHashing<Hasher>& hashing) noexcept
        : slot_(slot), depth_(depth), inserts_(inserts), hashing_(hashing) {}

    /// TrieMap::lookup_unique_hash, from this slot.
    const EntryType* lookup_unique_hash(const K& key, KnownHash h) const {
        const auto found = find(key, h.value);
        return found.in_bucket ? nullptr : found.entry;
    }
    /// TrieMap::contains, from this slot.
    bool contains(const K& key, KnownHash h) const { return find(key, h.value).entry != nullptr; }

    /// TrieMap::insert_in_place, into this slot.
    bool insert_in_place(K key, KnownHash h) {
        Handle e = Handle::make(h.value, std::move(key), NoValue{});
        changed_ = true;
        if (slot_.is_null()) {
            slot_ = Ref(std::move(e));
            ++delta_;
            return true;
        }
        make_slot_writable();
        if (!insert_at(slot_, e, h.value, depth_, hashing_)) {
            return false;
        }
        ++delta_;
        return true;
    }

    /// TrieMap::remove_in_place, from this slot. An emptied slot is left null (or an
    /// empty branch): the merge drops it from its parent, as removal does.
    bool remove_in_place(const K& key, KnownHash h) {
        if (slot_.is_null()) {
            return false;
        }
        make_slot_writable();
        if (!remove_at(slot_, key, h.value, depth_, hashing_)) {
            return false;
        }
        changed_ = true;
        --delta_;
        return true;
    }

    bool changed() const noexcept { return changed_; }
    std::int64_t delta() const noexcept { return delta_; }

private:
    /// make_writable, except that a shared branch is copied with room for every insert
    /// the steps may make into it, so that it grows at most once.
    void make_slot_writable() {
        if (slot_.is_branch() && !slot_.is_unique_node()) {
            slot_ = Ref(Branch::copy_of(*slot_.branch(), inserts_));
        } else {
            make_writable(slot_);
        }
    }

    FoundBelow<K, NoValue, H> find(const K& key, std::uint64_t h) const {
        return find_below(slot_, key, h, depth_, hashing_);
    }

    Ref& slot_;
    unsigned depth_;
    unsigned inserts_;
    const TrieHashing<Hasher>& hashing_;
    bool changed_ = false;
    std::int64_t delta_ = 0;
};

/// Runs a step for every item of a RehashedEntries on a copy of a set: the result of
/// running each step on the whole copy, in the items' order, but made as a merge. Above
/// the depth the items are ordered to (RehashedEntries::kSortedDigits), each branch they
/// reach is split among its children by the items' digits, and made anew once, with
/// exactly the children it ends with. At that depth, and below any slot that is not a
/// branch (empty, a single entry, a bucket), the group's steps run on that slot alone
/// (SlotSteps), which copies a shared branch once, with room for the group's inserts.
/// Stepping from the root would descend from the top for every item and grow each
/// copied branch one child at a time. (A merge at every depth, each branch made anew
/// with exactly its children, measured 1.3x slower: grouping the few items below a
/// second-level branch costs more than the copy's spare room.)
///
/// Why this is the same. A step's work happens on its hash's path, below the slot the
/// merge hands it, and the merge keeps the items' relative order within every slot: in
/// particular, steps on one hash keep their order. The result is kept canonical as
/// removal keeps it (a branch below the root left empty goes, one left with a
/// single-entry leaf as its only child gives way to that leaf; the root too when
/// `compresses_root`, that is when the steps remove), and the shape of a canonical
/// trie depends only on the hashes it holds. The comparisons made differ in number and
/// order from those of stepping from the root: the caller makes them unobservable.
///
/// Failure. A step may throw (from equals or the heap). Only nodes made or copied here
/// are written, and they are held by NodeRefs on the C++ stack: unwinding releases
/// them, and the copied set is untouched.
template <class K, TrieHasher Hasher, Heap H, class Step, class PrefetchKey>
class RehashedMerge {
public:
    using Ref = NodeRef<K, NoValue, H>;
    using Branch = typename Ref::Branch;
    using Items = RehashedEntries<K, NoValue, H>;
    using Item = typename Items::Item;

    /// Steps for the items [first, last).
    RehashedMerge(const HashBuilder& builder, Item* last, bool compresses_root, Step& step,
                  PrefetchKey& prefetch_key) noexcept
        : hashing_{builder},
          end_(last),
          compresses_root_(compresses_root),
          step_(step),
          prefetch_key_(prefetch_key) {}

    /// The root the steps for items [first, last) make of `root`; the size changes by
    /// delta().
    Ref root(const Ref& root, Item* first, Item* last) {
        Merged merged = merge(root, first, last, 0);
        if (!merged.changed) {
            return root;
        }
        if (merged.node.is_null()) {
            return Ref(Branch::make(0));
        }
        return std::move(merged.node);
    }

    std::int64_t delta() const noexcept { return delta_; }

private:
    /// Entry blocks are asked for this many items ahead of the step, key objects (for
    /// PrefetchKey) half as many, once their block has arrived.
    static constexpr std::ptrdiff_t kEntriesAhead = 16;
    static constexpr std::ptrdiff_t kKeysAhead = 8;

    struct Merged {
        Ref node;
        bool changed = false;
    };

    Merged merge(const Ref& a, Item* first, Item* last, unsigned depth) {
        if (first == last) {
            return {};
        }
        // Items are grouped by their first kSortedDigits digits; below that a branch's
        // steps run on it together, and it is still one copy for all of them.
        if (!a.is_branch() || depth >= Items::kSortedDigits) {
            return replay(a, first, last, depth);
        }
        const auto digit_of = [depth](const Item& item) { return digit(item.hash, depth); };
        const Branch& left = *a.branch();
        std::array<Ref, kDegree> results;
        std::uint64_t changed = 0;
        std::uint64_t present = left.bitmap();
        while (first != last) {
            const unsigned i = digit_of(*first);
            Item* group_end = first + 1;
            while (group_end != last && digit_of(*group_end) == i) {
                ++group_end;
            }
            const Ref* child = left.get(i);
            Merged merged = merge(child != nullptr ? *child : absent_, first, group_end, depth + 1);
            first = group_end;
            if (!merged.changed) {
                continue;
            }
            const std::uint64_t bit = std::uint64_t{1} << i;
            changed |= bit;
            if (merged.node.is_null() ||
                (merged.node.is_branch() && merged.node.branch()->len == 0)) {
                present &= ~bit;
            } else {
                present |= bit;
                results[i] = std::move(merged.node);
            }
        }
        if (changed == 0) {
            return {};
        }
        const auto len = static_cast<unsigned>(std::popcount(present));
        if (len == 0) {
            return {Ref(), true};
        }
        if (len == 1 && (depth != 0 || compresses_root_)) {
            const auto i = static_cast<unsigned>(std::countr_zero(present));
            const Ref& only = (changed >> i) & 1u ? results[i] : *left.get(i);
            if (only.is_entry()) {
                return {only, true};
            }
        }
        Ref made(Branch::make(len));
        for (std::uint64_t bits = present; bits != 0; bits &= bits - 1) {
            const auto i = static_cast<unsigned>(std::countr_zero(bits));
            branch_set(made, i, (changed >> i) & 1u ? std::move(results[i]) : *left.get(i));
        }
        return {std::move(made), true};
    }

    /// The steps of items [first, last) on the slot holding `a`, at `depth`.
    Merged replay(const Ref& a, Item* first, Item* last, unsigned depth) {
        Ref slot = a;
        const auto inserts = static_cast<unsigned>(std::min<std::ptrdiff_t>(last - first, kDegree));
        SlotSteps<K, Hasher, H> steps(slot, depth, inserts, hashing_);
        for (Item* item = first; item != last; ++item) {
            if (end_ - item > kEntriesAhead) {
                __builtin_prefetch(item[kEntriesAhead].entry);
            }
            if (end_ - item > kKeysAhead) {
                prefetch_key_(item[kKeysAhead].entry->key());
            }
            step_(steps, *item);
        }
        delta_ += steps.delta();
        if (!steps.changed()) {
            return {};
        }
        return {std::move(slot), true};
    }

    TrieHashing<Hasher> hashing_;
    Item* end_;
    bool compresses_root_;
    Step& step_;
    PrefetchKey& prefetch_key_;
    std::int64_t delta_ = 0;
    const Ref absent_;
};

/// Friend of TrieMap: reads the copied set's root and makes the result.
template <TrieKey K, TrieHasher Hasher, Heap H>
struct RehashedMergeAccess {
    using Set = TrieSet<K, Hasher, H>;

    template <class Step, class PrefetchKey>
    static Set run(const Set& set, RehashedEntries<K, NoValue, H>& items, bool removes,
                   Step& step, PrefetchKey& prefetch_key) {
        RehashedMerge<K, Hasher, H, Step, PrefetchKey> merge(set.builder_, items.end(), removes,
                                                             step, prefetch_key);
        auto root = merge.root(set.root_, items.begin(), items.end());
        const auto size =
            static_cast<std::uint64_t>(static_cast<std::int64_t>(set.size_) + merge.delta());
        return Set(set.builder_, std::move(root), size);
    }
};

}  // namespace detail

/// What running `step(slots, item)` for every item of `items`, in order, on a copy of
/// `set` makes, where `slots` offers the set's lookup_unique_hash, contains,
/// insert_in_place and remove_in_place (with the item's KnownHash) on the part of the
/// copy the item's hash leads to (RehashedMerge says why this is the same). The items
/// must be rehashed under `set`'s HashBuilder; `removes` says whether any step may
/// remove. `prefetch_key(key)` is called a few items ahead of each step, for the steps'
/// sake.
template <TrieKey K, TrieHasher Hasher, Heap H, class Step, class PrefetchKey>
TrieSet<K, Hasher, H> merge_steps(const TrieSet<K, Hasher, H>& set,
                                  RehashedEntries<K, NoValue, H>& items, bool removes, Step step,
                                  PrefetchKey prefetch_key) {
    return detail::RehashedMergeAccess<K, Hasher, H>::run(set, items, removes, step,
                                                          prefetch_key);
}

}  // namespace quil
